#pragma once
// Qt key events to the original platform's virtual-key codes.
#include "platform/win32/windef.h"

#include <QtCore/qnamespace.h>

namespace ferolt::backend::qt
{
struct KeyCode
{
    UINT vk = 0;       // 0: no virtual key for this event
    UINT scanCode = 0; // set-1 scan code when known
    bool extended = false;
};

// `nativeScanCode` is the X / evdev key code as Qt reports it on X11 and Wayland (evdev + 8), or 0.
// Letters, digits and named keys follow Qt's key (the layout decides them, as on the original);
// punctuation follows the physical key when it is known, because its Qt key depends on the layout.
KeyCode VirtualKeyFromQt(int qtKey, Qt::KeyboardModifiers modifiers, quint32 nativeScanCode);
} // namespace ferolt::backend::qt
