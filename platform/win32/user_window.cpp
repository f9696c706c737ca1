// Window classes, windows, their geometry and text, the desktop, monitors and enumeration.
#include "platform/win32/user_internal.h"
#include "platform/win32/user_host.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/win32/winbase.h"

namespace ferolt::win32::user
{
State& S()
{
    static State* state = new State; // never destroyed: windows may outlive static destructors
    return *state;
}

DWORD CurrentThread()
{
    thread_local DWORD id = static_cast<DWORD>(syscall(SYS_gettid));
    return id;
}

DWORD Now()
{
    return GetTickCount();
}

std::string ToLower(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::shared_ptr<Window> FindLocked(HWND hwnd)
{
    auto it = S().windows.find(reinterpret_cast<uintptr_t>(hwnd));
    return it == S().windows.end() ? nullptr : it->second;
}

std::shared_ptr<Window> Find(HWND hwnd)
{
    if (!hwnd) return nullptr;
    EnsureDesktop();
    std::lock_guard g(S().lock);
    return FindLocked(hwnd);
}

bool IsVisibleLocked(const Window& w)
{
    const Window* p = &w;
    while (p)
    {
        if (!p->visible) return false;
        if (!p->parent) return true;
        auto parent = FindLocked(p->parent);
        p = parent.get();
    }
    return false;
}

ferolt::backend::WindowState StateOfLocked(const Window& w)
{
    ferolt::backend::WindowState s;
    s.parent = w.parent;
    s.owner = w.owner;
    s.className = w.cls ? w.cls->name : std::string();
    s.title = w.text;
    s.style = w.style;
    s.exStyle = w.exStyle;
    s.controlId = static_cast<int>(w.id);
    s.window = w.window;
    s.client = w.client;
    s.visible = w.visible;
    s.enabled = w.enabled;
    s.font = w.font;
    s.textColor = w.textColor;
    return s;
}

ferolt::backend::Backend* CurrentBackend()
{
    std::lock_guard g(S().lock);
    if (!S().backend || S().backendThread != CurrentThread()) return nullptr;
    return S().backend;
}

void NotifyWindowChanged(HWND hwnd, unsigned changes)
{
    ferolt::backend::Backend* b = CurrentBackend();
    if (!b) return;
    ferolt::backend::WindowState st;
    {
        std::lock_guard g(S().lock);
        auto w = FindLocked(hwnd);
        if (!w || !w->created) return;
        st = StateOfLocked(*w);
    }
    b->WindowChanged(hwnd, st, changes);
}

std::shared_mutex& BackendRemovalLock()
{
    static std::shared_mutex* lock = new std::shared_mutex;
    return *lock;
}

void CallBackendAnyThread(DWORD thread, const std::function<void(ferolt::backend::Backend*)>& call)
{
    DWORD self = CurrentThread();
    ferolt::backend::Backend* b = nullptr;
    {
        std::lock_guard g(S().lock);
        if (S().backendThread == self) b = S().backend;
    }
    if (b)
    {
        // Its own thread cannot remove the backend while this call runs, and the backend may
        // call SetBackend from inside it: no lock.
        if (!thread || thread == self) call(b);
        return;
    }
    std::shared_lock removal(BackendRemovalLock());
    {
        std::lock_guard g(S().lock);
        b = S().backend;
        if (b && thread && S().backendThread != thread) b = nullptr;
    }
    if (b) call(b);
}

void NotifySurface(HWND hwnd, const RECT& area)
{
    CallBackendAnyThread(0, [&](ferolt::backend::Backend* b) { b->SurfaceChanged(hwnd, area); });
}

void NotifyFocusChanged(HWND focus)
{
    if (auto b = CurrentBackend()) b->FocusChanged(focus);
}

// Frame sizes: 1 pixel for a border, 3 for a dialog frame, 4 for a sizing frame, 22 for a caption.
void FrameSize(DWORD style, DWORD exStyle, bool child, RECT* insets)
{
    int frame = 0;
    if (style & WS_THICKFRAME)
        frame = 4;
    else if ((style & WS_DLGFRAME) || (exStyle & WS_EX_DLGMODALFRAME))
        frame = 3;
    else if (style & WS_BORDER)
        frame = 1;
    if (exStyle & WS_EX_CLIENTEDGE) frame += 2;
    int caption = ((style & WS_CAPTION) == WS_CAPTION) ? 22 : 0;
    (void)child;
    *insets = RECT{frame, frame + caption, frame, frame};
}

void EnsureMonitors()
{
    std::lock_guard g(S().lock);
    if (!S().monitors.empty()) return;
    Monitor m;
    m.handle = reinterpret_cast<HMONITOR>(static_cast<uintptr_t>(0x70001));
    m.rect = RECT{0, 0, 1920, 1080};
    m.work = m.rect;
    m.primary = true;
    S().monitors.push_back(m);
}

static RECT PrimaryRect()
{
    EnsureMonitors();
    std::lock_guard g(S().lock);
    for (auto& m : S().monitors)
        if (m.primary) return m.rect;
    return S().monitors.front().rect;
}

void EnsureDesktop()
{
    static std::atomic<bool> ready{false}; // every handle look-up passes here
    if (ready.load(std::memory_order_acquire)) return;
    EnsureSystemClasses();
    RECT primary = PrimaryRect();
    std::lock_guard g(S().lock);
    if (S().desktop) return;
    auto w = std::make_shared<Window>();
    w->hwnd = reinterpret_cast<HWND>(S().nextWindow);
    S().nextWindow += 4;
    w->cls = S().classes["#32769"];
    w->kind = Kind::Desktop;
    w->proc = DefWindowProcA;
    w->style = WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN;
    w->window = primary;
    w->client = primary;
    w->visible = true;
    w->created = true;
    S().windows[reinterpret_cast<uintptr_t>(w->hwnd)] = w;
    S().desktop = w->hwnd;
    ready.store(true, std::memory_order_release);
}

static std::shared_ptr<WndClass> MakeClass(const char* name, WNDPROC proc, Kind kind, int extra)
{
    auto c = std::make_shared<WndClass>();
    c->name = name;
    c->proc = proc;
    c->kind = kind;
    c->wndExtra = extra;
    c->style = CS_GLOBALCLASS;
    return c;
}

void EnsureSystemClasses()
{
    std::lock_guard g(S().lock);
    if (S().classes.count("#32769")) return;
    S().classes["#32769"] = MakeClass("#32769", DefWindowProcA, Kind::Desktop, 0);
    S().classes["#32770"] = MakeClass("#32770", DialogProc, Kind::Dialog, 30);
    S().classes["edit"] = MakeClass("Edit", EditProc, Kind::Edit, 0);
    S().classes["static"] = MakeClass("Static", StaticProc, Kind::Static, 0);
    S().classes["button"] = MakeClass("Button", ButtonProc, Kind::Button, 0);
    S().classes["combobox"] = MakeClass("ComboBox", ComboProc, Kind::ComboBox, 0);
}

static std::string ClassKey(LPCSTR name)
{
    if (!name) return {};
    if (IS_INTRESOURCE(name)) return "#" + std::to_string(reinterpret_cast<uintptr_t>(name));
    return ToLower(name);
}

// Moves a window and its descendants by (dx, dy) on the screen. Lock held.
static void ShiftLocked(Window& w, int dx, int dy)
{
    OffsetRect(&w.window, dx, dy);
    OffsetRect(&w.client, dx, dy);
    for (HWND c : w.children)
        if (auto cw = FindLocked(c)) ShiftLocked(*cw, dx, dy);
}

static void ClampRect(RECT* r)
{
    auto clamp = [](LONG v) { return std::clamp<LONG>(v, -kMaxCoordinate, kMaxCoordinate); };
    r->left = clamp(r->left);
    r->top = clamp(r->top);
    r->right = std::max<LONG>(LONG{r->left}, clamp(r->right));
    r->bottom = std::max<LONG>(LONG{r->top}, clamp(r->bottom));
}

// Parent's client origin on the screen (0, 0 for top-level windows). Lock held.
static POINT OriginLocked(HWND parent)
{
    if (!parent) return POINT{0, 0};
    auto p = FindLocked(parent);
    if (!p) return POINT{0, 0};
    return POINT{p->client.left, p->client.top};
}

// Computes the client rectangle through WM_NCCALCSIZE and stores window and client rectangles.
static void ApplyGeometry(const std::shared_ptr<Window>& w, RECT windowScreen, bool sendCalc)
{
    ClampRect(&windowScreen);
    POINT origin;
    {
        std::lock_guard g(S().lock);
        origin = OriginLocked(w->parent);
    }
    RECT client = windowScreen;
    if (sendCalc)
    {
        NCCALCSIZE_PARAMS params{};
        WINDOWPOS pos{};
        pos.hwnd = w->hwnd;
        pos.x = windowScreen.left - origin.x;
        pos.y = windowScreen.top - origin.y;
        pos.cx = windowScreen.right - windowScreen.left;
        pos.cy = windowScreen.bottom - windowScreen.top;
        params.rgrc[0] = windowScreen;
        OffsetRect(&params.rgrc[0], -origin.x, -origin.y);
        {
            std::lock_guard g(S().lock);
            params.rgrc[1] = w->window;
            params.rgrc[2] = w->client;
        }
        OffsetRect(&params.rgrc[1], -origin.x, -origin.y);
        OffsetRect(&params.rgrc[2], -origin.x, -origin.y);
        params.lppos = &pos;
        CallProc(w, WM_NCCALCSIZE, TRUE, reinterpret_cast<LPARAM>(&params));
        client = params.rgrc[0];
        OffsetRect(&client, origin.x, origin.y);
        // A procedure may leave nonsense; keep the client inside sane bounds.
        ClampRect(&client);
    }
    std::lock_guard g(S().lock);
    int dx = windowScreen.left - w->window.left;
    int dy = windowScreen.top - w->window.top;
    // Children keep their place relative to the client origin.
    int cdx = client.left - w->client.left;
    int cdy = client.top - w->client.top;
    (void)dx;
    (void)dy;
    for (HWND c : w->children)
        if (auto cw = FindLocked(c)) ShiftLocked(*cw, cdx, cdy);
    w->window = windowScreen;
    w->client = client;
}

LRESULT CallProc(const std::shared_ptr<Window>& w, UINT msg, WPARAM wParam, LPARAM lParam)
{
    WNDPROC proc;
    {
        std::lock_guard g(S().lock);
        proc = w->proc;
    }
    return proc ? proc(w->hwnd, msg, wParam, lParam) : 0;
}

void InvalidateLocked(Window& w, const RECT* rect, bool erase)
{
    RECT full{0, 0, w.client.right - w.client.left, w.client.bottom - w.client.top};
    RECT r = full;
    if (rect && !IntersectRect(&r, rect, &full)) return;
    if (IsRectEmpty(&r)) return;
    if (w.hasUpdate)
        UnionRect(&w.update, &w.update, &r);
    else
        w.update = r;
    w.hasUpdate = true;
    w.erase = w.erase || erase;
    if (auto q = QueueLocked(w.thread)) q->wake.notify_all();
}
} // namespace ferolt::win32::user

using namespace ferolt::win32::user;
using ferolt::win32::user::S;

// ---------------------------------------------------------------------------------------------------
// Classes

static ATOM RegisterClassCommon(const WNDCLASSEXA& wc)
{
    if (!wc.lpszClassName || !wc.lpfnWndProc) return 0;
    EnsureSystemClasses();
    std::string key = ClassKey(wc.lpszClassName);
    if (key.empty() || key.size() > 256) return 0;
    std::lock_guard g(S().lock);
    if (S().classes.count(key)) return 0; // already registered
    auto c = std::make_shared<WndClass>();
    c->name = IS_INTRESOURCE(wc.lpszClassName) ? key : std::string(wc.lpszClassName);
    c->style = wc.style;
    c->proc = wc.lpfnWndProc;
    c->instance = wc.hInstance;
    c->icon = wc.hIcon;
    c->cursor = wc.hCursor;
    c->background = wc.hbrBackground;
    c->wndExtra = std::clamp(wc.cbWndExtra, 0, 1024);
    S().classes[key] = c;
    static ATOM next = 0xC000;
    return next++;
}

ATOM RegisterClassA(const WNDCLASSA* wc)
{
    if (!wc) return 0;
    WNDCLASSEXA ex{};
    ex.cbSize = sizeof(ex);
    ex.style = wc->style;
    ex.lpfnWndProc = wc->lpfnWndProc;
    ex.cbClsExtra = wc->cbClsExtra;
    ex.cbWndExtra = wc->cbWndExtra;
    ex.hInstance = wc->hInstance;
    ex.hIcon = wc->hIcon;
    ex.hCursor = wc->hCursor;
    ex.hbrBackground = wc->hbrBackground;
    ex.lpszMenuName = wc->lpszMenuName;
    ex.lpszClassName = wc->lpszClassName;
    return RegisterClassCommon(ex);
}

ATOM RegisterClassExA(const WNDCLASSEXA* wc)
{
    return wc ? RegisterClassCommon(*wc) : 0;
}

BOOL UnregisterClassA(LPCSTR className, HINSTANCE)
{
    std::string key = ClassKey(className);
    std::lock_guard g(S().lock);
    auto it = S().classes.find(key);
    if (it == S().classes.end() || it->second->kind != Kind::Generic) return FALSE;
    for (auto& [id, w] : S().windows)
        if (w->cls == it->second) return FALSE; // still in use
    S().classes.erase(it);
    return TRUE;
}

BOOL GetClassInfoA(HINSTANCE, LPCSTR className, WNDCLASSA* out)
{
    EnsureSystemClasses();
    std::string key = ClassKey(className);
    std::lock_guard g(S().lock);
    auto it = S().classes.find(key);
    if (it == S().classes.end()) return FALSE;
    if (out)
    {
        *out = WNDCLASSA{};
        out->style = it->second->style;
        out->lpfnWndProc = it->second->proc;
        out->cbWndExtra = it->second->wndExtra;
        out->hInstance = it->second->instance;
        out->hIcon = it->second->icon;
        out->hCursor = it->second->cursor;
        out->hbrBackground = it->second->background;
        out->lpszClassName = it->second->name.c_str();
    }
    return TRUE;
}

int GetClassNameA(HWND hwnd, LPSTR buffer, int max)
{
    auto w = Find(hwnd);
    if (!w || !buffer || max <= 0) return 0;
    std::lock_guard g(S().lock);
    const std::string& n = w->cls->name;
    int len = std::min<int>(static_cast<int>(n.size()), max - 1);
    std::memcpy(buffer, n.data(), static_cast<size_t>(len));
    buffer[len] = 0;
    return len;
}

// ---------------------------------------------------------------------------------------------------
// Creation hooks

namespace
{
struct Hook
{
    HOOKPROC proc;
    uintptr_t id;
};
thread_local std::vector<Hook> t_hooks;        // newest first
thread_local std::vector<size_t> t_hookCursor; // position of CallNextHookEx per running hook chain
uintptr_t NextHookId()
{
    static std::atomic<uintptr_t> next{0x90010};
    return next.fetch_add(4);
}

// Runs the chain; a nonzero result of the first hook refuses the creation.
bool RunCreateHooks(HWND hwnd, CREATESTRUCTA* cs)
{
    if (t_hooks.empty()) return true;
    CBT_CREATEWNDA info{cs, HWND_TOP};
    t_hookCursor.push_back(1);
    LRESULT r =
        t_hooks.front().proc(HCBT_CREATEWND, reinterpret_cast<WPARAM>(hwnd), reinterpret_cast<LPARAM>(&info));
    t_hookCursor.pop_back();
    return r == 0;
}
} // namespace

HHOOK SetWindowsHookExA(int type, HOOKPROC proc, HINSTANCE, DWORD threadId)
{
    if (type != WH_CBT || !proc || (threadId && threadId != CurrentThread())) return nullptr;
    uintptr_t id = NextHookId();
    t_hooks.insert(t_hooks.begin(), Hook{proc, id});
    return reinterpret_cast<HHOOK>(id);
}

BOOL UnhookWindowsHookEx(HHOOK hook)
{
    auto id = reinterpret_cast<uintptr_t>(hook);
    for (auto it = t_hooks.begin(); it != t_hooks.end(); ++it)
        if (it->id == id)
        {
            t_hooks.erase(it);
            return TRUE;
        }
    return FALSE;
}

LRESULT CallNextHookEx(HHOOK, int code, WPARAM wParam, LPARAM lParam)
{
    if (t_hookCursor.empty()) return 0;
    size_t& at = t_hookCursor.back();
    if (at >= t_hooks.size()) return 0;
    HOOKPROC next = t_hooks[at++].proc;
    return next(code, wParam, lParam);
}

// ---------------------------------------------------------------------------------------------------
// Creation and destruction

namespace
{
// Where a new window hangs: a child under its parent, a top-level window under its owner.
struct Links
{
    HWND parent = nullptr;
    HWND owner = nullptr;
    bool child = false;
};

// The class and the links of a new window; false when the class is unknown or the parent unusable.
bool ResolveClassAndLinks(LPCSTR className, DWORD style, HWND parent, std::shared_ptr<WndClass>* cls,
                          Links* links)
{
    HWND desktop;
    {
        std::lock_guard g(S().lock);
        auto it = S().classes.find(ClassKey(className));
        if (it == S().classes.end()) return false;
        *cls = it->second;
        desktop = S().desktop;
    }
    if (parent == desktop) parent = nullptr;
    links->child = (style & WS_CHILD) != 0;
    if (links->child && !parent) return false; // a child needs a parent
    if (parent && !Find(parent)) return false;
    if (!links->child && parent)
    {
        // A top-level window's "parent" is its owner: the owner's top-level ancestor.
        links->owner = GetAncestor(parent, GA_ROOT);
        parent = nullptr;
    }
    links->parent = parent;
    return true;
}

// CW_USEDEFAULT placed on the primary monitor, and every coordinate clamped to what the layer holds.
void PlaceNewWindow(const RECT& primary, int* x, int* y, int* width, int* height)
{
    if (*x == CW_USEDEFAULT)
    {
        *x = primary.left + 26;
        *y = primary.top + 26;
    }
    if (*width == CW_USEDEFAULT)
    {
        *width = (primary.right - primary.left) * 3 / 4;
        *height = (primary.bottom - primary.top) * 3 / 4;
    }
    *width = std::clamp(*width, 0, kMaxCoordinate);
    *height = std::clamp(*height, 0, kMaxCoordinate);
    *x = std::clamp(*x, -kMaxCoordinate, kMaxCoordinate);
    *y = std::clamp(*y, -kMaxCoordinate, kMaxCoordinate);
}

// The window's record, given its handle and entered among the windows, hidden until it is shown.
std::shared_ptr<Window> RegisterNewWindow(const std::shared_ptr<WndClass>& cls, const CREATESTRUCTA& cs,
                                          const Links& links)
{
    auto w = std::make_shared<Window>();
    std::lock_guard g(S().lock);
    w->hwnd = reinterpret_cast<HWND>(S().nextWindow);
    S().nextWindow += 4;
    w->cls = cls;
    w->kind = cls->kind;
    w->proc = cls->proc;
    w->style = static_cast<DWORD>(cs.style) & ~WS_VISIBLE;
    w->exStyle = cs.dwExStyle;
    w->parent = links.parent;
    w->owner = links.owner;
    w->thread = CurrentThread();
    w->instance = cs.hInstance;
    w->id = links.child ? static_cast<LONG_PTR>(reinterpret_cast<uintptr_t>(cs.hMenu)) : 0;
    w->text = cs.lpszName && !IS_INTRESOURCE(cs.lpszName) ? std::string(cs.lpszName).substr(0, kMaxText) : "";
    w->extra.assign(static_cast<size_t>(cls->wndExtra + 7) / 8 + 4, 0);
    POINT o = OriginLocked(links.parent);
    w->window = RECT{o.x + cs.x, o.y + cs.y, o.x + cs.x + cs.cx, o.y + cs.y + cs.cy};
    w->client = w->window;
    S().windows[reinterpret_cast<uintptr_t>(w->hwnd)] = w;
    QueueLocked(w->thread);
    if (links.parent)
    {
        if (auto p = FindLocked(links.parent)) p->children.push_back(w->hwnd);
    }
    else
    {
        S().topLevel.insert(S().topLevel.begin(), w->hwnd);
    }
    return w;
}

// The hooks, then WM_GETMINMAXINFO (top-level windows), WM_NCCREATE, the frame and WM_CREATE; false when
// one of them refuses the window, which is then gone.
bool SendCreationMessages(const std::shared_ptr<Window>& w, CREATESTRUCTA* cs, bool child,
                          const RECT& primary)
{
    HWND hwnd = w->hwnd;
    if (!RunCreateHooks(hwnd, cs))
    {
        DestroyWindow(hwnd);
        return false;
    }
    if (!child)
    {
        MINMAXINFO mmi{};
        mmi.ptMaxSize = POINT{primary.right - primary.left, primary.bottom - primary.top};
        mmi.ptMaxTrackSize = POINT{kMaxCoordinate, kMaxCoordinate};
        CallProc(w, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&mmi));
    }
    if (!CallProc(w, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(cs)) || !IsWindow(hwnd))
    {
        if (IsWindow(hwnd)) DestroyWindow(hwnd);
        return false;
    }
    RECT wr;
    {
        std::lock_guard g(S().lock);
        wr = w->window;
    }
    ApplyGeometry(w, wr, true);
    if (CallProc(w, WM_CREATE, 0, reinterpret_cast<LPARAM>(cs)) == -1 || !IsWindow(hwnd))
    {
        if (IsWindow(hwnd)) DestroyWindow(hwnd);
        return false;
    }
    return true;
}

// Tells the backend the window exists, then gives the window its first size and position.
void AnnounceCreated(const std::shared_ptr<Window>& w)
{
    ferolt::backend::WindowState st;
    {
        std::lock_guard g(S().lock);
        w->created = true;
        st = StateOfLocked(*w);
    }
    if (auto b = CurrentBackend()) b->WindowCreated(w->hwnd, st);
    RECT cr;
    POINT o;
    {
        std::lock_guard g(S().lock);
        cr = w->client;
        o = OriginLocked(w->parent);
    }
    CallProc(w, WM_SIZE, SIZE_RESTORED, MAKELPARAM(cr.right - cr.left, cr.bottom - cr.top));
    CallProc(w, WM_MOVE, 0, MAKELPARAM(cr.left - o.x, cr.top - o.y));
}
} // namespace

HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y, int width,
                     int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param)
{
    EnsureDesktop();
    std::shared_ptr<WndClass> cls;
    Links links;
    if (!ResolveClassAndLinks(className, style, parent, &cls, &links)) return nullptr;
    const RECT primary = PrimaryRect();
    PlaceNewWindow(primary, &x, &y, &width, &height);

    CREATESTRUCTA cs{};
    cs.lpCreateParams = param;
    cs.hInstance = instance;
    cs.hMenu = menu;
    cs.hwndParent = links.parent ? links.parent : links.owner;
    cs.cx = width;
    cs.cy = height;
    cs.x = x;
    cs.y = y;
    cs.style = static_cast<LONG>(style);
    cs.lpszName = windowName;
    cs.lpszClass = className;
    cs.dwExStyle = exStyle;
    std::shared_ptr<Window> w = RegisterNewWindow(cls, cs, links);
    HWND hwnd = w->hwnd;

    if (!SendCreationMessages(w, &cs, links.child, primary)) return nullptr;
    AnnounceCreated(w);
    if (!IsWindow(hwnd)) return nullptr;
    if (style & WS_VISIBLE) ShowWindow(hwnd, SW_SHOW);
    return IsWindow(hwnd) ? hwnd : nullptr;
}

static void CollectDescendants(HWND hwnd, std::vector<HWND>& out)
{
    std::vector<HWND> kids;
    {
        std::lock_guard g(S().lock);
        auto w = FindLocked(hwnd);
        if (!w) return;
        kids = w->children;
    }
    for (HWND c : kids)
    {
        out.push_back(c);
        CollectDescendants(c, out);
    }
}

