#pragma once
// Where the user layer's windows really appear. The layer owns all window state, the message
// queues and every modal loop; a backend shows top-level windows with their surfaces, reports the
// user's input, and answers the modal questions (popup menus, message boxes, file dialogs) and
// shows dialogs. The layer calls a backend on the thread that installed it, never with a lock held,
// so a backend may call any layer function from inside these calls. The exceptions are
// SurfaceChanged and Wake, which come from any thread; removing the backend (SetBackend on its own
// thread) waits until such calls from other threads have returned.
//
// Feeding input into the layer: ferolt::win32::host (platform/win32/user_host.h).
#include "platform/win32/windef.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ferolt::backend
{
// What a backend needs to show a window. Texts are UTF-8.
struct WindowState
{
    HWND parent = nullptr; // null for a top-level window
    HWND owner = nullptr;
    std::string className; // "Edit", "Static", "Button", "ComboBox", "#32770" for dialogs ...
    std::string title;
    uint32_t style = 0;
    uint32_t exStyle = 0;
    int controlId = 0;
    RECT window{}; // frame rectangle, screen coordinates
    RECT client{}; // client area, screen coordinates: the surface's size and place
    bool visible = false;
    bool enabled = true;
    HFONT font = nullptr; // WM_SETFONT; null: the desktop's default
    // Text colour the parent chose for a static control (WM_CTLCOLORSTATIC), as a COLORREF;
    // kDefaultTextColor until the control was first painted or when the parent left it alone.
    uint32_t textColor = 0xFFFFFFFF;
};
inline constexpr uint32_t kDefaultTextColor = 0xFFFFFFFF;

enum WindowChange : unsigned
{
    kChangedVisible = 1,
    kChangedPosition = 2,
    kChangedSize = 4,
    kChangedTitle = 8,
    kChangedEnabled = 16,
    kChangedStyle = 32,
    kChangedContent = 64, // control content: edit text, list items, selection, check, image
    kChangedFont = 128,
    kChangedTextColor = 256,
};

// A cursor: a system cursor (IDC_* number) or a cursor resource (the bytes of a .cur file, whose
// directory gives the hot spot).
struct CursorShape
{
    int systemId = 0;
    std::vector<uint8_t> image;
};

struct MenuItemModel
{
    uint32_t id = 0;
    std::string text; // a tab separates the accelerator text
    bool separator = false;
    bool checked = false;
    bool grayed = false;
    std::vector<MenuItemModel> submenu; // non-empty (or `popup`) for a submenu
    bool popup = false;
};

struct MessageBoxRequest
{
    HWND owner = nullptr;
    std::string text;
    std::string caption;
    uint32_t type = 0; // MB_* buttons and icon
};

struct FileFilter
{
    std::string description;
    std::string patterns; // "*.a;*.b"
};

struct FileDialogRequest
{
    HWND owner = nullptr;
    bool save = false;
    std::string title;
    std::vector<FileFilter> filters;
    int filterIndex = 0; // 0-based
    std::string initialDirectory;
    std::string initialName;
    std::string defaultExtension; // without the dot
    uint32_t flags = 0;           // OFN_*
};

// Given to every modal call. While the backend waits for the user it must call Pump() whenever
// its own event loop is idle (at the latest after MillisecondsToNextTimer()), so that the layer's
// sent, posted, paint and timer messages keep being dispatched; when Pump() returns false the
// modal operation has ended (dialog ended, owner destroyed or quit requested) and the call must
// return.
class ModalLoop
{
public:
    virtual ~ModalLoop() = default;
    virtual bool Pump() = 0;
    // -1 when no timer runs.
    virtual int MillisecondsToNextTimer() = 0;
};

class Backend
{
public:
    virtual ~Backend() = default;

    // Every window of the layer, children included (a backend shows only what it wants; hidden
    // windows never need to reach the desktop).
    virtual void WindowCreated(HWND hwnd, const WindowState& state) = 0;
    virtual void WindowChanged(HWND hwnd, const WindowState& state, unsigned changes) = 0;
    virtual void WindowDestroyed(HWND hwnd) = 0;
    // Pixels of a window's client surface changed (client coordinates); read them with
    // ferolt::win32::LockClientSurface. May be called on any thread that draws.
    virtual void SurfaceChanged(HWND hwnd, const RECT& area) = 0;

    virtual void CursorChanged(const CursorShape* shape) = 0; // null: no cursor
    virtual void CaptureChanged(HWND capture) = 0;            // null: released
    // The layer moved the keyboard focus (SetFocus, a dialog's tab order, a window going away).
    virtual void FocusChanged(HWND focus) = 0; // null: no window has it

    // The thread's queue is empty: wait up to `timeoutMs` (-1: until Wake) for the user's input
    // and feed it to the layer; return early on Wake.
    virtual void WaitForEvents(int timeoutMs) = 0;
    // Thread-safe: makes a WaitForEvents in progress return.
    virtual void Wake() = 0;
    // The thread's queue holds nothing for a PeekMessage: feed the input the desktop has queued by now,
    // without waiting, as the original's peek collects it. A loop that only peeks (a long computation
    // taking its window's messages) sees the user's keys and its paints reach the screen.
    virtual void PollEvents() {}

    // Modal calls; see ModalLoop.
    // The chosen command, or 0 when the menu was dismissed.
    virtual uint32_t ShowPopupMenu(const std::vector<MenuItemModel>& items, POINT screen, HWND owner,
                                   ModalLoop& loop) = 0;
    // The dialog window and its controls exist in the layer (WindowCreated told about them). The
    // backend shows them and reports the user's actions through ferolt::win32::host; it returns
    // when loop.Pump() returns false.
    virtual void RunDialog(HWND dialog, ModalLoop& loop) = 0;
    // IDOK, IDCANCEL, IDYES, IDNO ...
    virtual int ShowMessageBox(const MessageBoxRequest& request, ModalLoop& loop) = 0;
    // True with the chosen path (and the chosen filter, 0-based), false when cancelled.
    virtual bool ShowFileDialog(const FileDialogRequest& request, std::string* path, int* filterIndex,
                                ModalLoop& loop) = 0;

    // Return at once.
    virtual bool ShowHelp(HWND caller, const std::string& file) = 0;
    virtual bool ShellOpen(const std::string& target, const std::string& verb) = 0;
};
} // namespace ferolt::backend
