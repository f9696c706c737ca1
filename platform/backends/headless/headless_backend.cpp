// The in-memory backend for tests.
#include "platform/backends/headless/headless_backend.h"

#include "platform/win32/kernel_clock.h"
#include "platform/win32/kernel_hooks.h"
#include "platform/win32/window_surface.h"
#include "platform/win32/winuser.h"

#include <chrono>

namespace ferolt::backend
{
HeadlessBackend::HeadlessBackend()
{
    win32::host::SetBackend(this);
}

HeadlessBackend::~HeadlessBackend()
{
    if (win32::host::GetBackend() == this) win32::host::SetBackend(nullptr);
}

// ---------------------------------------------------------------------------------------------------
// Scripts

void HeadlessBackend::AnswerMenu(uint32_t command)
{
    AnswerMenu([command](const std::vector<MenuItemModel>&, ModalLoop&) { return command; });
}

void HeadlessBackend::AnswerMenu(MenuScript script)
{
    std::lock_guard g(lock_);
    menuAnswers_.push_back(std::move(script));
}

void HeadlessBackend::AnswerDialog(std::vector<DialogStep> steps)
{
    std::lock_guard g(lock_);
    dialogAnswers_.push_back(std::move(steps));
}

HeadlessBackend::DialogStep HeadlessBackend::SetText(int controlId, std::string utf8)
{
    return [controlId, utf8](HWND dialog, ModalLoop&)
    {
        HWND c = GetDlgItem(dialog, controlId);
        win32::host::FocusControl(c);
        win32::host::EditChanged(c, utf8);
    };
}

HeadlessBackend::DialogStep HeadlessBackend::Click(int controlId)
{
    return [controlId](HWND dialog, ModalLoop&)
    { win32::host::ControlClicked(GetDlgItem(dialog, controlId)); };
}

HeadlessBackend::DialogStep HeadlessBackend::Select(int controlId, int index)
{
    return [controlId, index](HWND dialog, ModalLoop&)
    { win32::host::ComboSelected(GetDlgItem(dialog, controlId), index); };
}

HeadlessBackend::DialogStep HeadlessBackend::Focus(int controlId)
{
    return [controlId](HWND dialog, ModalLoop&) { win32::host::FocusControl(GetDlgItem(dialog, controlId)); };
}

void HeadlessBackend::AnswerMessageBox(int id)
{
    AnswerMessageBox([id](const MessageBoxRequest&, ModalLoop&) { return id; });
}

void HeadlessBackend::AnswerMessageBox(MessageBoxScript script)
{
    std::lock_guard g(lock_);
    messageBoxAnswers_.push_back(std::move(script));
}

void HeadlessBackend::AnswerFileDialog(std::optional<std::string> path, int filterIndex)
{
    std::lock_guard g(lock_);
    fileAnswers_.emplace_back(std::move(path), filterIndex);
}

// ---------------------------------------------------------------------------------------------------
// Records

std::optional<WindowState> HeadlessBackend::Window(HWND hwnd) const
{
    std::lock_guard g(lock_);
    auto it = windows_.find(hwnd);
    if (it == windows_.end()) return std::nullopt;
    return it->second;
}

std::vector<HWND> HeadlessBackend::VisibleTopLevelWindows() const
{
    std::lock_guard g(lock_);
    std::vector<HWND> out;
    for (auto& [h, s] : windows_)
        if (!s.parent && s.visible) out.push_back(h);
    return out;
}

int HeadlessBackend::surfaceUpdates(HWND hwnd) const
{
    std::lock_guard g(lock_);
    auto it = surfaceUpdates_.find(hwnd);
    return it == surfaceUpdates_.end() ? 0 : it->second;
}

bool HeadlessBackend::ReadPixels(HWND hwnd, std::vector<uint32_t>* pixels, int* width, int* height) const
{
    win32::SurfaceView v;
    if (!win32::LockClientSurface(hwnd, &v)) return false;
    if (pixels)
    {
        pixels->clear();
        for (int y = 0; y < v.height; ++y)
            pixels->insert(pixels->end(), v.pixels + static_cast<size_t>(y) * v.pitch,
                           v.pixels + static_cast<size_t>(y) * v.pitch + v.width);
    }
    if (width) *width = v.width;
    if (height) *height = v.height;
    RECT none{0, 0, 0, 0};
    win32::UnlockClientSurface(hwnd, &none);
    return true;
}

uint32_t HeadlessBackend::Pixel(HWND hwnd, int x, int y) const
{
    win32::SurfaceView v;
    if (!win32::LockClientSurface(hwnd, &v)) return 0xFFFFFFFF;
    uint32_t p = (x >= 0 && y >= 0 && x < v.width && y < v.height)
                     ? v.pixels[static_cast<size_t>(y) * v.pitch + x]
                     : 0xFFFFFFFF;
    RECT none{0, 0, 0, 0};
    win32::UnlockClientSurface(hwnd, &none);
    return p;
}

// ---------------------------------------------------------------------------------------------------
// Input

POINT HeadlessBackend::ToScreen(HWND hwnd, POINT client) const
{
    ClientToScreen(hwnd, &client);
    return client;
}

void HeadlessBackend::MouseMove(HWND hwnd, POINT client)
{
    win32::host::MouseMove(ToScreen(hwnd, client));
}

void HeadlessBackend::MouseDown(HWND hwnd, POINT client, win32::host::Button button)
{
    win32::host::MouseButton(button, true, ToScreen(hwnd, client));
}

void HeadlessBackend::MouseUp(HWND hwnd, POINT client, win32::host::Button button)
{
    win32::host::MouseButton(button, false, ToScreen(hwnd, client));
}

void HeadlessBackend::Click(HWND hwnd, POINT client, win32::host::Button button)
{
    MouseDown(hwnd, client, button);
    MouseUp(hwnd, client, button);
}

void HeadlessBackend::Wheel(HWND hwnd, POINT client, int delta)
{
    win32::host::MouseWheel(delta, ToScreen(hwnd, client));
}

void HeadlessBackend::KeyDown(UINT vk)
{
    win32::host::Key(vk, true);
}
void HeadlessBackend::KeyUp(UINT vk)
{
    win32::host::Key(vk, false);
}
void HeadlessBackend::KeyPress(UINT vk)
{
    KeyDown(vk);
    KeyUp(vk);
}

int HeadlessBackend::RunPending(int limit)
{
    int n = 0;
    MSG m;
    while (n < limit && PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE))
    {
        if (m.message == WM_QUIT)
        {
            PostQuitMessage(static_cast<int>(m.wParam)); // keep it for whoever runs the real loop
            break;
        }
        TranslateMessage(&m);
        DispatchMessageA(&m);
        ++n;
    }
    return n;
}

