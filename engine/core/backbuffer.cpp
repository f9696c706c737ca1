#include "engine/core/backbuffer.h"

#include "engine/core/devices.h"
#include "engine/core/globals.h"
#include "platform/win32/wingdi.h"
#include "platform/win32/winuser.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <type_traits>
#include <vector>

namespace LMK
{
namespace
{
bool ReadClientRectOnScreen(HWND window, RECT* rect)
{
    RECT client;
    if (!GetClientRect(window, &client)) return false;
    POINT corners[2] = {{client.left, client.top}, {client.right, client.bottom}};
    ClientToScreen(window, &corners[0]);
    ClientToScreen(window, &corners[1]);
    *rect = RECT{corners[0].x, corners[0].y, corners[1].x, corners[1].y};
    return true;
}

// The area of the device's back buffer that tiles are cut to. The rectangle holds the monitor's
// rectangle at creation, but a size fallback or a reset to a window writes a width and a height into its
// right and bottom; both readings agree only for a monitor at the origin. Tiles start at the buffer's
// top-left corner either way, and a size that is not positive gives no tile at all: stepping by it
// would never end the walk.
bool TileArea(const Device_& device, LONG* width, LONG* height)
{
    const RECT& r = device.backBufferRect;
    const int64_t w = static_cast<int64_t>(r.right) - r.left;
    const int64_t h = static_cast<int64_t>(r.bottom) - r.top;
    *width = static_cast<LONG>(w > 0 && w <= INT32_MAX ? w : r.right);
    *height = static_cast<LONG>(h > 0 && h <= INT32_MAX ? h : r.bottom);
    return *width > 0 && *height > 0;
}

// A region deleted at the end of its scope, also when memory runs out while it is in use.
struct RegionDeleter_
{
    void operator()(HRGN region) const { DeleteObject(region); }
};
using OwnedRegion = std::unique_ptr<std::remove_pointer_t<HRGN>, RegionDeleter_>;

// The rectangles of a region in region order.
std::vector<RECT> RegionRects(HRGN region)
{
    std::vector<RECT> rects;
    const DWORD size = GetRegionData(region, 0, nullptr);
    if (size < sizeof(RGNDATAHEADER)) return rects;
    std::vector<uint8_t> bytes(size);
    auto* data = reinterpret_cast<RGNDATA*>(bytes.data());
    if (GetRegionData(region, size, data) != size) return rects;
    const size_t room = (size - sizeof(RGNDATAHEADER)) / sizeof(RECT);
    const size_t count = data->rdh.nCount < room ? data->rdh.nCount : room;
    const uint8_t* first = bytes.data() + sizeof(RGNDATAHEADER);
    rects.resize(count);
    for (size_t i = 0; i < count; ++i)
        std::memcpy(&rects[i], first + i * sizeof(RECT), sizeof(RECT));
    return rects;
}
} // namespace

BackBuffer_::BackBuffer_(HWND window, INT* detail)
    : refCount(1), window(window), fullScreenMonitor(nullptr), clientRect{}
{
    INT result = -1;
    if (IsEngineStarted())
    {
        if (!ReadClientRectOnScreen(window, &clientRect))
        {
            result = -8;
        }
        else
        {
            RebuildParts(); // a throw here takes the parts made so far with their owner
            result = 0;
        }
    }
    if (detail) *detail = result;
}

BackBuffer_::~BackBuffer_()
{
    ClearParts();
}

void BackBuffer_::ClearParts()
{
    parts.clear();
    partStore_.clear();
}

void BackBuffer_::AddPart(Device_* device, const RECT& tileRect, INT offsetX, INT offsetY)
{
    // Room in both lists first, so that a part once made is always listed.
    parts.reserve(parts.size() + 1);
    partStore_.reserve(partStore_.size() + 1);
    partStore_.push_back(std::make_unique<BackBufferPart_>(device, tileRect, this, offsetX, offsetY));
    parts.push_back(partStore_.back().get());
}

void BackBuffer_::Refresh()
{
    RECT rect;
    if (!IsEngineStarted() || !ReadClientRectOnScreen(window, &rect)) return;
    clientRect = rect;
    RebuildParts();
}

void BackBuffer_::RebuildParts()
{
    ClearParts();
    if (!IsEngineStarted()) return;
    bool done = false;
    if (fullScreenMonitor) RebuildFullScreen(&done);
    if (!done) RebuildWindowed();
}

void BackBuffer_::RebuildFullScreen(bool* done)
{
    const AllDevices_& set = CurrentGlobals->devices;
    if (!set.d3d) return;
    for (Device_* device : set.requests.devices)
    {
        if (device->presentParams.Windowed ||
            set.d3d->GetAdapterMonitor(device->adapter) != fullScreenMonitor)
            continue;
        AddPart(device, device->backBufferRect, 0, 0);
        *done = true;
        return;
    }
}

void BackBuffer_::RebuildWindowed()
{
    const AllDevices_& set = CurrentGlobals->devices;
    Device_* primary = set.primaryDevice;
    LONG tileWidth = 0, tileHeight = 0;
    if (!primary || !set.monitorRegion || !TileArea(*primary, &tileWidth, &tileHeight)) return;

    const OwnedRegion windowRegion(CreateRectRgnIndirect(&clientRect));
    if (!windowRegion) return;
    RECT box{};
    if (CombineRgn(windowRegion.get(), windowRegion.get(), set.monitorRegion, RGN_AND) <= NULLREGION ||
        GetRgnBox(windowRegion.get(), &box) <= NULLREGION)
        return;
    const OwnedRegion tile(CreateRectRgn(0, 0, 0, 0));
    // Every part renders on the primary device; the other windowed devices serve no back buffer.
    for (int64_t y = box.top; y < box.bottom; y += tileHeight)
    {
        for (int64_t x = box.left; x < box.right; x += tileWidth)
        {
            const LONG dx = static_cast<LONG>(x), dy = static_cast<LONG>(y);
            OffsetRgn(windowRegion.get(), -dx, -dy);
            SetRectRgn(tile.get(), 0, 0, tileWidth, tileHeight);
            const int kind = CombineRgn(tile.get(), windowRegion.get(), tile.get(), RGN_AND);
            if (kind == SIMPLEREGION)
            {
                RECT r;
                GetRgnBox(tile.get(), &r);
                AddPart(primary, r, dx, dy);
            }
            else if (kind == COMPLEXREGION)
            {
                for (const RECT& r : RegionRects(tile.get()))
                    AddPart(primary, r, dx, dy);
            }
            OffsetRgn(windowRegion.get(), dx, dy);
        }
    }
}

BackBufferPart_::BackBufferPart_(Device_* device, const RECT& tileRect, BackBuffer_* owner, INT offsetX,
                                 INT offsetY)
    : mirrorTexture(nullptr), device(device), owner(owner),
      tileRect(tileRect), screenRect{tileRect.left + offsetX, tileRect.top + offsetY,
                                     tileRect.right + offsetX, tileRect.bottom + offsetY},
      sourceRect{0, 0, tileRect.right - tileRect.left, tileRect.bottom - tileRect.top}, destinationRect{},
      offsetX(offsetX), offsetY(offsetY), viewport{}, busy(0)
{
    POINT corners[2] = {{screenRect.left, screenRect.top}, {screenRect.right, screenRect.bottom}};
    if (owner)
    {
        ScreenToClient(owner->window, &corners[0]);
        ScreenToClient(owner->window, &corners[1]);
    }
    destinationRect = RECT{corners[0].x, corners[0].y, corners[1].x, corners[1].y};
    viewport.X = 0;
    viewport.Y = 0;
    viewport.Width = static_cast<DWORD>(sourceRect.right);
    viewport.Height = static_cast<DWORD>(sourceRect.bottom);
    viewport.MinZ = 0.0f;
    viewport.MaxZ = 1.0f;
}

BackBufferPart_::~BackBufferPart_()
{
    if (mirrorTexture) mirrorTexture->Release();
}

IDirect3DDevice9* BackBufferPart_::GetD3DDevice() const
{
    return device ? device->device : nullptr;
}
} // namespace LMK
