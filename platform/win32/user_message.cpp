// Message queues, sending and posting, retrieval order, timers, painting, the default window
// procedure, and the input that backends feed in.
#include "platform/win32/user_internal.h"
#include "platform/win32/user_host.h"
#include "platform/win32/kernel_clock.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace ferolt::win32::user
{
namespace
{
// Cleans up a thread's queue when the thread ends: senders waiting on it get 0.
struct QueueOwner
{
    std::shared_ptr<ThreadQueue> q;
    ~QueueOwner()
    {
        if (!q) return;
        std::lock_guard g(S().lock);
        q->alive = false;
        for (auto& s : q->sent)
            s->done = true;
        q->sent.clear();
        S().queues.erase(q->thread);
        for (auto& [t, other] : S().queues)
            other->wake.notify_all();
    }
};
thread_local QueueOwner t_queue;

std::condition_variable& SentDone()
{
    static std::condition_variable* cv = new std::condition_variable;
    return *cv;
}
} // namespace

// A test that moves the manual clock wakes every waiting loop, so due timers are seen at once.
static void ClockMoved(void*)
{
    {
        std::lock_guard g(S().lock);
        for (auto& [t, q] : S().queues)
            q->wake.notify_all();
    }
    CallBackendAnyThread(0, [](ferolt::backend::Backend* b) { b->Wake(); });
}

std::shared_ptr<ThreadQueue> QueueLocked(DWORD thread)
{
    static bool listening = []
    {
        ferolt::win32::AddClockListener(ClockMoved, nullptr);
        return true;
    }();
    (void)listening;
    auto it = S().queues.find(thread);
    if (it != S().queues.end()) return it->second;
    if (thread != CurrentThread()) return nullptr;
    auto q = std::make_shared<ThreadQueue>();
    q->thread = thread;
    S().queues[thread] = q;
    t_queue.q = q;
    return q;
}

std::shared_ptr<ThreadQueue> CurrentQueue()
{
    std::lock_guard g(S().lock);
    return QueueLocked(CurrentThread());
}

static void WakeThread(DWORD thread)
{
    {
        std::lock_guard g(S().lock);
        if (auto q = QueueLocked(thread)) q->wake.notify_all();
    }
    if (thread != CurrentThread())
        CallBackendAnyThread(thread, [](ferolt::backend::Backend* b) { b->Wake(); });
}

bool Enqueue(HWND hwnd, DWORD thread, const QueuedMessage& qm)
{
    {
        std::lock_guard g(S().lock);
        auto q = QueueLocked(thread);
        if (!q || !q->alive) return false;
        // Mouse moves coalesce with a pending move of the same window, as the original does.
        if (qm.input && qm.msg.message == WM_MOUSEMOVE && !q->posted.empty())
        {
            auto& back = q->posted.back();
            if (back.input && back.msg.message == WM_MOUSEMOVE && back.msg.hwnd == hwnd)
            {
                back = qm;
                return true;
            }
        }
        q->posted.push_back(qm);
    }
    WakeThread(thread);
    return true;
}

bool MatchesFilter(const MSG& m, HWND filter, UINT lo, UINT hi)
{
    if (lo || hi)
    {
        if (m.message < lo || m.message > hi) return false;
    }
    if (!filter) return true;
    if (filter == reinterpret_cast<HWND>(-1)) return m.hwnd == nullptr;
    return m.hwnd == filter || IsChild(filter, m.hwnd);
}

// Runs every message sent to this thread from other threads.
static void DeliverSent(const std::shared_ptr<ThreadQueue>& q)
{
    for (;;)
    {
        std::shared_ptr<SentMessage> s;
        {
            std::lock_guard g(S().lock);
            if (q->sent.empty()) return;
            s = q->sent.front();
            q->sent.pop_front();
        }
        LRESULT r = 0;
        if (auto w = Find(s->hwnd))
        {
            {
                std::lock_guard g(S().lock);
                ++q->sendDepth;
            }
            r = CallProc(w, s->msg, s->wParam, s->lParam);
            std::lock_guard g(S().lock);
            --q->sendDepth;
        }
        {
            std::lock_guard g(S().lock);
            s->result = r;
            s->done = true;
        }
        SentDone().notify_all();
    }
}

int MillisecondsToNextTimer()
{
    auto q = CurrentQueue();
    DWORD now = Now();
    std::lock_guard g(S().lock);
    int best = -1;
    for (auto& t : q->timers)
    {
        int32_t d = static_cast<int32_t>(t.due - now);
        int ms = d < 0 ? 0 : d;
        if (best < 0 || ms < best) best = ms;
    }
    return best;
}

// The retrieval order: posted and input messages, the quit message, WM_PAINT, then WM_TIMER.
static bool TakeMessage(const std::shared_ptr<ThreadQueue>& q, MSG* out, HWND filter, UINT lo, UINT hi,
                        bool remove)
{
    DeliverSent(q);
    std::shared_ptr<std::array<BYTE, 256>> keys;
    bool found = false;
    bool input = false;
    {
        std::lock_guard g(S().lock);
        for (auto it = q->posted.begin(); it != q->posted.end(); ++it)
        {
            if (!MatchesFilter(it->msg, filter, lo, hi)) continue;
            *out = it->msg;
            input = it->input;
            keys = it->keys;
            if (remove) q->posted.erase(it);
            found = true;
            break;
        }
        if (!found && q->quit && !filter && (!(lo || hi) || (WM_QUIT >= lo && WM_QUIT <= hi)))
        {
            *out = MSG{};
            out->message = WM_QUIT;
            out->wParam = static_cast<WPARAM>(q->quitCode);
            out->time = Now();
            if (remove) q->quit = false;
            found = true;
        }
        if (!found && (!(lo || hi) || (WM_PAINT >= lo && WM_PAINT <= hi)))
        {
            for (auto& [id, w] : S().windows)
            {
                if (w->thread != q->thread || (!w->hasUpdate && !w->internalPaint)) continue;
                if (!IsVisibleLocked(*w) && !w->internalPaint) continue;
                MSG m{};
                m.hwnd = w->hwnd;
                m.message = WM_PAINT;
                if (!MatchesFilter(m, nullptr, lo, hi)) continue;
                if (filter && filter != w->hwnd)
                {
                    bool child = false;
                    for (auto p = FindLocked(w->parent); p; p = FindLocked(p->parent))
                        if (p->hwnd == filter) child = true;
                    if (!child) continue;
                }
                m.time = Now();
                *out = m;
                found = true;
                break;
            }
        }
        if (!found && (!(lo || hi) || (WM_TIMER >= lo && WM_TIMER <= hi)))
        {
            DWORD now = Now();
            Timer* best = nullptr;
            for (auto& t : q->timers)
            {
                if (static_cast<int32_t>(now - t.due) < 0) continue;
                if (filter && t.hwnd != filter) continue;
                if (!best || static_cast<int32_t>(t.due - best->due) < 0) best = &t;
            }
            if (best)
            {
                MSG m{};
                m.hwnd = best->hwnd;
                m.message = WM_TIMER;
                m.wParam = best->id;
                m.lParam = reinterpret_cast<LPARAM>(best->proc);
                m.time = now;
                *out = m;
                // Overdue periods collapse into this one message.
                if (remove) best->due = now + best->interval;
                found = true;
            }
        }
        if (found && remove)
        {
            out->pt = S().cursorPos;
            if (!input) out->time = out->time ? out->time : Now();
            q->last = *out;
            if (input && keys) q->keys = *keys;
        }
    }
    if (found && remove && input && out->message >= WM_MOUSEFIRST && out->message <= WM_MOUSELAST &&
        out->message != WM_MOUSEWHEEL)
    {
        HWND capture = GetCapture();
        if (!capture)
            if (auto w = Find(out->hwnd))
                CallProc(w, WM_SETCURSOR, reinterpret_cast<WPARAM>(out->hwnd),
                         MAKELPARAM(HTCLIENT, out->message));
    }
    return found;
}

// Blocks until something may have arrived for the thread or `timeoutMs` passed.
static void WaitForWork(const std::shared_ptr<ThreadQueue>& q, int timeoutMs)
{
    ferolt::backend::Backend* b = CurrentBackend();
    if (b)
    {
        b->WaitForEvents(timeoutMs);
        return;
    }
    std::unique_lock lk(S().lock);
    if (!q->sent.empty() || !q->posted.empty() || q->quit) return;
    // A test may drive the clock by hand; polling in small steps keeps timers due on time then.
    int slice = timeoutMs < 0 ? 20 : std::min(timeoutMs, 20);
    q->wake.wait_for(lk, std::chrono::milliseconds(std::max(slice, 1)));
}

static uint64_t HandledInputCount(const std::shared_ptr<ThreadQueue>& q)
{
    std::lock_guard g(S().lock);
    return q->handledInput;
}

void NoteHandledInput()
{
    auto q = CurrentQueue();
    std::lock_guard g(S().lock);
    ++q->handledInput;
}

bool PumpPending(const std::function<bool()>& keepGoing)
{
    auto q = CurrentQueue();
    MSG m;
    while (keepGoing())
    {
        if (!TakeMessage(q, &m, nullptr, 0, 0, true)) return true;
        if (m.message == WM_QUIT)
        {
            // Leave the quit for the outer loop, as nested loops of the original do.
            PostQuitMessage(static_cast<int>(m.wParam));
            return false;
        }
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
    return true;
}

LRESULT CopyTextOut(const std::string& text, WPARAM size, LPARAM buffer)
{
    if (!buffer || size == 0) return 0;
    size_t n = std::min(text.size(), static_cast<size_t>(size) - 1);
    std::memcpy(reinterpret_cast<char*>(buffer), text.data(), n);
    reinterpret_cast<char*>(buffer)[n] = 0;
    return static_cast<LRESULT>(n);
}
} // namespace ferolt::win32::user

using namespace ferolt::win32::user;
using ferolt::win32::user::S;

// ---------------------------------------------------------------------------------------------------
// Sending and posting

LRESULT CallWindowProcA(WNDPROC proc, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return proc ? proc(hwnd, msg, wParam, lParam) : 0;
}

LRESULT SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (hwnd == HWND_BROADCAST)
    {
        std::vector<HWND> list;
        {
            std::lock_guard g(S().lock);
            list = S().topLevel;
        }
        for (HWND h : list)
            SendMessageA(h, msg, wParam, lParam);
        return 0;
    }
    auto w = Find(hwnd);
    if (!w) return 0;
    DWORD thread;
    {
        std::lock_guard g(S().lock);
        thread = w->thread;
    }
    if (thread == 0 || thread == CurrentThread()) return CallProc(w, msg, wParam, lParam);

    auto s = std::make_shared<SentMessage>();
    s->hwnd = hwnd;
    s->msg = msg;
    s->wParam = wParam;
    s->lParam = lParam;
    {
        std::lock_guard g(S().lock);
        auto q = QueueLocked(thread);
        if (!q || !q->alive) return 0;
        q->sent.push_back(s);
    }
    WakeThread(thread);
    auto mine = CurrentQueue();
    for (;;)
    {
        DeliverSent(mine); // a reply may need us to answer a message first
        std::unique_lock lk(S().lock);
        if (s->done) return s->result;
        if (!FindLocked(hwnd)) return 0;
        SentDone().wait_for(lk, std::chrono::milliseconds(5));
        if (s->done) return s->result;
    }
}