void HeadlessBackend::AdvanceAndRun(uint32_t ms, uint32_t step)
{
    if (step == 0) step = 1;
    RunPending();
    while (ms > 0)
    {
        uint32_t d = ms < step ? ms : step;
        hooks::AdvanceClock(d);
        ms -= d;
        RunPending();
    }
}

// ---------------------------------------------------------------------------------------------------
// Backend

void HeadlessBackend::WindowCreated(HWND hwnd, const WindowState& state)
{
    std::lock_guard g(lock_);
    windows_[hwnd] = state;
}

void HeadlessBackend::WindowChanged(HWND hwnd, const WindowState& state, unsigned)
{
    std::lock_guard g(lock_);
    windows_[hwnd] = state;
}

void HeadlessBackend::WindowDestroyed(HWND hwnd)
{
    std::lock_guard g(lock_);
    windows_.erase(hwnd);
    surfaceUpdates_.erase(hwnd);
}

void HeadlessBackend::SurfaceChanged(HWND hwnd, const RECT&)
{
    std::lock_guard g(lock_);
    ++surfaceUpdates_[hwnd];
}

void HeadlessBackend::CursorChanged(const CursorShape* shape)
{
    std::lock_guard g(lock_);
    haveCursor_ = shape != nullptr;
    if (shape) cursor_ = *shape;
}

void HeadlessBackend::CaptureChanged(HWND capture)
{
    std::lock_guard g(lock_);
    capture_ = capture;
}

