#pragma once
// The backend for tests: windows are pixel surfaces on the virtual screen, input is injected, and
// menus, dialogs, message boxes and file dialogs are answered from scripts queued beforehand.
// Every question asked is recorded; one that finds no answer is cancelled and counted in
// unanswered(), which tests expect to stay 0.
#include "platform/win32/backend.h"
#include "platform/win32/user_host.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace ferolt::backend
{
class HeadlessBackend : public Backend
{
public:
    // Installs itself as the calling thread's backend; the destructor restores the built-in one.
    HeadlessBackend();
    ~HeadlessBackend() override;
    HeadlessBackend(const HeadlessBackend&) = delete;
    HeadlessBackend& operator=(const HeadlessBackend&) = delete;

    // --- Scripts -----------------------------------------------------------------------------
    using MenuScript = std::function<uint32_t(const std::vector<MenuItemModel>& items, ModalLoop& loop)>;
    void AnswerMenu(uint32_t command); // 0 dismisses the menu
    void AnswerMenu(MenuScript script);

    // One dialog's answer: steps run in turn while the dialog is open, with the layer's messages
    // pumped after each. A dialog still open after its last step is cancelled (unanswered).
    using DialogStep = std::function<void(HWND dialog, ModalLoop& loop)>;
    void AnswerDialog(std::vector<DialogStep> steps);
    static DialogStep SetText(int controlId, std::string utf8); // focuses the edit, then types
    static DialogStep Click(int controlId);                     // focus moves first, as a mouse click does
    static DialogStep Select(int controlId, int index);
    static DialogStep Focus(int controlId);

    using MessageBoxScript = std::function<int(const MessageBoxRequest& request, ModalLoop& loop)>;
    void AnswerMessageBox(int id);
    void AnswerMessageBox(MessageBoxScript script);
    // nullopt cancels the dialog.
    void AnswerFileDialog(std::optional<std::string> path, int filterIndex = -1);

    // What the user does while a message loop waits: each wait runs the next step in place of
    // waiting, as a desktop feeds the input its own event loop delivered then.
    using WaitStep = std::function<void()>;
    void DuringWait(WaitStep step);

    // --- What happened -------------------------------------------------------------------------
    // WaitForEvents calls so far.
    int waits() const
    {
        std::lock_guard g(lock_);
        return waits_;
    }
    int unanswered() const { return unanswered_; }
    const std::vector<std::vector<MenuItemModel>>& menus() const { return menus_; }
    const std::vector<MessageBoxRequest>& messageBoxes() const { return messageBoxes_; }
    const std::vector<FileDialogRequest>& fileDialogs() const { return fileDialogs_; }
    const std::vector<std::string>& helpFiles() const { return helpFiles_; }
    const std::vector<std::string>& shellOpened() const { return shellOpened_; }
    const std::vector<HWND>& dialogs() const { return dialogs_; }
    const CursorShape* cursor() const { return haveCursor_ ? &cursor_ : nullptr; }
    HWND capture() const { return capture_; }
    // The focus as the layer last reported it, and how many times it reported a change.
    HWND focus() const { return focus_; }
    int focusChanges() const { return focusChanges_; }
    // Last known state of every live window.
    std::optional<WindowState> Window(HWND hwnd) const;
    std::vector<HWND> VisibleTopLevelWindows() const;
    int surfaceUpdates(HWND hwnd) const;

    // --- Pixels --------------------------------------------------------------------------------
    // The client surface as X8R8G8B8 rows; false when hwnd is not a window.
    bool ReadPixels(HWND hwnd, std::vector<uint32_t>* pixels, int* width, int* height) const;
    // 0xFFFFFFFF outside the surface.
    uint32_t Pixel(HWND hwnd, int x, int y) const;

    // --- Input (client coordinates of hwnd) ----------------------------------------------------
    void MouseMove(HWND hwnd, POINT client);
    void MouseDown(HWND hwnd, POINT client, win32::host::Button button = win32::host::Button::Left);
    void MouseUp(HWND hwnd, POINT client, win32::host::Button button = win32::host::Button::Left);
    void Click(HWND hwnd, POINT client, win32::host::Button button = win32::host::Button::Left);
    void Wheel(HWND hwnd, POINT client, int delta);
    void KeyDown(UINT vk);
    void KeyUp(UINT vk);
    void KeyPress(UINT vk);

    // Dispatches everything the thread's queue holds, paint and due timers included, until it is
    // empty; returns the number of messages dispatched (capped against endless repaints).
    int RunPending(int limit = 100000);
    // With the kernel's manual clock: advances it in steps of at most `step` ms for `ms` in all,
    // running pending messages after each step.
    void AdvanceAndRun(uint32_t ms, uint32_t step = 1);

    // --- Backend -------------------------------------------------------------------------------
    void WindowCreated(HWND hwnd, const WindowState& state) override;
    void WindowChanged(HWND hwnd, const WindowState& state, unsigned changes) override;
    void WindowDestroyed(HWND hwnd) override;
    void SurfaceChanged(HWND hwnd, const RECT& area) override;
    void CursorChanged(const CursorShape* shape) override;
    void CaptureChanged(HWND capture) override;
    void FocusChanged(HWND focus) override;
    void WaitForEvents(int timeoutMs) override;
    void Wake() override;
    uint32_t ShowPopupMenu(const std::vector<MenuItemModel>& items, POINT screen, HWND owner,
                           ModalLoop& loop) override;
    void RunDialog(HWND dialog, ModalLoop& loop) override;
    int ShowMessageBox(const MessageBoxRequest& request, ModalLoop& loop) override;
    bool ShowFileDialog(const FileDialogRequest& request, std::string* path, int* filterIndex,
                        ModalLoop& loop) override;
    bool ShowHelp(HWND caller, const std::string& file) override;
    bool ShellOpen(const std::string& target, const std::string& verb) override;

private:
    POINT ToScreen(HWND hwnd, POINT client) const;

    mutable std::mutex lock_;
    std::condition_variable wake_;
    bool woken_ = false;
    std::map<HWND, WindowState> windows_;
    std::map<HWND, int> surfaceUpdates_;
    std::deque<MenuScript> menuAnswers_;
    std::deque<std::vector<DialogStep>> dialogAnswers_;
    std::deque<MessageBoxScript> messageBoxAnswers_;
    std::deque<std::pair<std::optional<std::string>, int>> fileAnswers_;
    std::deque<WaitStep> waitSteps_;
    int waits_ = 0;
    std::vector<std::vector<MenuItemModel>> menus_;
    std::vector<MessageBoxRequest> messageBoxes_;
    std::vector<FileDialogRequest> fileDialogs_;
    std::vector<std::string> helpFiles_;
    std::vector<std::string> shellOpened_;
    std::vector<HWND> dialogs_;
    CursorShape cursor_;
    bool haveCursor_ = false;
    HWND capture_ = nullptr;
    HWND focus_ = nullptr;
    int focusChanges_ = 0;
    int unanswered_ = 0;
};
} // namespace ferolt::backend
