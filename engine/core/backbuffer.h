#pragma once
// A window's presentation target. It owns no surface: the window's screen rectangle, clipped to the
// monitors, is cut into parts, each rendered into the top-left corner of a device's back buffer and
// presented into its place in the window.
#include "platform/win32/windef.h"
#include "platform/win32/winerror.h"
#include "platform/d3d9/d3d9.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace LMK
{
class Device_;
class BackBufferPart_;

class BackBuffer_
{
public:
    // *detail: 0 built, -1 engine not started, -8 the client rectangle could not be read.
    BackBuffer_(HWND window, INT* detail);
    virtual ~BackBuffer_();
    BackBuffer_(const BackBuffer_&) = delete;
    BackBuffer_& operator=(const BackBuffer_&) = delete;

    void RebuildParts();
    // Re-reads the window's client rectangle (after its window was resized) and rebuilds.
    void Refresh();

    uint32_t refCount;
    HWND window;
    HMONITOR fullScreenMonitor;          // nothing sets it
    RECT clientRect;                     // screen coordinates
    std::vector<BackBufferPart_*> parts; // tile order

private:
    void AddPart(Device_* device, const RECT& tileRect, INT offsetX, INT offsetY);
    void ClearParts();
    void RebuildFullScreen(bool* done);
    void RebuildWindowed();

    std::vector<std::unique_ptr<BackBufferPart_>> partStore_; // what parts points at
};

class BackBufferPart_
{
public:
    BackBufferPart_(Device_* device, const RECT& tileRect, BackBuffer_* owner, INT offsetX, INT offsetY);
    virtual ~BackBufferPart_();
    BackBufferPart_(const BackBufferPart_&) = delete;
    BackBufferPart_& operator=(const BackBufferPart_&) = delete;

    // The Direct3D device that renders the part, or null.
    IDirect3DDevice9* GetD3DDevice() const;

    IDirect3DTexture9* mirrorTexture; // made by view rendering for semi-transparent mirrors
    Device_* device;
    BackBuffer_* owner;
    RECT tileRect;        // inside the device's back buffer
    RECT screenRect;      // the tile rectangle moved by the tile offset
    RECT sourceRect;      // {0, 0, tile width, tile height}: what is presented
    RECT destinationRect; // the screen rectangle in the owner window's client coordinates
    INT offsetX;
    INT offsetY;
    D3DVIEWPORT9 viewport;
    uint8_t busy; // set by a frame renderer while it draws the part; a nested pass skips a busy part
};
} // namespace LMK