BOOL DestroyWindow(HWND hwnd)
{
    auto w = Find(hwnd);
    if (!w) return FALSE;
    {
        std::lock_guard g(S().lock);
        if (w->kind == Kind::Desktop || w->destroying) return FALSE;
        if (w->thread != CurrentThread()) return FALSE; // only the owning thread may destroy
        w->destroying = true;
    }
    // Owned windows go first.
    std::vector<HWND> owned;
    {
        std::lock_guard g(S().lock);
        for (HWND t : S().topLevel)
            if (auto tw = FindLocked(t); tw && tw->owner == hwnd) owned.push_back(t);
    }
    for (HWND o : owned)
        DestroyWindow(o);

    bool wasVisible;
    {
        std::lock_guard g(S().lock);
        wasVisible = w->visible;
        w->visible = false;
    }
    if (wasVisible) NotifyWindowChanged(hwnd, ferolt::backend::kChangedVisible);

    std::vector<HWND> all{hwnd};
    CollectDescendants(hwnd, all);

    // Capture, focus and activation leave the window before it goes.
    HWND capture, focus, active;
    {
        std::lock_guard g(S().lock);
        capture = S().capture;
        focus = S().focus;
        active = S().active;
    }
    auto contains = [&](HWND h) { return h && std::find(all.begin(), all.end(), h) != all.end(); };
    if (contains(capture)) ReleaseCapture();
    if (contains(focus))
    {
        {
            std::lock_guard g(S().lock);
            S().focus = nullptr;
        }
        NotifyFocusChanged(nullptr);
        if (auto fw = Find(focus)) CallProc(fw, WM_KILLFOCUS, 0, 0);
    }
    if (contains(active))
    {
        {
            std::lock_guard g(S().lock);
            S().active = nullptr;
        }
        if (auto aw = Find(active)) CallProc(aw, WM_ACTIVATE, WA_INACTIVE, 0);
        HWND next = nullptr;
        {
            std::lock_guard g(S().lock);
            if (w->owner && FindLocked(w->owner) && IsVisibleLocked(*FindLocked(w->owner))) next = w->owner;
        }
        if (next) SetActiveWindow(next);
    }

    // WM_DESTROY parent first, WM_NCDESTROY children first.
    for (HWND h : all)
        if (auto x = Find(h)) CallProc(x, WM_DESTROY, 0, 0);
    for (auto it = all.rbegin(); it != all.rend(); ++it)
        if (auto x = Find(*it)) CallProc(x, WM_NCDESTROY, 0, 0);

    {
        std::lock_guard g(S().lock);
        for (HWND h : all)
        {
            auto x = FindLocked(h);
            if (!x) continue;
            if (auto q = QueueLocked(x->thread))
            {
                auto& t = q->timers;
                t.erase(std::remove_if(t.begin(), t.end(), [h](const Timer& tm) { return tm.hwnd == h; }),
                        t.end());
            }
            S().windows.erase(reinterpret_cast<uintptr_t>(h));
        }
        if (w->parent)
        {
            if (auto p = FindLocked(w->parent))
                p->children.erase(std::remove(p->children.begin(), p->children.end(), hwnd),
                                  p->children.end());
        }
        auto& tl = S().topLevel;
        tl.erase(std::remove(tl.begin(), tl.end(), hwnd), tl.end());
    }
    if (auto b = CurrentBackend())
        for (auto it = all.rbegin(); it != all.rend(); ++it)
            b->WindowDestroyed(*it);
    return TRUE;
}