void HeadlessBackend::FocusChanged(HWND focus)
{
    std::lock_guard g(lock_);
    focus_ = focus;
    ++focusChanges_;
}

void HeadlessBackend::DuringWait(WaitStep step)
{
    std::lock_guard g(lock_);
    waitSteps_.push_back(std::move(step));
}

void HeadlessBackend::WaitForEvents(int timeoutMs)
{
    WaitStep step;
    {
        std::lock_guard g(lock_);
        ++waits_;
        if (!waitSteps_.empty())
        {
            step = std::move(waitSteps_.front());
            waitSteps_.pop_front();
        }
    }
    if (step)
    {
        step();
        return;
    }
    // A manual clock only moves when told; a loop waiting for a timer moves it there, like a null
    // backend that steps time.
    if (timeoutMs > 0 && win32::ClockIsManual())
    {
        hooks::AdvanceClock(static_cast<uint64_t>(timeoutMs));
        return;
    }
    std::unique_lock lk(lock_);
    int wait = timeoutMs < 0 ? 1000 : timeoutMs;
    wake_.wait_for(lk, std::chrono::milliseconds(wait), [this] { return woken_; });
    woken_ = false;
}

void HeadlessBackend::Wake()
{
    {
        std::lock_guard g(lock_);
        woken_ = true;
    }
    wake_.notify_all();
}

uint32_t HeadlessBackend::ShowPopupMenu(const std::vector<MenuItemModel>& items, POINT, HWND, ModalLoop& loop)
{
    MenuScript script;
    {
        std::lock_guard g(lock_);
        menus_.push_back(items);
        if (!menuAnswers_.empty())
        {
            script = std::move(menuAnswers_.front());
            menuAnswers_.pop_front();
        }
    }
    if (!loop.Pump()) return 0;
    if (!script)
    {
        ++unanswered_;
        return 0;
    }
    return script(items, loop);
}

void HeadlessBackend::RunDialog(HWND dialog, ModalLoop& loop)
{
    std::vector<DialogStep> steps;
    bool have = false;
    {
        std::lock_guard g(lock_);
        dialogs_.push_back(dialog);
        if (!dialogAnswers_.empty())
        {
            steps = std::move(dialogAnswers_.front());
            dialogAnswers_.pop_front();
            have = true;
        }
    }
    if (!loop.Pump()) return;
    for (auto& step : steps)
    {
        step(dialog, loop);
        if (!loop.Pump()) return;
    }
    (void)have;
    ++unanswered_;
}

int HeadlessBackend::ShowMessageBox(const MessageBoxRequest& request, ModalLoop& loop)
{
    MessageBoxScript script;
    {
        std::lock_guard g(lock_);
        messageBoxes_.push_back(request);
        if (!messageBoxAnswers_.empty())
        {
            script = std::move(messageBoxAnswers_.front());
            messageBoxAnswers_.pop_front();
        }
    }
    loop.Pump();
    if (!script)
    {
        ++unanswered_;
        return 0;
    }
    return script(request, loop);
}

bool HeadlessBackend::ShowFileDialog(const FileDialogRequest& request, std::string* path, int* filterIndex,
                                     ModalLoop& loop)
{
    std::optional<std::pair<std::optional<std::string>, int>> answer;
    {
        std::lock_guard g(lock_);
        fileDialogs_.push_back(request);
        if (!fileAnswers_.empty())
        {
            answer = std::move(fileAnswers_.front());
            fileAnswers_.pop_front();
        }
    }
    loop.Pump();
    if (!answer)
    {
        ++unanswered_;
        return false;
    }
    if (!answer->first) return false;
    *path = *answer->first;
    if (answer->second >= 0) *filterIndex = answer->second;
    return true;
}

bool HeadlessBackend::ShowHelp(HWND, const std::string& file)
{
    std::lock_guard g(lock_);
    helpFiles_.push_back(file);
    return true;
}

bool HeadlessBackend::ShellOpen(const std::string& target, const std::string&)
{
    std::lock_guard g(lock_);
    shellOpened_.push_back(target);
    return true;
}
} // namespace ferolt::backend