BOOL PostMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (hwnd == HWND_BROADCAST)
    {
        std::vector<HWND> list;
        {
            std::lock_guard g(S().lock);
            list = S().topLevel;
        }
        for (HWND h : list)
            PostMessageA(h, msg, wParam, lParam);
        return TRUE;
    }
    QueuedMessage qm;
    qm.msg.hwnd = hwnd;
    qm.msg.message = msg;
    qm.msg.wParam = wParam;
    qm.msg.lParam = lParam;
    qm.msg.time = Now();
    if (!hwnd) return Enqueue(nullptr, CurrentThread(), qm) ? TRUE : FALSE;
    auto w = Find(hwnd);
    if (!w) return FALSE;
    DWORD thread;
    {
        std::lock_guard g(S().lock);
        thread = w->thread;
    }
    if (thread == 0) return FALSE;
    return Enqueue(hwnd, thread, qm) ? TRUE : FALSE;
}

BOOL PostThreadMessageA(DWORD threadId, UINT msg, WPARAM wParam, LPARAM lParam)
{
    QueuedMessage qm;
    qm.msg.message = msg;
    qm.msg.wParam = wParam;
    qm.msg.lParam = lParam;
    qm.msg.time = Now();
    return Enqueue(nullptr, threadId, qm) ? TRUE : FALSE;
}