BOOL IsWindow(HWND hwnd)
{
    return Find(hwnd) ? TRUE : FALSE;
}

BOOL IsWindowVisible(HWND hwnd)
{
    auto w = Find(hwnd);
    if (!w) return FALSE;
    std::lock_guard g(S().lock);
    return IsVisibleLocked(*w) ? TRUE : FALSE;
}

BOOL IsWindowEnabled(HWND hwnd)
{
    auto w = Find(hwnd);
    if (!w) return FALSE;
    std::lock_guard g(S().lock);
    return w->enabled ? TRUE : FALSE;
}

BOOL EnableWindow(HWND hwnd, BOOL enable)
{
    auto w = Find(hwnd);
    if (!w) return FALSE;
    bool was;
    {
        std::lock_guard g(S().lock);
        was = w->enabled;
        w->enabled = enable != FALSE;
        if (enable)
            w->style &= ~static_cast<DWORD>(WS_DISABLED);
        else
            w->style |= WS_DISABLED;
    }
    if (was != (enable != FALSE))
    {
        if (!enable)
        {
            HWND focus = GetFocus();
            if (focus == hwnd || IsChild(hwnd, focus)) SetFocus(nullptr);
        }
        CallProc(w, WM_ENABLE, enable ? TRUE : FALSE, 0);
        NotifyWindowChanged(hwnd, ferolt::backend::kChangedEnabled);
    }
    return was ? FALSE : TRUE; // nonzero when it was disabled before
}

