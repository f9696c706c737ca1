#pragma once
// What a backend (and a test) uses to drive the user layer: installing the backend, the virtual
// screen, and feeding the user's input. Everything here runs on the UI thread unless noted.
#include "platform/win32/winuser.h"
#include "platform/win32/backend.h"

#include <string>
#include <vector>

namespace ferolt::win32::host
{
// Installs the backend for the calling thread (the UI thread); null restores the built-in one,
// which shows nothing and answers every question with "cancel".
void SetBackend(backend::Backend* backend);
backend::Backend* GetBackend();

struct MonitorConfig
{
    RECT rect{};
    RECT work{}; // empty: same as rect
};
// The screen: one monitor must contain (0, 0) and becomes the primary one. Default: one
// 1920 x 1080 monitor at the origin.
void SetVirtualScreen(const std::vector<MonitorConfig>& monitors);

enum class Button
{
    Left,
    Right,
    Middle,
};

// Physical input, in screen coordinates. Mouse messages go to the capturing window, else to the
// window under the point; keys to the focus window. Each becomes a queued input message.
void MouseMove(POINT screen);
void MouseButton(Button button, bool down, POINT screen);
void MouseWheel(int delta, POINT screen);
void Key(UINT vk, bool down, UINT scanCode = 0, bool extended = false);

// The desktop moved or resized a top-level window (client area in screen coordinates), or asked
// to close it (the close button: WM_SYSCOMMAND SC_CLOSE, whose default sends WM_CLOSE).
void WindowMovedByUser(HWND hwnd, const RECT& client);
void CloseRequested(HWND hwnd);
void ActivatedByUser(HWND hwnd);

// Dialog controls, as the user changes them: each sends what the original control sends.
void ControlClicked(HWND control);                    // buttons, notifying statics
void EditChanged(HWND edit, const std::string& utf8); // new text, EN_CHANGE
void ComboSelected(HWND combo, int index);            // CBN_SELCHANGE
void FocusControl(HWND control);                      // EN_KILLFOCUS of the previous edit
} // namespace ferolt::win32::host

#define SC_CLOSE 0xF060
#define SC_KEYMENU 0xF100