void PostQuitMessage(int exitCode)
{
    auto q = CurrentQueue();
    {
        std::lock_guard g(S().lock);
        q->quit = true;
        q->quitCode = exitCode;
    }
    WakeThread(CurrentThread());
}

BOOL PeekMessageA(LPMSG msg, HWND hwnd, UINT lo, UINT hi, UINT remove)
{
    if (!msg) return FALSE;
    auto q = CurrentQueue();
    if (TakeMessage(q, msg, hwnd, lo, hi, (remove & PM_REMOVE) != 0)) return TRUE;
    if (auto b = CurrentBackend()) b->PollEvents();
    return TakeMessage(q, msg, hwnd, lo, hi, (remove & PM_REMOVE) != 0) ? TRUE : FALSE;
}

BOOL GetMessageA(LPMSG msg, HWND hwnd, UINT lo, UINT hi)
{
    if (!msg) return -1;
    const bool oneWindow = hwnd && hwnd != reinterpret_cast<HWND>(-1);
    if (oneWindow && !IsWindow(hwnd)) return -1;
    auto q = CurrentQueue();
    bool handled = false;
    for (;;)
    {
        if (TakeMessage(q, msg, hwnd, lo, hi, true)) return msg->message == WM_QUIT ? FALSE : TRUE;
        // Waiting on for a window that is gone would never end.
        if (oneWindow && !IsWindow(hwnd)) return -1;
        if (handled && (!(lo || hi) || lo == WM_NULL))
        {
            // The user's input was handled during the wait without leaving a message. On the
            // original it would have been a queued message whose dispatch did that work, and a
            // loop expects to run once after it (to see a window gone, a setting changed).
            *msg = MSG{};
            msg->hwnd = oneWindow ? hwnd : nullptr;
            msg->message = WM_NULL;
            msg->time = Now();
            std::lock_guard g(S().lock);
            msg->pt = S().cursorPos;
            q->last = *msg;
            return TRUE;
        }
        uint64_t before = HandledInputCount(q);
        WaitForWork(q, MillisecondsToNextTimer());
        handled = HandledInputCount(q) != before;
    }
}

BOOL WaitMessage()
{
    auto q = CurrentQueue();
    MSG m;
    for (;;)
    {
        if (TakeMessage(q, &m, nullptr, 0, 0, false)) return TRUE;
        uint64_t before = HandledInputCount(q);
        WaitForWork(q, MillisecondsToNextTimer());
        if (HandledInputCount(q) != before) return TRUE;
    }
}

DWORD GetQueueStatus(UINT)
{
    auto q = CurrentQueue();
    std::lock_guard g(S().lock);
    return static_cast<DWORD>(q->posted.size() + q->sent.size());
}

BOOL InSendMessage()
{
    auto q = CurrentQueue();
    std::lock_guard g(S().lock);
    return q->sendDepth > 0 ? TRUE : FALSE;
}

LONG GetMessageTime()
{
    auto q = CurrentQueue();
    std::lock_guard g(S().lock);
    return static_cast<LONG>(q->last.time);
}

DWORD GetMessagePos()
{
    auto q = CurrentQueue();
    std::lock_guard g(S().lock);
    return static_cast<DWORD>(MAKELONG(static_cast<WORD>(q->last.pt.x), static_cast<WORD>(q->last.pt.y)));
}

BOOL TranslateMessage(const MSG* msg)
{
    if (!msg || (msg->message != WM_KEYDOWN && msg->message != WM_SYSKEYDOWN)) return FALSE;
    UINT vk = static_cast<UINT>(msg->wParam);
    int ch = 0;
    bool shift = (GetKeyState(VK_SHIFT) & 0x8000) != 0;
    if (vk >= 'A' && vk <= 'Z')
        ch = shift ? static_cast<int>(vk) : static_cast<int>(vk - 'A' + 'a');
    else if (vk >= '0' && vk <= '9' && !shift)
        ch = static_cast<int>(vk);
    else if (vk >= VK_NUMPAD0 && vk <= VK_NUMPAD9)
        ch = static_cast<int>('0' + vk - VK_NUMPAD0);
    else if (vk == VK_SPACE || vk == VK_RETURN || vk == VK_ESCAPE || vk == VK_BACK || vk == VK_TAB)
        ch = static_cast<int>(vk);
    if (!ch) return TRUE;
    if ((GetKeyState(VK_CONTROL) & 0x8000) && vk >= 'A' && vk <= 'Z') ch = static_cast<int>(vk - 'A' + 1);
    PostMessageA(msg->hwnd, msg->message == WM_SYSKEYDOWN ? WM_SYSCHAR : WM_CHAR, static_cast<WPARAM>(ch),
                 msg->lParam);
    return TRUE;
}