BOOL IsChild(HWND parent, HWND hwnd)
{
    if (!parent || !hwnd) return FALSE;
    std::lock_guard g(S().lock);
    auto w = FindLocked(hwnd);
    while (w && w->parent)
    {
        if (w->parent == parent) return TRUE;
        w = FindLocked(w->parent);
    }
    return FALSE;
}

BOOL ShowWindow(HWND hwnd, int cmd)
{
    auto w = Find(hwnd);
    if (!w) return FALSE;
    bool show = cmd != SW_HIDE;
    bool was;
    bool child;
    {
        std::lock_guard g(S().lock);
        was = w->visible;
        child = w->parent != nullptr;
    }
    if (was == show) return was ? TRUE : FALSE;
    CallProc(w, WM_SHOWWINDOW, show ? TRUE : FALSE, 0);
    {
        std::lock_guard g(S().lock);
        w->visible = show;
        if (show)
        {
            w->style |= WS_VISIBLE;
            InvalidateLocked(*w, nullptr, true);
            for (HWND c : w->children)
                if (auto cw = FindLocked(c)) InvalidateLocked(*cw, nullptr, true);
        }
        else
        {
            w->style &= ~static_cast<DWORD>(WS_VISIBLE);
        }
    }
    NotifyWindowChanged(hwnd, ferolt::backend::kChangedVisible);
    if (show && !child && cmd != SW_SHOWNA && cmd != SW_SHOWNOACTIVATE) SetActiveWindow(hwnd);
    if (!show)
    {
        HWND focus = GetFocus();
        if (focus == hwnd || IsChild(hwnd, focus)) SetFocus(nullptr);
        if (GetActiveWindow() == hwnd)
        {
            HWND owner;
            {
                std::lock_guard g(S().lock);
                owner = w->owner;
                S().active = nullptr;
            }
            CallProc(w, WM_ACTIVATE, WA_INACTIVE, 0);
            if (owner && IsWindowVisible(owner)) SetActiveWindow(owner);
        }
    }
    return was ? TRUE : FALSE;
}

// ---------------------------------------------------------------------------------------------------
// Geometry

BOOL GetClientRect(HWND hwnd, LPRECT rect)
{
    auto w = Find(hwnd);
    if (!w || !rect) return FALSE;
    std::lock_guard g(S().lock);
    *rect = RECT{0, 0, w->client.right - w->client.left, w->client.bottom - w->client.top};
    return TRUE;
}

BOOL GetWindowRect(HWND hwnd, LPRECT rect)
{
    auto w = Find(hwnd);
    if (!w || !rect) return FALSE;
    std::lock_guard g(S().lock);
    *rect = w->window;
    return TRUE;
}

BOOL ClientToScreen(HWND hwnd, LPPOINT pt)
{
    auto w = Find(hwnd);
    if (!w || !pt) return FALSE;
    std::lock_guard g(S().lock);
    pt->x += w->client.left;
    pt->y += w->client.top;
    return TRUE;
}

BOOL ScreenToClient(HWND hwnd, LPPOINT pt)
{
    auto w = Find(hwnd);
    if (!w || !pt) return FALSE;
    std::lock_guard g(S().lock);
    pt->x -= w->client.left;
    pt->y -= w->client.top;
    return TRUE;
}

int MapWindowPoints(HWND from, HWND to, LPPOINT pts, UINT count)
{
    POINT a{0, 0}, b{0, 0};
    if (from && !ClientToScreen(from, &a)) return 0;
    if (to && !ClientToScreen(to, &b)) return 0;
    int dx = a.x - b.x, dy = a.y - b.y;
    for (UINT i = 0; pts && i < count; ++i)
    {
        pts[i].x += dx;
        pts[i].y += dy;
    }
    return MAKELONG(static_cast<WORD>(dx), static_cast<WORD>(dy));
}

static void NotifyDescendantsMoved(HWND hwnd)
{
    std::vector<HWND> all;
    CollectDescendants(hwnd, all);
    for (HWND c : all)
        NotifyWindowChanged(c, ferolt::backend::kChangedPosition);
}

BOOL SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags)
{
    auto w = Find(hwnd);
    if (!w) return FALSE;
    RECT old, oldClient;
    POINT origin;
    {
        std::lock_guard g(S().lock);
        if (w->kind == Kind::Desktop) return FALSE;
        old = w->window;
        oldClient = w->client;
        origin = OriginLocked(w->parent);
    }
    WINDOWPOS pos{};
    pos.hwnd = hwnd;
    pos.hwndInsertAfter = insertAfter;
    pos.x = (flags & SWP_NOMOVE) ? old.left - origin.x : x;
    pos.y = (flags & SWP_NOMOVE) ? old.top - origin.y : y;
    pos.cx = (flags & SWP_NOSIZE) ? old.right - old.left : cx;
    pos.cy = (flags & SWP_NOSIZE) ? old.bottom - old.top : cy;
    pos.flags = flags;
    CallProc(w, WM_WINDOWPOSCHANGING, 0, reinterpret_cast<LPARAM>(&pos));
    if (!IsWindow(hwnd)) return FALSE;
    pos.cx = std::clamp(pos.cx, 0, kMaxCoordinate);
    pos.cy = std::clamp(pos.cy, 0, kMaxCoordinate);
    pos.x = std::clamp(pos.x, -kMaxCoordinate, kMaxCoordinate);
    pos.y = std::clamp(pos.y, -kMaxCoordinate, kMaxCoordinate);
    RECT nw{origin.x + pos.x, origin.y + pos.y, origin.x + pos.x + pos.cx, origin.y + pos.y + pos.cy};
    bool moved = nw.left != old.left || nw.top != old.top;
    bool sized =
        (nw.right - nw.left) != (old.right - old.left) || (nw.bottom - nw.top) != (old.bottom - old.top);
    if (moved && !sized && !(flags & SWP_FRAMECHANGED))
    {
        std::lock_guard g(S().lock);
        ShiftLocked(*w, nw.left - old.left, nw.top - old.top);
    }
    else if (moved || sized || (flags & SWP_FRAMECHANGED))
    {
        ApplyGeometry(w, nw, true);
    }
    RECT newClient;
    {
        std::lock_guard g(S().lock);
        newClient = w->client;
        bool clientSized = (newClient.right - newClient.left) != (oldClient.right - oldClient.left) ||
                           (newClient.bottom - newClient.top) != (oldClient.bottom - oldClient.top);
        if (clientSized && !(flags & SWP_NOREDRAW)) InvalidateLocked(*w, nullptr, true);
    }
    pos.x = nw.left - origin.x;
    pos.y = nw.top - origin.y;
    pos.flags =
        flags | (moved ? 0u : static_cast<UINT>(SWP_NOMOVE)) | (sized ? 0u : static_cast<UINT>(SWP_NOSIZE));
    CallProc(w, WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&pos));
    unsigned changes =
        (moved ? ferolt::backend::kChangedPosition : 0u) | (sized ? ferolt::backend::kChangedSize : 0u);
    if (changes) NotifyWindowChanged(hwnd, changes);
    // Children keep their place in the client area, so their screen rectangles moved with it.
    if (newClient.left != oldClient.left || newClient.top != oldClient.top) NotifyDescendantsMoved(hwnd);
    if (flags & SWP_SHOWWINDOW) ShowWindow(hwnd, SW_SHOW);
    if (flags & SWP_HIDEWINDOW) ShowWindow(hwnd, SW_HIDE);
    return TRUE;
}

BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint)
{
    return SetWindowPos(hwnd, nullptr, x, y, width, height,
                        SWP_NOZORDER | SWP_NOACTIVATE | (repaint ? 0u : static_cast<UINT>(SWP_NOREDRAW)));
}

BOOL AdjustWindowRectEx(LPRECT rect, DWORD style, BOOL, DWORD exStyle)
{
    if (!rect) return FALSE;
    RECT in;
    FrameSize(style, exStyle, (style & WS_CHILD) != 0, &in);
    rect->left -= in.left;
    rect->top -= in.top;
    rect->right += in.right;
    rect->bottom += in.bottom;
    return TRUE;
}

BOOL SetWindowTextA(HWND hwnd, LPCSTR text)
{
    auto w = Find(hwnd);
    if (!w) return FALSE;
    return CallProc(w, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text ? text : "")) ? TRUE : FALSE;
}

int GetWindowTextA(HWND hwnd, LPSTR buffer, int max)
{
    auto w = Find(hwnd);
    if (!w || !buffer || max <= 0) return 0;
    return static_cast<int>(
        CallProc(w, WM_GETTEXT, static_cast<WPARAM>(max), reinterpret_cast<LPARAM>(buffer)));
}

int GetWindowTextLengthA(HWND hwnd)
{
    auto w = Find(hwnd);
    if (!w) return 0;
    return static_cast<int>(CallProc(w, WM_GETTEXTLENGTH, 0, 0));
}

// ---------------------------------------------------------------------------------------------------
// Relations

HWND GetDesktopWindow()
{
    EnsureDesktop();
    std::lock_guard g(S().lock);
    return S().desktop;
}

HWND GetParent(HWND hwnd)
{
    auto w = Find(hwnd);
    if (!w) return nullptr;
    std::lock_guard g(S().lock);
    if (w->style & WS_CHILD) return w->parent;
    return w->owner;
}

HWND SetParent(HWND child, HWND parent)
{
    auto w = Find(child);
    if (!w) return nullptr;
    HWND desktop = GetDesktopWindow();
    if (parent == desktop) parent = nullptr;
    if (parent && !Find(parent)) return nullptr;
    std::unique_lock g(S().lock);
    HWND old = w->parent;
    if (old)
    {
        if (auto p = FindLocked(old))
            p->children.erase(std::remove(p->children.begin(), p->children.end(), child), p->children.end());
    }
    else
    {
        auto& tl = S().topLevel;
        tl.erase(std::remove(tl.begin(), tl.end(), child), tl.end());
    }
    // The window keeps its place relative to the new parent's client origin.
    POINT oldOrigin = OriginLocked(old);
    POINT newOrigin = OriginLocked(parent);
    ShiftLocked(*w, newOrigin.x - oldOrigin.x, newOrigin.y - oldOrigin.y);
    w->parent = parent;
    if (parent)
        FindLocked(parent)->children.push_back(child);
    else
        S().topLevel.insert(S().topLevel.begin(), child);
    g.unlock();
    NotifyWindowChanged(child, ferolt::backend::kChangedPosition);
    NotifyDescendantsMoved(child);
    return old ? old : desktop;
}

HWND GetAncestor(HWND hwnd, UINT flags)
{
    auto w = Find(hwnd);
    if (!w) return nullptr;
    std::lock_guard g(S().lock);
    if (w->kind == Kind::Desktop) return nullptr;
    if (flags == GA_PARENT) return w->parent ? w->parent : S().desktop;
    while (w->parent)
    {
        auto p = FindLocked(w->parent);
        if (!p) break;
        w = p;
    }
    if (flags == GA_ROOTOWNER)
        while (w->owner)
        {
            auto o = FindLocked(w->owner);
            if (!o) break;
            w = o;
        }
    return w->hwnd;
}

HWND GetWindow(HWND hwnd, UINT cmd)
{
    auto w = Find(hwnd);
    if (!w) return nullptr;
    std::lock_guard g(S().lock);
    if (cmd == GW_OWNER) return w->owner;
    if (cmd == GW_CHILD)
    {
        if (w->kind == Kind::Desktop) return S().topLevel.empty() ? nullptr : S().topLevel.front();
        return w->children.empty() ? nullptr : w->children.front();
    }
    std::vector<HWND>* list = &S().topLevel;
    if (w->parent)
    {
        auto p = FindLocked(w->parent);
        if (!p) return nullptr;
        list = &p->children;
    }
    auto it = std::find(list->begin(), list->end(), hwnd);
    if (it == list->end()) return nullptr;
    switch (cmd)
    {
    case GW_HWNDFIRST:
        return list->front();
    case GW_HWNDLAST:
        return list->back();
    case GW_HWNDNEXT:
        return (it + 1 == list->end()) ? nullptr : *(it + 1);
    case GW_HWNDPREV:
        return it == list->begin() ? nullptr : *(it - 1);
    default:
        return nullptr;
    }
}

HWND GetTopWindow(HWND hwnd)
{
    return GetWindow(hwnd ? hwnd : GetDesktopWindow(), GW_CHILD);
}

HWND FindWindowA(LPCSTR className, LPCSTR windowName)
{
    EnsureDesktop();
    std::lock_guard g(S().lock);
    std::string key = ClassKey(className);
    for (HWND h : S().topLevel)
    {
        auto w = FindLocked(h);
        if (!w) continue;
        if (className && ToLower(w->cls->name) != key) continue;
        if (windowName && w->text != windowName) continue;
        return h;
    }
    return nullptr;
}

BOOL EnumWindows(WNDENUMPROC proc, LPARAM param)
{
    if (!proc) return FALSE;
    EnsureDesktop();
    std::vector<HWND> list;
    {
        std::lock_guard g(S().lock);
        list = S().topLevel;
    }
    for (HWND h : list)
        if (IsWindow(h) && !proc(h, param)) return FALSE;
    return TRUE;
}

BOOL EnumChildWindows(HWND parent, WNDENUMPROC proc, LPARAM param)
{
    if (!proc) return FALSE;
    if (!parent || parent == GetDesktopWindow()) return EnumWindows(proc, param);
    std::vector<HWND> all;
    CollectDescendants(parent, all);
    for (HWND h : all)
        if (IsWindow(h) && !proc(h, param)) return FALSE;
    return TRUE;
}

BOOL EnumThreadWindows(DWORD threadId, WNDENUMPROC proc, LPARAM param)
{
    if (!proc) return FALSE;
    std::vector<HWND> list;
    {
        std::lock_guard g(S().lock);
        for (HWND h : S().topLevel)
            if (auto w = FindLocked(h); w && w->thread == threadId) list.push_back(h);
    }
    for (HWND h : list)
        if (IsWindow(h) && !proc(h, param)) return FALSE;
    return TRUE;
}

