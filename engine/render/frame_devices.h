#pragma once
// The device checks that both frame renderers (the render pass and the single back-buffer frame) make
// before they draw: devices made before their window had a size are reset to it, and each part's device
// is tested for loss, a pending reset or a changed multisample type.
#include "platform/win32/windef.h"
#include "platform/win32/winerror.h"

namespace LMK
{
class BackBuffer_;
class Device_;

// Resets every device of the back buffer's parts (and the primary device when asked) whose resize is
// pending to the back buffer's window. True when a reset succeeded: that frame is then not drawn. When
// every reset fails the back buffer's parts are rebuilt.
bool ResetResizedDevices(BackBuffer_* backBuffer, bool includePrimary);

// S_OK when the device can be drawn on; S_FALSE when it is lost or its reset failed (*resetFailed is
// then set for a failed reset). With a read-back the device is reset to single sampling first, as a
// locked back buffer must not be multisampled.
HRESULT CheckFrameDevice(Device_* device, bool readBack, bool* resetFailed);
} // namespace LMK