LRESULT DispatchMessageA(const MSG* msg)
{
    if (!msg) return 0;
    if (msg->message == WM_TIMER && msg->lParam)
    {
        auto proc = reinterpret_cast<TIMERPROC>(msg->lParam);
        proc(msg->hwnd, WM_TIMER, msg->wParam, Now());
        return 0;
    }
    auto w = Find(msg->hwnd);
    if (!w) return 0;
    LRESULT r = CallProc(w, msg->message, msg->wParam, msg->lParam);
    if (msg->message == WM_PAINT)
    {
        // A window that asked only for an internal paint does not get it again.
        std::lock_guard g(S().lock);
        w->internalPaint = false;
    }
    return r;
}

UINT RegisterWindowMessageA(LPCSTR name)
{
    if (!name || !*name) return 0;
    // Function-local so that static initialisers may call it.
    static std::mutex* lock = new std::mutex;
    static std::map<std::string, UINT>* table = new std::map<std::string, UINT>;
    std::lock_guard g(*lock);
    std::string key = ToLower(name);
    auto it = table->find(key);
    if (it != table->end()) return it->second;
    if (table->size() >= 0x3FFF) return 0;
    UINT id = 0xC000 + static_cast<UINT>(table->size());
    (*table)[key] = id;
    return id;
}

// ---------------------------------------------------------------------------------------------------
// Timers

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC proc)
{
    DWORD thread = CurrentThread();
    if (hwnd)
    {
        auto w = Find(hwnd);
        if (!w) return 0;
        std::lock_guard g(S().lock);
        thread = w->thread;
    }
    elapse = std::clamp<UINT>(elapse, 10, 0x7FFFFFFF); // the original's minimum
    DWORD now = Now();
    {
        std::lock_guard g(S().lock);
        auto q = QueueLocked(thread);
        if (!q) return 0;
        if (!hwnd) id = q->nextTimerId++ | 0x8000;
        for (auto& t : q->timers)
            if (t.hwnd == hwnd && t.id == id)
            {
                t.interval = elapse;
                t.due = now + elapse;
                t.proc = proc;
                q->wake.notify_all();
                return hwnd ? 1 : id;
            }
        q->timers.push_back(Timer{hwnd, id, elapse, now + elapse, proc});
        q->wake.notify_all();
    }
    WakeThread(thread);
    return hwnd ? (id ? id : 1) : id;
}

BOOL KillTimer(HWND hwnd, UINT_PTR id)
{
    DWORD thread = CurrentThread();
    if (hwnd)
    {
        auto w = Find(hwnd);
        if (!w) return FALSE;
        std::lock_guard g(S().lock);
        thread = w->thread;
    }
    std::lock_guard g(S().lock);
    auto q = QueueLocked(thread);
    if (!q) return FALSE;
    auto& t = q->timers;
    auto it = std::find_if(t.begin(), t.end(), [&](const Timer& x) { return x.hwnd == hwnd && x.id == id; });
    if (it == t.end()) return FALSE;
    t.erase(it);
    // A WM_TIMER already posted for it stays; the original removes it too, we simply never post one.
    return TRUE;
}

// ---------------------------------------------------------------------------------------------------
// Painting

BOOL InvalidateRect(HWND hwnd, const RECT* rect, BOOL erase)
{
    if (!hwnd) return FALSE; // the whole desktop: nothing of ours to repaint
    auto w = Find(hwnd);
    if (!w) return FALSE;
    std::lock_guard g(S().lock);
    InvalidateLocked(*w, rect, erase != FALSE);
    return TRUE;
}

BOOL ValidateRect(HWND hwnd, const RECT* rect)
{
    auto w = Find(hwnd);
    if (!w) return FALSE;
    std::lock_guard g(S().lock);
    if (!rect)
    {
        w->hasUpdate = false;
        w->erase = false;
        return TRUE;
    }
    // The update area is a box: validating a part keeps the box unless it is covered.
    if (w->hasUpdate && rect->left <= w->update.left && rect->top <= w->update.top &&
        rect->right >= w->update.right && rect->bottom >= w->update.bottom)
    {
        w->hasUpdate = false;
        w->erase = false;
    }
    return TRUE;
}

BOOL GetUpdateRect(HWND hwnd, LPRECT rect, BOOL)
{
    auto w = Find(hwnd);
    if (!w) return FALSE;
    std::lock_guard g(S().lock);
    if (rect) *rect = w->hasUpdate ? w->update : RECT{0, 0, 0, 0};
    return w->hasUpdate ? TRUE : FALSE;
}

BOOL UpdateWindow(HWND hwnd)
{
    auto w = Find(hwnd);
    if (!w) return FALSE;
    bool need;
    {
        std::lock_guard g(S().lock);
        need = w->hasUpdate && IsVisibleLocked(*w);
    }
    if (need) CallProc(w, WM_PAINT, 0, 0);
    std::vector<HWND> kids;
    {
        std::lock_guard g(S().lock);
        kids = w->children;
    }
    for (HWND c : kids)
        UpdateWindow(c);
    return TRUE;
}

BOOL RedrawWindow(HWND hwnd, const RECT* rect, HRGN region, UINT flags)
{
    (void)region; // callers of this layer pass rectangles only
    if (!hwnd) hwnd = GetDesktopWindow();
    auto w = Find(hwnd);
    if (!w) return FALSE;
    {
        std::lock_guard g(S().lock);
        if (flags & RDW_INVALIDATE) InvalidateLocked(*w, rect, (flags & RDW_ERASE) != 0);
        if (flags & RDW_INTERNALPAINT) w->internalPaint = true;
        if (flags & RDW_VALIDATE)
        {
            w->hasUpdate = false;
            w->erase = false;
        }
        if (flags & RDW_ALLCHILDREN)
            for (HWND c : w->children)
                if (auto cw = FindLocked(c); cw && (flags & RDW_INVALIDATE))
                    InvalidateLocked(*cw, nullptr, true);
    }
    if (flags & (RDW_UPDATENOW | RDW_ERASENOW)) UpdateWindow(hwnd);
    return TRUE;
}