DWORD GetWindowThreadProcessId(HWND hwnd, LPDWORD processId)
{
    auto w = Find(hwnd);
    if (!w) return 0;
    if (processId) *processId = static_cast<DWORD>(getpid());
    std::lock_guard g(S().lock);
    return w->thread;
}

LONG_PTR GetWindowLongPtrA(HWND hwnd, int index)
{
    auto w = Find(hwnd);
    if (!w) return 0;
    std::lock_guard g(S().lock);
    switch (index)
    {
    case GWLP_WNDPROC:
        return reinterpret_cast<LONG_PTR>(w->proc);
    case GWLP_HINSTANCE:
        return reinterpret_cast<LONG_PTR>(w->instance);
    case GWLP_HWNDPARENT:
        return reinterpret_cast<LONG_PTR>(w->parent ? w->parent : w->owner);
    case GWLP_ID:
        return w->id;
    case GWL_STYLE:
        return static_cast<LONG>(w->style);
    case GWL_EXSTYLE:
        return static_cast<LONG>(w->exStyle);
    case GWLP_USERDATA:
        return w->userData;
    default:
        break;
    }
    if (w->kind == Kind::Dialog)
    {
        if (index == DWLP_MSGRESULT) return w->dlgMsgResult;
        if (index == DWLP_DLGPROC) return reinterpret_cast<LONG_PTR>(w->dlgProc);
        if (index == DWLP_USER) return w->dlgUser;
    }
    if (index >= 0 && static_cast<size_t>(index) / 8 < w->extra.size())
        return w->extra[static_cast<size_t>(index) / 8];
    return 0;
}

LONG_PTR SetWindowLongPtrA(HWND hwnd, int index, LONG_PTR value)
{
    auto w = Find(hwnd);
    if (!w) return 0;
    LONG_PTR old = 0;
    unsigned changes = 0;
    {
        std::lock_guard g(S().lock);
        switch (index)
        {
        case GWLP_WNDPROC:
            old = reinterpret_cast<LONG_PTR>(w->proc);
            w->proc = reinterpret_cast<WNDPROC>(value);
            return old;
        case GWLP_HINSTANCE:
            old = reinterpret_cast<LONG_PTR>(w->instance);
            w->instance = reinterpret_cast<HINSTANCE>(value);
            return old;
        case GWLP_ID:
            old = w->id;
            w->id = value;
            return old;
        case GWL_STYLE:
            old = static_cast<LONG>(w->style);
            w->style = static_cast<DWORD>(value) & ~static_cast<DWORD>(WS_VISIBLE);
            w->style |= w->visible ? WS_VISIBLE : 0;
            changes = ferolt::backend::kChangedStyle;
            break;
        case GWL_EXSTYLE:
            old = static_cast<LONG>(w->exStyle);
            w->exStyle = static_cast<DWORD>(value);
            changes = ferolt::backend::kChangedStyle;
            break;
        case GWLP_USERDATA:
            old = w->userData;
            w->userData = value;
            return old;
        default:
            if (w->kind == Kind::Dialog && index == DWLP_MSGRESULT)
            {
                old = w->dlgMsgResult;
                w->dlgMsgResult = value;
                return old;
            }
            if (w->kind == Kind::Dialog && index == DWLP_DLGPROC)
            {
                old = reinterpret_cast<LONG_PTR>(w->dlgProc);
                w->dlgProc = reinterpret_cast<DLGPROC>(value);
                return old;
            }
            if (w->kind == Kind::Dialog && index == DWLP_USER)
            {
                old = w->dlgUser;
                w->dlgUser = value;
                return old;
            }
            if (index >= 0 && static_cast<size_t>(index) / 8 < w->extra.size())
            {
                old = w->extra[static_cast<size_t>(index) / 8];
                w->extra[static_cast<size_t>(index) / 8] = value;
            }
            return old;
        }
    }
    if (changes) NotifyWindowChanged(hwnd, changes);
    return old;
}

LONG GetWindowLongA(HWND hwnd, int index)
{
    return static_cast<LONG>(GetWindowLongPtrA(hwnd, index));
}
LONG SetWindowLongA(HWND hwnd, int index, LONG value)
{
    return static_cast<LONG>(SetWindowLongPtrA(hwnd, index, value));
}

// Deepest visible child containing the point. Lock held.
static HWND ChildAtLocked(const Window& w, POINT pt)
{
    for (auto it = w.children.rbegin(); it != w.children.rend(); ++it)
    {
        auto c = FindLocked(*it);
        if (c && c->visible && PtInRect(&c->window, pt)) return ChildAtLocked(*c, pt);
    }
    return w.hwnd;
}

HWND WindowFromPoint(POINT pt)
{
    EnsureDesktop();
    std::lock_guard g(S().lock);
    for (HWND h : S().topLevel)
    {
        auto w = FindLocked(h);
        if (w && w->visible && PtInRect(&w->window, pt)) return ChildAtLocked(*w, pt);
    }
    return S().desktop;
}

HWND ChildWindowFromPoint(HWND parent, POINT pt)
{
    auto w = Find(parent);
    if (!w) return nullptr;
    std::lock_guard g(S().lock);
    POINT s{pt.x + w->client.left, pt.y + w->client.top};
    if (!PtInRect(&w->window, s)) return nullptr;
    for (HWND c : w->children)
        if (auto cw = FindLocked(c); cw && PtInRect(&cw->window, s)) return c;
    return parent;
}

HWND GetActiveWindow()
{
    std::lock_guard g(S().lock);
    return S().active;
}

HWND SetActiveWindow(HWND hwnd)
{
    auto w = Find(hwnd);
    if (!w) return nullptr;
    HWND root = GetAncestor(hwnd, GA_ROOT);
    HWND old;
    {
        std::lock_guard g(S().lock);
        old = S().active;
        if (old == root) return old;
        S().active = root;
        auto& tl = S().topLevel;
        tl.erase(std::remove(tl.begin(), tl.end(), root), tl.end());
        tl.insert(tl.begin(), root);
    }
    if (auto ow = Find(old)) CallProc(ow, WM_ACTIVATE, WA_INACTIVE, reinterpret_cast<LPARAM>(root));
    if (auto nw = Find(root)) CallProc(nw, WM_ACTIVATE, WA_ACTIVE, reinterpret_cast<LPARAM>(old));
    return old;
}

HWND GetForegroundWindow()
{
    return GetActiveWindow();
}
BOOL SetForegroundWindow(HWND hwnd)
{
    return SetActiveWindow(hwnd) || GetActiveWindow() == hwnd;
}
BOOL BringWindowToTop(HWND hwnd)
{
    return SetForegroundWindow(hwnd);
}
BOOL IsIconic(HWND)
{
    return FALSE;
}
BOOL IsZoomed(HWND)
{
    return FALSE;
}

// ---------------------------------------------------------------------------------------------------
// Monitors

