// Graphics on a window's device context: drawing blends into the window's client surface.
#include "platform/gdiplus/graphics_target.h"
#include "platform/win32/gdi_dc.h"
#include "platform/win32/window_surface.h"
#include "platform/win32/winuser.h"

#include <algorithm>
#include <new>

namespace ferolt::gdiplus
{
namespace
{
Gdiplus::Status DrawToDc(HDC hdc, const uint32_t* argb, INT width, INT height, INT x, INT y)
{
    HWND hwnd = WindowFromDC(hdc);
    RECT clip;
    // Only window contexts reach a surface; the drawing stays inside the context's clip box (the
    // invalid part of a paint context).
    if (!hwnd || GetClipBox(hdc, &clip) == ERROR) return Gdiplus::InvalidParameter;
    win32::SurfaceView view;
    if (!win32::LockClientSurface(hwnd, &view)) return Gdiplus::InvalidParameter;
    const int64_t x0 = std::max<int64_t>({x, 0, clip.left}), y0 = std::max<int64_t>({y, 0, clip.top});
    const int64_t x1 = std::min<int64_t>({int64_t(x) + width, view.width, clip.right});
    const int64_t y1 = std::min<int64_t>({int64_t(y) + height, view.height, clip.bottom});
    for (int64_t ty = y0; ty < y1; ++ty)
    {
        uint32_t* row = view.pixels + ty * view.pitch;
        for (int64_t tx = x0; tx < x1; ++tx)
        {
            // The surface has no alpha: what is there counts as opaque.
            const uint32_t s = argb[size_t(ty - y) * UINT(width) + size_t(tx - x)];
            row[tx] = BlendOver(s, row[tx] | 0xFF000000u);
        }
    }
    RECT changed{LONG(x0), LONG(y0), LONG(std::max(x0, x1)), LONG(std::max(y0, y1))};
    win32::UnlockClientSurface(hwnd, &changed);
    return Gdiplus::Ok;
}
} // namespace
} // namespace ferolt::gdiplus

namespace Gdiplus
{
Graphics::Graphics(HDC hdc) : hdc_(hdc)
{
    ferolt::gdiplus::g_drawToDc.store(ferolt::gdiplus::DrawToDc);
    if (!hdc) SetStatus(InvalidParameter);
}

Graphics* Graphics::FromHDC(HDC hdc)
{
    return new (std::nothrow) Graphics(hdc);
}
} // namespace Gdiplus