// ---------------------------------------------------------------------------------------------------
// The default window procedure

// Creation, the frame and hit testing.
static LRESULT DefaultFrame(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    auto w = Find(hwnd);
    switch (msg)
    {
    case WM_NCCREATE:
    {
        auto cs = reinterpret_cast<CREATESTRUCTA*>(lParam);
        if (w && cs && cs->lpszName && !IS_INTRESOURCE(cs->lpszName))
        {
            std::lock_guard g(S().lock);
            w->text = std::string(cs->lpszName).substr(0, kMaxText);
        }
        return TRUE;
    }
    case WM_NCCALCSIZE:
    {
        if (!w || !lParam) return 0;
        DWORD style, ex;
        bool child;
        {
            std::lock_guard g(S().lock);
            style = w->style;
            ex = w->exStyle;
            child = w->parent != nullptr;
        }
        RECT in;
        FrameSize(style, ex, child, &in);
        RECT* r =
            wParam ? &reinterpret_cast<NCCALCSIZE_PARAMS*>(lParam)->rgrc[0] : reinterpret_cast<RECT*>(lParam);
        r->left += in.left;
        r->top += in.top;
        r->right = std::max<LONG>(LONG{r->left}, r->right - in.right);
        r->bottom = std::max<LONG>(LONG{r->top}, r->bottom - in.bottom);
        return 0;
    }
    case WM_NCHITTEST:
    {
        if (!w) return HTNOWHERE;
        POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        std::lock_guard g(S().lock);
        if (PtInRect(&w->client, p)) return HTCLIENT;
        if (!PtInRect(&w->window, p)) return HTNOWHERE;
        return (p.y < w->client.top && (w->style & WS_CAPTION) == WS_CAPTION) ? HTCAPTION : HTBORDER;
    }
    default:
        return 0;
    }
}

static LRESULT DefaultText(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    auto w = Find(hwnd);
    if (!w) return 0;
    switch (msg)
    {
    case WM_SETTEXT:
    {
        {
            std::lock_guard g(S().lock);
            w->text = lParam ? std::string(reinterpret_cast<const char*>(lParam)).substr(0, kMaxText) : "";
        }
        NotifyWindowChanged(hwnd, ferolt::backend::kChangedTitle);
        return TRUE;
    }
    case WM_GETTEXT:
    {
        std::lock_guard g(S().lock);
        return CopyTextOut(w->text, wParam, lParam);
    }
    case WM_GETTEXTLENGTH:
    {
        std::lock_guard g(S().lock);
        return static_cast<LRESULT>(w->text.size());
    }
    default:
        return 0;
    }
}

static LRESULT DefaultPaint(HWND hwnd, UINT msg, WPARAM wParam)
{
    if (msg == WM_PAINT)
    {
        PAINTSTRUCT ps;
        BeginPaint(hwnd, &ps);
        EndPaint(hwnd, &ps);
        return 0;
    }
    // WM_ERASEBKGND: the class's background brush, where it has one.
    auto w = Find(hwnd);
    if (!w) return 0;
    HBRUSH br;
    {
        std::lock_guard g(S().lock);
        br = w->cls ? w->cls->background : nullptr;
    }
    if (!br) return 0;
    RECT r;
    GetClientRect(hwnd, &r);
    FillRect(reinterpret_cast<HDC>(wParam), &r, br);
    return 1;
}

// The close button, Alt+F4 and the system menu's Close all end in WM_CLOSE, whose default destroys.
static LRESULT DefaultClose(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg)
    {
    case WM_CLOSE:
        DestroyWindow(hwnd);
        return 0;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CLOSE) SendMessageA(hwnd, WM_CLOSE, 0, 0);
        return 0;
    case WM_SYSKEYDOWN:
        if (wParam == VK_F4 && (lParam & (1 << 29)))
        {
            HWND root = GetAncestor(hwnd, GA_ROOT);
            PostMessageA(root, WM_SYSCOMMAND, SC_CLOSE, 0);
        }
        return 0;
    default:
        return 0;
    }
}

// The right button's context menu and the cursor, each offered to the parent of a child first.
static LRESULT DefaultMouse(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg)
    {
    case WM_RBUTTONUP:
    {
        POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        ClientToScreen(hwnd, &p);
        SendMessageA(hwnd, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(hwnd), MAKELPARAM(p.x, p.y));
        return 0;
    }
    case WM_CONTEXTMENU:
    {
        auto w = Find(hwnd);
        HWND parent = nullptr;
        if (w)
        {
            std::lock_guard g(S().lock);
            if (w->style & WS_CHILD) parent = w->parent;
        }
        if (parent) SendMessageA(parent, WM_CONTEXTMENU, wParam, lParam);
        return 0;
    }
    case WM_SETCURSOR:
    {
        auto w = Find(hwnd);
        if (!w) return FALSE;
        HWND parent = nullptr;
        HCURSOR cursor = nullptr;
        {
            std::lock_guard g(S().lock);
            if (w->style & WS_CHILD) parent = w->parent;
            cursor = w->cls ? w->cls->cursor : nullptr;
        }
        // A parent may claim the cursor for its children first.
        if (parent && SendMessageA(parent, WM_SETCURSOR, wParam, lParam)) return TRUE;
        if (LOWORD(lParam) == HTCLIENT)
        {
            if (cursor) SetCursor(cursor);
        }
        else
        {
            SetCursor(LoadCursorA(nullptr, IDC_ARROW));
        }
        return FALSE;
    }
    case WM_MOUSEACTIVATE:
        return 1; // MA_ACTIVATE
    default:
        return 0;
    }
}