namespace ferolt::win32::host
{
void SetVirtualScreen(const std::vector<MonitorConfig>& monitors)
{
    std::vector<Monitor> list;
    bool primary = false;
    uintptr_t handle = 0x70001;
    for (auto& m : monitors)
    {
        if (IsRectEmpty(&m.rect)) continue;
        Monitor x;
        x.handle = reinterpret_cast<HMONITOR>(handle++);
        x.rect = m.rect;
        x.work = IsRectEmpty(&m.work) ? m.rect : m.work;
        POINT origin{0, 0};
        x.primary = !primary && PtInRect(&m.rect, origin);
        primary = primary || x.primary;
        list.push_back(x);
    }
    if (list.empty()) return;
    if (!primary) list.front().primary = true;
    std::lock_guard g(S().lock);
    S().monitors = std::move(list);
    RECT p = S().monitors.front().rect;
    for (auto& m : S().monitors)
        if (m.primary) p = m.rect;
    if (auto d = FindLocked(S().desktop))
    {
        d->window = p;
        d->client = p;
    }
}
} // namespace ferolt::win32::host

static int64_t OverlapArea(const RECT& a, const RECT& b)
{
    RECT r;
    if (!IntersectRect(&r, &a, &b)) return 0;
    return static_cast<int64_t>(r.right - r.left) * (r.bottom - r.top);
}

static int64_t Distance2(const RECT& r, POINT p)
{
    int64_t dx = p.x < r.left ? r.left - p.x : (p.x >= r.right ? p.x - r.right + 1 : 0);
    int64_t dy = p.y < r.top ? r.top - p.y : (p.y >= r.bottom ? p.y - r.bottom + 1 : 0);
    return dx * dx + dy * dy;
}

HMONITOR MonitorFromRect(const RECT* rect, DWORD flags)
{
    if (!rect) return nullptr;
    EnsureMonitors();
    std::lock_guard g(S().lock);
    const Monitor* best = nullptr;
    int64_t bestArea = 0;
    for (auto& m : S().monitors)
    {
        int64_t a = OverlapArea(m.rect, *rect);
        if (a > bestArea)
        {
            bestArea = a;
            best = &m;
        }
    }
    // An empty rectangle still belongs to the monitor that holds its corner.
    if (!best)
        for (auto& m : S().monitors)
            if (PtInRect(&m.rect, POINT{rect->left, rect->top})) best = &m;
    if (best) return best->handle;
    if (flags == MONITOR_DEFAULTTOPRIMARY)
    {
        for (auto& m : S().monitors)
            if (m.primary) return m.handle;
    }
    if (flags == MONITOR_DEFAULTTONEAREST)
    {
        POINT c{(rect->left + rect->right) / 2, (rect->top + rect->bottom) / 2};
        const Monitor* near = &S().monitors.front();
        for (auto& m : S().monitors)
            if (Distance2(m.rect, c) < Distance2(near->rect, c)) near = &m;
        return near->handle;
    }
    return nullptr;
}

HMONITOR MonitorFromPoint(POINT pt, DWORD flags)
{
    RECT r{pt.x, pt.y, pt.x + 1, pt.y + 1};
    return MonitorFromRect(&r, flags);
}

HMONITOR MonitorFromWindow(HWND hwnd, DWORD flags)
{
    RECT r;
    if (!GetWindowRect(hwnd, &r))
    {
        if (flags == MONITOR_DEFAULTTONULL) return nullptr;
        r = RECT{0, 0, 1, 1};
        return MonitorFromRect(&r, MONITOR_DEFAULTTOPRIMARY);
    }
    return MonitorFromRect(&r, flags);
}

BOOL GetMonitorInfoA(HMONITOR monitor, LPMONITORINFO info)
{
    if (!info || info->cbSize < sizeof(MONITORINFO)) return FALSE;
    EnsureMonitors();
    std::lock_guard g(S().lock);
    for (auto& m : S().monitors)
        if (m.handle == monitor)
        {
            info->rcMonitor = m.rect;
            info->rcWork = m.work;
            info->dwFlags = m.primary ? MONITORINFOF_PRIMARY : 0;
            return TRUE;
        }
    return FALSE;
}

BOOL EnumDisplayMonitors(HDC hdc, const RECT* clip, MONITORENUMPROC proc, LPARAM param)
{
    if (!proc) return FALSE;
    (void)hdc;
    EnsureMonitors();
    std::vector<Monitor> list;
    {
        std::lock_guard g(S().lock);
        list = S().monitors;
    }
    for (auto& m : list)
    {
        RECT r = m.rect;
        if (clip && !IntersectRect(&r, &m.rect, clip)) continue;
        if (!proc(m.handle, nullptr, &r, param)) return FALSE;
    }
    return TRUE;
}

// ---------------------------------------------------------------------------------------------------
// Rectangles

static LONG Min(LONG a, LONG b)
{
    return a < b ? a : b;
}
static LONG Max(LONG a, LONG b)
{
    return a > b ? a : b;
}

BOOL SetRect(LPRECT r, int l, int t, int rr, int b)
{
    if (!r) return FALSE;
    *r = RECT{l, t, rr, b};
    return TRUE;
}
BOOL SetRectEmpty(LPRECT r)
{
    return SetRect(r, 0, 0, 0, 0);
}
BOOL CopyRect(LPRECT d, const RECT* s)
{
    if (!d || !s) return FALSE;
    *d = *s;
    return TRUE;
}
BOOL IsRectEmpty(const RECT* r)
{
    return !r || r->right <= r->left || r->bottom <= r->top;
}
BOOL EqualRect(const RECT* a, const RECT* b)
{
    if (!a || !b) return FALSE;
    return a->left == b->left && a->top == b->top && a->right == b->right && a->bottom == b->bottom;
}
BOOL PtInRect(const RECT* r, POINT p)
{
    return r && p.x >= r->left && p.x < r->right && p.y >= r->top && p.y < r->bottom;
}
BOOL OffsetRect(LPRECT r, int dx, int dy)
{
    if (!r) return FALSE;
    r->left += dx;
    r->right += dx;
    r->top += dy;
    r->bottom += dy;
    return TRUE;
}
BOOL InflateRect(LPRECT r, int dx, int dy)
{
    if (!r) return FALSE;
    r->left -= dx;
    r->right += dx;
    r->top -= dy;
    r->bottom += dy;
    return TRUE;
}
BOOL IntersectRect(LPRECT d, const RECT* a, const RECT* b)
{
    if (!d || !a || !b) return FALSE;
    // RECT is packed: read the fields into values, never bind references to them.
    LONG l = Max(a->left, b->left), t = Max(a->top, b->top);
    LONG r = Min(a->right, b->right), btm = Min(a->bottom, b->bottom);
    if (r <= l || btm <= t)
    {
        *d = RECT{0, 0, 0, 0};
        return FALSE;
    }
    *d = RECT{l, t, r, btm};
    return TRUE;
}
BOOL UnionRect(LPRECT d, const RECT* a, const RECT* b)
{
    if (!d || !a || !b) return FALSE;
    if (IsRectEmpty(a))
    {
        *d = IsRectEmpty(b) ? RECT{0, 0, 0, 0} : *b;
        return !IsRectEmpty(d);
    }
    if (IsRectEmpty(b))
    {
        *d = *a;
        return TRUE;
    }
    *d = RECT{Min(a->left, b->left), Min(a->top, b->top), Max(a->right, b->right), Max(a->bottom, b->bottom)};
    return TRUE;
}
