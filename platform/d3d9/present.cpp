// Present: copies the back buffer into a window's client surface. The only file that talks to windows.
#include <algorithm>
#include <cstring>

#include "platform/d3d9/device.h"
#include "platform/win32/window_surface.h"
#include "platform/win32/winuser.h"
#include "platform/d3d9/validation.h"

using ferolt::validation::Refuse;

namespace ferolt::d3d9
{
bool WindowClientSize(HWND window, UINT* width, UINT* height)
{
    RECT r;
    if (!window || !GetClientRect(window, &r)) return false;
    *width = static_cast<UINT>(std::max<LONG>(0, r.right - r.left));
    *height = static_cast<UINT>(std::max<LONG>(0, r.bottom - r.top));
    return true;
}

HMONITOR MonitorAt(const RECT& monitorRect)
{
    return MonitorFromPoint(POINT{monitorRect.left, monitorRect.top}, MONITOR_DEFAULTTOPRIMARY);
}

HRESULT Device::Present(const RECT* src, const RECT* dst, HWND override, const RGNDATA*)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (Lost()) return D3DERR_DEVICELOST;
    if (inScene_) return Refuse("Device.Present.WrongState");
    HWND window = override ? override : (pp_.hDeviceWindow ? pp_.hDeviceWindow : focus_);
    return PresentToWindow(src, dst, window);
}

HRESULT Device::PresentToWindow(const RECT* srcRect, const RECT* dstRect, HWND window)
{
    FlushDraws();
    if (!backBuffer_ || !window) return Refuse("Device.PresentToWindow.NullPointer");
    RECT s = {0, 0, backBuffer_->Width(), backBuffer_->Height()};
    if (srcRect)
    {
        s.left = std::max<LONG>(srcRect->left, 0);
        s.top = std::max<LONG>(srcRect->top, 0);
        s.right = std::min<LONG>(srcRect->right, backBuffer_->Width());
        s.bottom = std::min<LONG>(srcRect->bottom, backBuffer_->Height());
        if (s.left >= s.right || s.top >= s.bottom) return D3D_OK;
    }
    win32::SurfaceView view;
    if (!win32::LockClientSurface(window, &view)) return Refuse("Device.PresentToWindow.Locked");
    RECT d = dstRect ? *dstRect : RECT{0, 0, view.width, view.height};
    const int64_t dw = d.right - d.left, dh = d.bottom - d.top;
    const int64_t sw = s.right - s.left, sh = s.bottom - s.top;
    RECT changed = {std::max<LONG>(d.left, 0), std::max<LONG>(d.top, 0), std::min<LONG>(d.right, view.width),
                    std::min<LONG>(d.bottom, view.height)};
    if (dw > 0 && dh > 0 && changed.left < changed.right && changed.top < changed.bottom)
    {
        const D3DFORMAT f = backBuffer_->Desc().Format;
        const size_t bpp = backBuffer_->Info().bytes;
        // Rows one to one from a 32-bit buffer are its words with the alpha set, which is what ReadArgb
        // gives.
        const bool plainRows = sw == dw && (f == D3DFMT_A8R8G8B8 || f == D3DFMT_X8R8G8B8);
        auto copyRow = [&](LONG y)
        {
            // Nearest source pixel when the rectangles differ in size; a plain copy when they match.
            const LONG sy = s.top + static_cast<LONG>((y - d.top) * sh / dh);
            const uint8_t* srcRow = backBuffer_->Row(sy);
            uint32_t* out = view.pixels + static_cast<size_t>(y) * view.pitch;
            if (plainRows)
            {
                const uint8_t* from = srcRow + static_cast<size_t>(s.left + changed.left - d.left) * 4;
                for (LONG x = changed.left; x < changed.right; ++x, from += 4)
                {
                    uint32_t word;
                    std::memcpy(&word, from, 4);
                    out[x] = word | 0xff000000u;
                }
                return;
            }
            for (LONG x = changed.left; x < changed.right; ++x)
            {
                const LONG sx = s.left + static_cast<LONG>((x - d.left) * sw / dw);
                out[x] = ReadArgb(f, srcRow + sx * bpp) | 0xff000000u;
            }
        };
        // In parallel: a full-screen copy takes milliseconds on one thread.
        ForEachRow(changed.top, changed.bottom, copyRow);
    }
    else
    {
        changed = {0, 0, 0, 0};
    }
    win32::UnlockClientSurface(window, &changed);
    return D3D_OK;
}
} // namespace ferolt::d3d9