// Activation keeps or takes the focus; a changed place or size becomes WM_MOVE and WM_SIZE.
static LRESULT DefaultPlacement(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_ACTIVATE)
    {
        if (LOWORD(wParam) != WA_INACTIVE)
        {
            HWND focus = GetFocus();
            if (focus != hwnd && !IsChild(hwnd, focus)) SetFocus(hwnd);
        }
        return 0;
    }
    auto pos = reinterpret_cast<WINDOWPOS*>(lParam); // WM_WINDOWPOSCHANGED
    if (!pos) return 0;
    RECT c;
    GetClientRect(hwnd, &c);
    POINT o{0, 0};
    ClientToScreen(hwnd, &o);
    HWND parent = GetAncestor(hwnd, GA_PARENT);
    if (parent && parent != GetDesktopWindow()) ScreenToClient(parent, &o);
    if (!(pos->flags & SWP_NOMOVE)) SendMessageA(hwnd, WM_MOVE, 0, MAKELPARAM(o.x, o.y));
    if (!(pos->flags & SWP_NOSIZE) || (pos->flags & SWP_FRAMECHANGED))
        SendMessageA(hwnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM(c.right, c.bottom));
    return 0;
}

// Icons, the font and the colours a static control on a dialog's face is drawn in.
static LRESULT DefaultLook(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_CTLCOLORSTATIC)
    {
        auto dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    auto w = Find(hwnd);
    if (!w) return 0;
    switch (msg)
    {
    case WM_SETICON:
    {
        std::lock_guard g(S().lock);
        HICON& slot = wParam == ICON_BIG ? w->iconBig : w->iconSmall;
        HICON old = slot;
        slot = reinterpret_cast<HICON>(lParam);
        return reinterpret_cast<LRESULT>(old);
    }
    case WM_GETICON:
    {
        std::lock_guard g(S().lock);
        return reinterpret_cast<LRESULT>(wParam == ICON_BIG ? w->iconBig : w->iconSmall);
    }
    case WM_SETFONT:
    {
        {
            std::lock_guard g(S().lock);
            w->font = reinterpret_cast<HFONT>(wParam);
        }
        NotifyWindowChanged(hwnd, ferolt::backend::kChangedFont);
        if (LOWORD(lParam)) InvalidateRect(hwnd, nullptr, TRUE);
        return 0;
    }
    case WM_GETFONT:
    {
        std::lock_guard g(S().lock);
        return reinterpret_cast<LRESULT>(w->font);
    }
    default:
        return 0;
    }
}

LRESULT DefWindowProcA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg)
    {
    case WM_NCCREATE:
    case WM_NCCALCSIZE:
    case WM_NCHITTEST:
        return DefaultFrame(hwnd, msg, wParam, lParam);
    case WM_SETTEXT:
    case WM_GETTEXT:
    case WM_GETTEXTLENGTH:
        return DefaultText(hwnd, msg, wParam, lParam);
    case WM_PAINT:
    case WM_ERASEBKGND:
        return DefaultPaint(hwnd, msg, wParam);
    case WM_CLOSE:
    case WM_SYSCOMMAND:
    case WM_SYSKEYDOWN:
        return DefaultClose(hwnd, msg, wParam, lParam);
    case WM_RBUTTONUP:
    case WM_CONTEXTMENU:
    case WM_SETCURSOR:
    case WM_MOUSEACTIVATE:
        return DefaultMouse(hwnd, msg, wParam, lParam);
    case WM_ACTIVATE:
    case WM_WINDOWPOSCHANGED:
        return DefaultPlacement(hwnd, msg, wParam, lParam);
    case WM_SETICON:
    case WM_GETICON:
    case WM_SETFONT:
    case WM_GETFONT:
    case WM_CTLCOLORSTATIC:
        return DefaultLook(hwnd, msg, wParam, lParam);
    default:
        return 0;
    }
}

// ---------------------------------------------------------------------------------------------------
// Input state

SHORT GetAsyncKeyState(int vk)
{
    if (vk < 0 || vk > 255) return 0;
    std::lock_guard g(S().lock);
    SHORT r = (S().asyncKeys[static_cast<size_t>(vk)] & 0x80) ? static_cast<SHORT>(0x8000) : 0;
    if (S().pressedSinceQuery[static_cast<size_t>(vk)]) r |= 1;
    S().pressedSinceQuery[static_cast<size_t>(vk)] = 0;
    return r;
}

SHORT GetKeyState(int vk)
{
    if (vk < 0 || vk > 255) return 0;
    auto q = CurrentQueue();
    std::lock_guard g(S().lock);
    BYTE k = q->keys[static_cast<size_t>(vk)];
    return static_cast<SHORT>(((k & 0x80) ? 0xFF80 : 0) | (k & 1));
}

BOOL GetKeyboardState(BYTE* state)
{
    if (!state) return FALSE;
    auto q = CurrentQueue();
    std::lock_guard g(S().lock);
    std::memcpy(state, q->keys.data(), 256);
    return TRUE;
}

HWND GetCapture()
{
    std::lock_guard g(S().lock);
    return S().capture;
}

HWND SetCapture(HWND hwnd)
{
    if (!IsWindow(hwnd)) return nullptr;
    HWND old;
    {
        std::lock_guard g(S().lock);
        old = S().capture;
        S().capture = hwnd;
    }
    if (old && old != hwnd)
        if (auto ow = Find(old)) CallProc(ow, WM_CAPTURECHANGED, 0, reinterpret_cast<LPARAM>(hwnd));
    if (old != hwnd)
        if (auto b = CurrentBackend()) b->CaptureChanged(hwnd);
    return old;
}

