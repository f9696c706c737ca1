#pragma once
// The pixels a window shows. Every window of the layer owns a client-area surface of 32-bit
// X8R8G8B8 pixels (byte order B, G, R, X in memory, X always 0xFF so the
// pixels can be shown as opaque RGB32 without a conversion); Present and painting write into it and the
// backend shows it. Implemented by the user layer.
#include "platform/win32/windef.h"

namespace ferolt::win32
{
struct SurfaceView
{
    uint32_t* pixels = nullptr; // first pixel of the top row
    int width = 0;              // client width in pixels
    int height = 0;             // client height in pixels
    int pitch = 0;              // distance between rows, in pixels
};

// Locks the client surface of a window for writing. False when hwnd is not a window; a window
// with an empty client area gives a view of 0 x 0. The lock is held until UnlockClientSurface.
bool LockClientSurface(HWND hwnd, SurfaceView* out);

// Ends the lock; `changed` (client coordinates, may be null for all) is handed to the backend
// as the area to show again.
void UnlockClientSurface(HWND hwnd, const RECT* changed);
} // namespace ferolt::win32
