#pragma once
// The desktop backend: the layer's visible top-level windows as Qt 6 widgets.
#include "platform/win32/backend.h"

#include <memory>

class QWidget;

namespace ferolt::backend
{
// True when there is a display to show windows on (DISPLAY or WAYLAND_DISPLAY set, or a Qt
// platform plugin named in QT_QPA_PLATFORM).
bool DesktopDisplayAvailable();

// The Qt backend, installed for the calling thread (the destructor restores the built-in one),
// when a display is there; null otherwise, so the caller can fall back or report it.
std::unique_ptr<Backend> CreateDesktopBackend();

// The Qt backend whatever the environment says (tests run it on the offscreen platform).
std::unique_ptr<Backend> CreateQtBackend();

// The Qt window showing `hwnd`, or null (hidden and child windows, other backends).
QWidget* QtWindowOf(Backend* backend, HWND hwnd);
} // namespace ferolt::backend