BOOL ReleaseCapture()
{
    HWND old;
    {
        std::lock_guard g(S().lock);
        old = S().capture;
        S().capture = nullptr;
    }
    if (old)
    {
        if (auto ow = Find(old)) CallProc(ow, WM_CAPTURECHANGED, 0, 0);
        if (auto b = CurrentBackend()) b->CaptureChanged(nullptr);
    }
    return TRUE;
}

HWND GetFocus()
{
    std::lock_guard g(S().lock);
    return S().focus;
}

HWND SetFocus(HWND hwnd)
{
    if (hwnd && !IsWindow(hwnd)) return nullptr;
    if (hwnd && !IsWindowEnabled(hwnd)) return nullptr;
    HWND old;
    {
        std::lock_guard g(S().lock);
        old = S().focus;
        if (old == hwnd) return old;
        S().focus = hwnd;
    }
    if (hwnd)
    {
        HWND root = GetAncestor(hwnd, GA_ROOT);
        if (root && GetActiveWindow() != root)
        {
            {
                std::lock_guard g(S().lock);
                S().focus = old;
            }
            SetActiveWindow(root);
            {
                std::lock_guard g(S().lock);
                old = S().focus;
                if (old == hwnd) return old;
                S().focus = hwnd;
            }
        }
    }
    if (auto ow = Find(old)) CallProc(ow, WM_KILLFOCUS, reinterpret_cast<WPARAM>(hwnd), 0);
    // The kill-focus handler may have moved the focus elsewhere (a refused field takes it back).
    if (GetFocus() != hwnd) return old;
    NotifyFocusChanged(hwnd);
    if (auto nw = Find(hwnd)) CallProc(nw, WM_SETFOCUS, reinterpret_cast<WPARAM>(old), 0);
    return old;
}

BOOL GetCursorPos(LPPOINT pt)
{
    if (!pt) return FALSE;
    std::lock_guard g(S().lock);
    *pt = S().cursorPos;
    return TRUE;
}

BOOL SetCursorPos(int x, int y)
{
    std::lock_guard g(S().lock);
    S().cursorPos = POINT{x, y};
    return TRUE;
}

int GetSystemMetrics(int index)
{
    EnsureMonitors();
    std::lock_guard g(S().lock);
    RECT primary = S().monitors.front().rect;
    RECT all = primary;
    for (auto& m : S().monitors)
    {
        if (m.primary) primary = m.rect;
        UnionRect(&all, &all, &m.rect);
    }
    switch (index)
    {
    case SM_CXSCREEN:
        return primary.right - primary.left;
    case SM_CYSCREEN:
        return primary.bottom - primary.top;
    case SM_CXVSCROLL:
    case SM_CYHSCROLL:
        return 17;
    case SM_CYCAPTION:
        return 22;
    case SM_CXBORDER:
    case SM_CYBORDER:
        return 1;
    case SM_CXDLGFRAME:
    case SM_CYDLGFRAME:
        return 3;
    case SM_CXFRAME:
    case SM_CYFRAME:
        return 4;
    case SM_CXICON:
    case SM_CYICON:
    case SM_CXCURSOR:
    case SM_CYCURSOR:
        return 32;
    case SM_CYMENU:
        return 20;
    case SM_CXDOUBLECLK:
    case SM_CYDOUBLECLK:
        return 4;
    case SM_CXDRAG:
    case SM_CYDRAG:
        return 4;
    case SM_XVIRTUALSCREEN:
        return all.left;
    case SM_YVIRTUALSCREEN:
        return all.top;
    case SM_CXVIRTUALSCREEN:
        return all.right - all.left;
    case SM_CYVIRTUALSCREEN:
        return all.bottom - all.top;
    case SM_CMONITORS:
        return static_cast<int>(S().monitors.size());
    default:
        return 0;
    }
}

UINT GetDoubleClickTime()
{
    return 500;
}
BOOL MessageBeep(UINT)
{
    return TRUE;
}

// ---------------------------------------------------------------------------------------------------
// The backend and the input it feeds in

namespace ferolt::win32::host
{
void SetBackend(ferolt::backend::Backend* b)
{
    // Waits for calls from other threads into the backend that goes.
    std::unique_lock removal(BackendRemovalLock());
    std::lock_guard g(S().lock);
    S().backend = b;
    S().backendThread = b ? CurrentThread() : 0;
}

ferolt::backend::Backend* GetBackend()
{
    std::lock_guard g(S().lock);
    return S().backend;
}

static WPARAM MouseFlagsLocked()
{
    auto& k = S().asyncKeys;
    WPARAM f = 0;
    if (k[VK_LBUTTON] & 0x80) f |= MK_LBUTTON;
    if (k[VK_RBUTTON] & 0x80) f |= MK_RBUTTON;
    if (k[VK_MBUTTON] & 0x80) f |= MK_MBUTTON;
    if (k[VK_SHIFT] & 0x80) f |= MK_SHIFT;
    if (k[VK_CONTROL] & 0x80) f |= MK_CONTROL;
    return f;
}

// Routes a mouse message: to the capture, else to the enabled window under the point.
static void PostMouse(UINT msg, POINT screen, WPARAM extra, bool wheel)
{
    HWND target = GetCapture();
    if (wheel)
    {
        HWND focus = GetFocus();
        target = focus ? focus : GetActiveWindow();
    }
    if (!target)
    {
        target = WindowFromPoint(screen);
        if (target == GetDesktopWindow()) return;
    }
    auto w = Find(target);
    if (!w) return;
    QueuedMessage qm;
    {
        std::lock_guard g(S().lock);
        // Disabled windows (the owner of a modal dialog) get no mouse input.
        for (auto p = w; p; p = FindLocked(p->parent))
            if (!p->enabled) return;
        if (!wheel && !S().capture && !PtInRect(&w->client, screen)) return;
        qm.input = true;
        qm.msg.hwnd = target;
        qm.msg.message = msg;
        qm.msg.wParam = MouseFlagsLocked() | extra;
        POINT c = screen;
        if (!wheel)
        {
            c.x -= w->client.left;
            c.y -= w->client.top;
        }
        qm.msg.lParam = MAKELPARAM(static_cast<WORD>(c.x), static_cast<WORD>(c.y));
        qm.msg.time = Now();
        qm.msg.pt = screen;
        qm.keys = std::make_shared<std::array<BYTE, 256>>(S().asyncKeys);
    }
    DWORD thread;
    {
        std::lock_guard g(S().lock);
        thread = w->thread;
    }
    Enqueue(target, thread, qm);
}

void MouseMove(POINT screen)
{
    {
        std::lock_guard g(S().lock);
        S().cursorPos = screen;
    }
    PostMouse(WM_MOUSEMOVE, screen, 0, false);
}

void MouseButton(Button button, bool down, POINT screen)
{
    int vk = button == Button::Left ? VK_LBUTTON : button == Button::Right ? VK_RBUTTON : VK_MBUTTON;
    UINT base = button == Button::Left    ? WM_LBUTTONDOWN
                : button == Button::Right ? WM_RBUTTONDOWN
                                          : WM_MBUTTONDOWN;
    {
        std::lock_guard g(S().lock);
        S().cursorPos = screen;
        auto& k = S().asyncKeys[static_cast<size_t>(vk)];
        if (down)
        {
            k = static_cast<BYTE>((k | 0x80) ^ 1);
            S().pressedSinceQuery[static_cast<size_t>(vk)] = 1;
        }
        else
        {
            k = static_cast<BYTE>(k & ~0x80);
        }
    }
    PostMouse(down ? base : base + 1, screen, 0, false);
}

void MouseWheel(int delta, POINT screen)
{
    {
        std::lock_guard g(S().lock);
        S().cursorPos = screen;
    }
    WPARAM hi = static_cast<WPARAM>(static_cast<WORD>(static_cast<SHORT>(std::clamp(delta, -32768, 32767))))
                << 16;
    PostMouse(WM_MOUSEWHEEL, screen, hi, true);
}

void Key(UINT vk, bool down, UINT scanCode, bool extended)
{
    if (vk == 0 || vk > 255) return;
    bool wasDown;
    QueuedMessage qm;
    HWND target;
    {
        std::lock_guard g(S().lock);
        auto& k = S().asyncKeys;
        wasDown = (k[vk] & 0x80) != 0;
        auto set = [&](size_t i)
        {
            if (down)
            {
                k[i] = static_cast<BYTE>(k[i] | 0x80);
                if (!wasDown) k[i] ^= 1;
                S().pressedSinceQuery[i] = 1;
            }
            else
            {
                k[i] = static_cast<BYTE>(k[i] & ~0x80);
            }
        };
        set(vk);
        // The generic and the left-hand codes of a modifier move together.
        if (vk == VK_SHIFT) set(VK_LSHIFT);
        if (vk == VK_CONTROL) set(VK_LCONTROL);
        if (vk == VK_MENU) set(VK_LMENU);
        if (vk == VK_LSHIFT || vk == VK_RSHIFT) set(VK_SHIFT);
        if (vk == VK_LCONTROL || vk == VK_RCONTROL) set(VK_CONTROL);
        if (vk == VK_LMENU || vk == VK_RMENU) set(VK_MENU);
        target = S().focus ? S().focus : S().active;
        bool alt = (k[VK_MENU] & 0x80) != 0;
        bool ctrl = (k[VK_CONTROL] & 0x80) != 0;
        bool sys = (alt && !ctrl) || vk == VK_F10 || vk == VK_MENU;
        UINT msg = down ? (sys ? WM_SYSKEYDOWN : WM_KEYDOWN) : (sys ? WM_SYSKEYUP : WM_KEYUP);
        LPARAM lp = 1 | (static_cast<LPARAM>(scanCode & 0xFF) << 16) | (extended ? (1 << 24) : 0) |
                    (alt ? (1 << 29) : 0) | ((down ? wasDown : true) ? (1 << 30) : 0) |
                    (down ? 0 : static_cast<LPARAM>(1u << 31));
        qm.input = true;
        qm.msg.hwnd = target;
        qm.msg.message = msg;
        qm.msg.wParam = vk;
        qm.msg.lParam = lp;
        qm.msg.time = Now();
        qm.msg.pt = S().cursorPos;
        qm.keys = std::make_shared<std::array<BYTE, 256>>(k);
    }
    if (!target) return;
    auto w = Find(target);
    if (!w) return;
    DWORD thread;
    {
        std::lock_guard g(S().lock);
        for (auto p = w; p; p = FindLocked(p->parent))
            if (!p->enabled) return;
        thread = w->thread;
    }
    Enqueue(target, thread, qm);
}

void WindowMovedByUser(HWND hwnd, const RECT& client)
{
    auto w = Find(hwnd);
    if (!w) return;
    DWORD style, ex;
    {
        std::lock_guard g(S().lock);
        if (w->parent) return;
        style = w->style;
        ex = w->exStyle;
    }
    RECT r = client;
    AdjustWindowRectEx(&r, style, FALSE, ex);
    SetWindowPos(hwnd, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    user::NoteHandledInput();
}

void CloseRequested(HWND hwnd)
{
    // Queued like the click on the close button it stands for: the waiting loop gets it, in order
    // with the input before it, and dispatching it closes the window.
    if (IsWindow(hwnd) && IsWindowEnabled(hwnd)) PostMessageA(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
}

void ActivatedByUser(HWND hwnd)
{
    if (!IsWindow(hwnd) || !IsWindowEnabled(hwnd)) return;
    SetActiveWindow(hwnd);
    user::NoteHandledInput();
}
} // namespace ferolt::win32::host
