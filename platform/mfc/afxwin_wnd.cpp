// Window objects: the handle map, taking windows over at creation, message-map dispatch and the
// default handlers; device contexts and GDI objects.
#include "platform/mfc/afxwin.h"

#include <cstdio>
#include <map>
#include <memory>
#include <mutex>

namespace
{
struct HandleMaps
{
    std::mutex lock;
    std::map<HWND, CWnd*> permanent;
    std::map<HWND, std::unique_ptr<CWnd>> temporary; // wrappers for windows the framework does not own
    std::map<HDC, std::unique_ptr<CDC>> dcs;
    std::map<HFONT, std::unique_ptr<CFont>> fonts;
    ~HandleMaps()
    {
        for (auto& [h, f] : fonts)
            f->Detach(); // wrappers never delete what they do not own
        for (auto& [h, w] : temporary)
            w->m_hWnd = nullptr;
    }
};

HandleMaps& Maps()
{
    static HandleMaps maps;
    return maps;
}

// The message being handled on this thread, for Default().
struct CurrentMessage
{
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};
thread_local CurrentMessage t_current;
thread_local CWnd* t_creating = nullptr;
thread_local HHOOK t_hook = nullptr;

LRESULT CALLBACK CreationHook(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND && t_creating)
    {
        CWnd* wnd = t_creating;
        t_creating = nullptr; // only the first window: a dialog's controls are not taken over
        wnd->SubclassWindow(reinterpret_cast<HWND>(wParam));
    }
    return CallNextHookEx(t_hook, code, wParam, lParam);
}
} // namespace

void AfxHookWindowCreate(CWnd* wnd)
{
    if (!t_hook) t_hook = SetWindowsHookExA(WH_CBT, CreationHook, nullptr, GetCurrentThreadId());
    t_creating = wnd;
}

bool AfxUnhookWindowCreate()
{
    bool attached = t_creating == nullptr;
    t_creating = nullptr;
    if (t_hook)
    {
        UnhookWindowsHookEx(t_hook);
        t_hook = nullptr;
    }
    return attached;
}

LRESULT CALLBACK AfxWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CWnd* wnd = CWnd::FromHandlePermanent(hwnd);
    if (!wnd) return ::DefWindowProcA(hwnd, message, wParam, lParam);
    CurrentMessage saved = t_current;
    t_current = CurrentMessage{message, wParam, lParam};
    LRESULT r = wnd->WindowProc(message, wParam, lParam);
    t_current = saved;
    return r;
}

// ---------------------------------------------------------------------------------------------------
// CWnd: handles

CWnd::CWnd() = default;

CWnd::~CWnd()
{
    if (m_hWnd && FromHandlePermanent(m_hWnd) == this)
    {
        if (::IsWindow(m_hWnd)) ::DestroyWindow(m_hWnd);
        Detach();
    }
}

CWnd* CWnd::FromHandlePermanent(HWND hwnd)
{
    auto& m = Maps();
    std::lock_guard g(m.lock);
    auto it = m.permanent.find(hwnd);
    return it == m.permanent.end() ? nullptr : it->second;
}

CWnd* CWnd::FromHandle(HWND hwnd)
{
    if (!hwnd) return nullptr;
    if (CWnd* p = FromHandlePermanent(hwnd)) return p;
    auto& m = Maps();
    std::lock_guard g(m.lock);
    // Wrappers of windows that are gone are dropped here, so the map does not grow without bound.
    for (auto it = m.temporary.begin(); it != m.temporary.end();)
    {
        if (::IsWindow(it->first))
        {
            ++it;
            continue;
        }
        it->second->m_hWnd = nullptr; // its destructor must not look the handle up (the lock is held)
        it = m.temporary.erase(it);
    }
    auto& slot = m.temporary[hwnd];
    if (!slot)
    {
        slot = std::make_unique<CWnd>();
        slot->m_hWnd = hwnd;
    }
    return slot.get();
}

BOOL CWnd::Attach(HWND hwnd)
{
    if (!hwnd || m_hWnd) return FALSE;
    auto& m = Maps();
    std::lock_guard g(m.lock);
    if (m.permanent.count(hwnd)) return FALSE;
    m.permanent[hwnd] = this;
    m_hWnd = hwnd;
    return TRUE;
}

HWND CWnd::Detach()
{
    HWND h = m_hWnd;
    if (!h) return nullptr;
    auto& m = Maps();
    std::lock_guard g(m.lock);
    auto it = m.permanent.find(h);
    if (it != m.permanent.end() && it->second == this) m.permanent.erase(it);
    m_hWnd = nullptr;
    return h;
}

BOOL CWnd::SubclassWindow(HWND hwnd)
{
    if (!Attach(hwnd)) return FALSE;
    auto old = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(AfxWndProc)));
    if (old != AfxWndProc) m_pfnSuper = old;
    return TRUE;
}

BOOL CWnd::SubclassDlgItem(UINT id, CWnd* parent)
{
    HWND c = parent ? ::GetDlgItem(parent->m_hWnd, static_cast<int>(id)) : nullptr;
    return c ? SubclassWindow(c) : FALSE;
}

HWND CWnd::UnsubclassWindow()
{
    if (m_pfnSuper) ::SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
    m_pfnSuper = nullptr;
    return Detach();
}

// ---------------------------------------------------------------------------------------------------
// CWnd: creation and destruction

BOOL CWnd::PreCreateWindow(CREATESTRUCTA&)
{
    return TRUE;
}

BOOL CWnd::CreateEx(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y, int width,
                    int height, HWND parent, HMENU idOrMenu, LPVOID param)
{
    CREATESTRUCTA cs{};
    cs.dwExStyle = exStyle;
    cs.lpszClass = className;
    cs.lpszName = windowName;
    cs.style = static_cast<LONG>(style);
    cs.x = x;
    cs.y = y;
    cs.cx = width;
    cs.cy = height;
    cs.hwndParent = parent;
    cs.hMenu = idOrMenu;
    cs.hInstance = AfxGetInstanceHandle();
    cs.lpCreateParams = param;
    if (!PreCreateWindow(cs))
    {
        PostNcDestroy();
        return FALSE;
    }
    AfxHookWindowCreate(this);
    HWND hwnd =
        ::CreateWindowExA(cs.dwExStyle, cs.lpszClass, cs.lpszName, static_cast<DWORD>(cs.style), cs.x, cs.y,
                          cs.cx, cs.cy, cs.hwndParent, cs.hMenu, cs.hInstance, cs.lpCreateParams);
    AfxUnhookWindowCreate();
    if (!hwnd)
    {
        if (m_hWnd) Detach(); // refused after it was taken over
        return FALSE;
    }
    return m_hWnd == hwnd ? TRUE : FALSE;
}

BOOL CWnd::CreateEx(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, const RECT& rect,
                    CWnd* parent, UINT id, LPVOID param)
{
    return CreateEx(exStyle, className, windowName, style, rect.left, rect.top, rect.right - rect.left,
                    rect.bottom - rect.top, parent ? parent->m_hWnd : nullptr,
                    reinterpret_cast<HMENU>(static_cast<uintptr_t>(id)), param);
}

BOOL CWnd::Create(LPCSTR className, LPCSTR windowName, DWORD style, const RECT& rect, CWnd* parent, UINT id,
                  CCreateContext*)
{
    return CreateEx(0, className, windowName, style | WS_CHILD, rect, parent, id, nullptr);
}

BOOL CWnd::DestroyWindow()
{
    if (!m_hWnd) return FALSE;
    return ::DestroyWindow(m_hWnd);
}

void CWnd::PostNcDestroy() {}

BOOL CWnd::PreTranslateMessage(MSG*)
{
    return FALSE;
}

// ---------------------------------------------------------------------------------------------------
// CWnd: dispatch

const AFX_MSGMAP* CWnd::GetThisMessageMap()
{
    using ThisClass = CWnd;
    static const AFX_MSGMAP_ENTRY entries[] = {
        FEROLT_MSG_ENTRY(WM_NCDESTROY, self_->OnNcDestroy()){0, 0, 0, 0, nullptr, nullptr},
    };
    static const AFX_MSGMAP map = {nullptr, &entries[0]};
    return &map;
}

const AFX_MSGMAP* CWnd::GetMessageMap() const
{
    return GetThisMessageMap();
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT r = 0;
    if (!OnWndMsg(message, wParam, lParam, &r)) r = DefWindowProc(message, wParam, lParam);
    return r;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (m_pfnSuper) return ::CallWindowProcA(m_pfnSuper, m_hWnd, message, wParam, lParam);
    return ::DefWindowProcA(m_hWnd, message, wParam, lParam);
}

static bool FindAndCall(CWnd* wnd, const AFX_MSGMAP* map, UINT message, WPARAM wParam, LPARAM lParam,
                        LRESULT* result)
{
    for (int depth = 0; map && depth < 64; ++depth)
    {
        for (const AFX_MSGMAP_ENTRY* e = map->lpEntries; e->pfn; ++e)
        {
            if (e->pRegistered)
            {
                if (*e->pRegistered != message || message == 0) continue;
            }
            else if (e->nMessage != message)
                continue;
            if (message == WM_COMMAND)
            {
                UINT code = HIWORD(wParam), id = LOWORD(wParam);
                if (e->nCode != code || id < e->nID || id > e->nLastID) continue;
            }
            if (e->pfn(wnd, message, wParam, lParam, result)) return true;
        }
        map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr;
    }
    return false;
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    LRESULT r = 0;
    if (message == WM_COMMAND)
    {
        if (OnCommand(wParam, lParam))
        {
            *result = 1;
            return TRUE;
        }
        return FALSE;
    }
    if (!FindAndCall(this, GetMessageMap(), message, wParam, lParam, &r)) return FALSE;
    *result = r;
    return TRUE;
}

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM lParam)
{
    LRESULT r = 0;
    return FindAndCall(this, GetMessageMap(), WM_COMMAND, wParam, lParam, &r) ? TRUE : FALSE;
}

LRESULT CWnd::Default()
{
    return DefWindowProc(t_current.message, t_current.wParam, t_current.lParam);
}

void CWnd::DoDataExchange(CDataExchange*) {}

BOOL CWnd::UpdateData(BOOL saveAndValidate)
{
    CDataExchange dx(this, saveAndValidate);
    try
    {
        DoDataExchange(&dx);
    }
    catch (CUserException* e)
    {
        e->Delete(); // the refusal was shown to the user already
        return FALSE;
    }
    return TRUE;
}

// ---------------------------------------------------------------------------------------------------
// CWnd: default handlers

int CWnd::OnCreate(LPCREATESTRUCT)
{
    return static_cast<int>(Default());
}
void CWnd::OnDestroy()
{
    Default();
}
void CWnd::OnNcDestroy()
{
    Default();
    // The window is gone: the object lets go of it, then may delete itself.
    if (m_pfnSuper) m_pfnSuper = nullptr;
    Detach();
    PostNcDestroy();
}
void CWnd::OnClose()
{
    Default();
}
void CWnd::OnPaint()
{
    Default();
}
BOOL CWnd::OnEraseBkgnd(CDC*)
{
    return static_cast<BOOL>(Default());
}
void CWnd::OnSize(UINT, int, int)
{
    Default();
}
void CWnd::OnMove(int, int)
{
    Default();
}
void CWnd::OnMoving(UINT, LPRECT)
{
    Default();
}
void CWnd::OnTimer(UINT_PTR)
{
    Default();
}
void CWnd::OnKeyDown(UINT, UINT, UINT)
{
    Default();
}
void CWnd::OnKeyUp(UINT, UINT, UINT)
{
    Default();
}
void CWnd::OnSysKeyDown(UINT, UINT, UINT)
{
    Default();
}
void CWnd::OnChar(UINT, UINT, UINT)
{
    Default();
}
void CWnd::OnMouseMove(UINT, CPoint)
{
    Default();
}
void CWnd::OnLButtonDown(UINT, CPoint)
{
    Default();
}
void CWnd::OnLButtonUp(UINT, CPoint)
{
    Default();
}
void CWnd::OnLButtonDblClk(UINT, CPoint)
{
    Default();
}
void CWnd::OnRButtonDown(UINT, CPoint)
{
    Default();
}
void CWnd::OnRButtonUp(UINT, CPoint)
{
    Default();
}
void CWnd::OnMButtonDown(UINT, CPoint)
{
    Default();
}
void CWnd::OnMButtonUp(UINT, CPoint)
{
    Default();
}
BOOL CWnd::OnMouseWheel(UINT, short, CPoint)
{
    return static_cast<BOOL>(Default());
}
void CWnd::OnContextMenu(CWnd*, CPoint)
{
    Default();
}
BOOL CWnd::OnSetCursor(CWnd*, UINT, UINT)
{
    return static_cast<BOOL>(Default());
}
void CWnd::OnNcCalcSize(BOOL, NCCALCSIZE_PARAMS*)
{
    Default();
}
void CWnd::OnSetFocus(CWnd*)
{
    Default();
}
void CWnd::OnKillFocus(CWnd*)
{
    Default();
}
HBRUSH CWnd::OnCtlColor(CDC*, CWnd*, UINT)
{
    return reinterpret_cast<HBRUSH>(Default());
}
void CWnd::OnGetMinMaxInfo(MINMAXINFO*)
{
    Default();
}
void CWnd::OnCaptureChanged(CWnd*)
{
    Default();
}

// ---------------------------------------------------------------------------------------------------
// CWnd: operations

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const
{
    return ::SendMessageA(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) const
{
    return ::PostMessageA(m_hWnd, message, wParam, lParam);
}

void CWnd::ClientToScreen(LPRECT r) const
{
    POINT a{r->left, r->top}, b{r->right, r->bottom};
    ::ClientToScreen(m_hWnd, &a);
    ::ClientToScreen(m_hWnd, &b);
    *r = RECT{a.x, a.y, b.x, b.y};
}

void CWnd::ScreenToClient(LPRECT r) const
{
    POINT a{r->left, r->top}, b{r->right, r->bottom};
    ::ScreenToClient(m_hWnd, &a);
    ::ScreenToClient(m_hWnd, &b);
    *r = RECT{a.x, a.y, b.x, b.y};
}

void CWnd::MoveWindow(int x, int y, int width, int height, BOOL repaint)
{
    ::MoveWindow(m_hWnd, x, y, width, height, repaint);
}

void CWnd::MoveWindow(LPCRECT r, BOOL repaint)
{
    ::MoveWindow(m_hWnd, r->left, r->top, r->right - r->left, r->bottom - r->top, repaint);
}

BOOL CWnd::SetWindowPos(const CWnd* insertAfter, int x, int y, int cx, int cy, UINT flags)
{
    return ::SetWindowPos(m_hWnd, insertAfter ? insertAfter->m_hWnd : nullptr, x, y, cx, cy, flags);
}

void CWnd::CenterWindow(CWnd* alternateOwner)
{
    RECT area;
    HWND over = alternateOwner ? alternateOwner->m_hWnd : nullptr;
    DWORD style = GetStyle();
    if (!over) over = (style & WS_CHILD) ? ::GetParent(m_hWnd) : ::GetWindow(m_hWnd, GW_OWNER);
    MONITORINFO mi{sizeof(mi), {}, {}, 0};
    ::GetMonitorInfoA(::MonitorFromWindow(over ? over : m_hWnd, MONITOR_DEFAULTTONEAREST), &mi);
    if (style & WS_CHILD)
    {
        ::GetClientRect(over, &area);
    }
    else if (over && ::IsWindowVisible(over))
    {
        ::GetWindowRect(over, &area);
    }
    else
    {
        area = mi.rcWork;
    }
    RECT me;
    ::GetWindowRect(m_hWnd, &me);
    int w = me.right - me.left, h = me.bottom - me.top;
    int x = (area.left + area.right - w) / 2;
    int y = (area.top + area.bottom - h) / 2;
    if (!(style & WS_CHILD))
    {
        // Keep a top-level window on its monitor's work area.
        const RECT& work = mi.rcWork;
        if (x + w > work.right) x = work.right - w;
        if (x < work.left) x = work.left;
        if (y + h > work.bottom) y = work.bottom - h;
        if (y < work.top) y = work.top;
    }
    ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CWnd::GetWindowText(CString& text) const
{
    int n = ::GetWindowTextLengthA(m_hWnd);
    std::string buf(static_cast<size_t>(n) + 1, '\0');
    ::GetWindowTextA(m_hWnd, buf.data(), n + 1);
    text = buf.c_str();
}

CWnd* CWnd::SetFocus()
{
    return FromHandle(::SetFocus(m_hWnd));
}
CWnd* CWnd::GetFocus()
{
    return FromHandle(::GetFocus());
}
CWnd* CWnd::SetCapture()
{
    return FromHandle(::SetCapture(m_hWnd));
}
CWnd* CWnd::GetCapture()
{
    return FromHandle(::GetCapture());
}
CWnd* CWnd::GetParent() const
{
    return FromHandle(::GetParent(m_hWnd));
}
CWnd* CWnd::GetDlgItem(int id) const
{
    return FromHandle(::GetDlgItem(m_hWnd, id));
}

int CWnd::GetDlgItemText(int id, CString& text) const
{
    CWnd* c = GetDlgItem(id);
    if (!c)
    {
        text = "";
        return 0;
    }
    c->GetWindowText(text);
    return text.GetLength();
}

BOOL CWnd::ModifyStyle(DWORD remove, DWORD add, UINT flags)
{
    DWORD style = GetStyle();
    DWORD next = (style & ~remove) | add;
    if (next == style) return FALSE;
    ::SetWindowLongA(m_hWnd, GWL_STYLE, static_cast<LONG>(next));
    if (flags)
        ::SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0,
                       SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | flags);
    return TRUE;
}

HICON CWnd::SetIcon(HICON icon, BOOL big)
{
    return reinterpret_cast<HICON>(
        SendMessage(WM_SETICON, big ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon)));
}

CDC* CWnd::GetDC()
{
    return CDC::FromHandle(::GetDC(m_hWnd));
}

int CWnd::ReleaseDC(CDC* dc)
{
    if (!dc) return 0;
    HDC h = dc->m_hDC;
    int r = ::ReleaseDC(m_hWnd, h);
    auto& m = Maps();
    std::lock_guard g(m.lock);
    m.dcs.erase(h);
    return r;
}

CFont* CWnd::GetFont() const
{
    return CFont::FromHandle(reinterpret_cast<HFONT>(SendMessage(WM_GETFONT)));
}

void CWnd::SetFont(CFont* font, BOOL redraw)
{
    SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(font ? static_cast<HFONT>(*font) : nullptr), redraw);
}

int CWnd::MessageBox(LPCSTR text, LPCSTR caption, UINT type)
{
    if (!caption) caption = AfxGetApp() && AfxGetApp()->m_pszAppName ? AfxGetApp()->m_pszAppName : "";
    return ::MessageBoxA(m_hWnd, text, caption, type);
}

// ---------------------------------------------------------------------------------------------------
// Wait cursor

void CCmdTarget::BeginWaitCursor()
{
    if (CWinApp* app = AfxGetApp()) app->DoWaitCursor(1);
}
void CCmdTarget::EndWaitCursor()
{
    if (CWinApp* app = AfxGetApp()) app->DoWaitCursor(-1);
}
void CCmdTarget::RestoreWaitCursor()
{
    if (CWinApp* app = AfxGetApp()) app->DoWaitCursor(0);
}

// ---------------------------------------------------------------------------------------------------
// Window classes

LPCSTR AfxRegisterWndClass(UINT classStyle, HCURSOR cursor, HBRUSH background, HICON icon)
{
    static std::mutex lock;
    static std::map<std::string, std::unique_ptr<std::string>> names;
    char buf[128];
    std::snprintf(buf, sizeof buf, "Afx:%p:%x:%p:%p:%p", static_cast<void*>(AfxGetInstanceHandle()),
                  classStyle, static_cast<void*>(cursor), static_cast<void*>(background),
                  static_cast<void*>(icon));
    std::lock_guard g(lock);
    auto& slot = names[buf];
    if (!slot)
    {
        slot = std::make_unique<std::string>(buf);
        WNDCLASSA wc{};
        if (!::GetClassInfoA(AfxGetInstanceHandle(), buf, &wc))
        {
            wc.style = classStyle;
            wc.lpfnWndProc = ::DefWindowProcA; // windows are taken over by the framework at creation
            wc.hInstance = AfxGetInstanceHandle();
            wc.hCursor = cursor;
            wc.hbrBackground = background;
            wc.hIcon = icon;
            wc.lpszClassName = slot->c_str();
            ::RegisterClassA(&wc);
        }
    }
    return slot->c_str();
}

// ---------------------------------------------------------------------------------------------------
// GDI objects and device contexts

CGdiObject::~CGdiObject()
{
    DeleteObject();
}

BOOL CGdiObject::Attach(HGDIOBJ object)
{
    if (!object || m_hObject) return FALSE;
    m_hObject = object;
    return TRUE;
}

HGDIOBJ CGdiObject::Detach()
{
    HGDIOBJ h = m_hObject;
    m_hObject = nullptr;
    return h;
}

BOOL CGdiObject::DeleteObject()
{
    if (!m_hObject) return FALSE;
    BOOL r = ::DeleteObject(m_hObject);
    m_hObject = nullptr;
    return r;
}

BOOL CFont::CreateFontIndirect(const LOGFONTA* font)
{
    DeleteObject();
    m_hObject = ::CreateFontIndirectA(font);
    return m_hObject ? TRUE : FALSE;
}

CFont* CFont::FromHandle(HFONT font)
{
    if (!font) return nullptr;
    auto& m = Maps();
    std::lock_guard g(m.lock);
    auto& slot = m.fonts[font];
    if (!slot)
    {
        slot = std::make_unique<CFont>();
        slot->m_hObject = font;
    }
    return slot.get();
}

BOOL CBitmap::LoadBitmap(UINT id)
{
    return LoadBitmap(MAKEINTRESOURCEA(id));
}

BOOL CBitmap::LoadBitmap(LPCSTR name)
{
    DeleteObject();
    m_hObject = ::LoadBitmapA(AfxGetResourceHandle(), name);
    return m_hObject ? TRUE : FALSE;
}

BOOL CBrush::CreateSolidBrush(COLORREF color)
{
    DeleteObject();
    m_hObject = ::CreateSolidBrush(color);
    return m_hObject ? TRUE : FALSE;
}

CDC* CDC::FromHandle(HDC hdc)
{
    if (!hdc) return nullptr;
    auto& m = Maps();
    std::lock_guard g(m.lock);
    // Wrappers of released contexts go, so the map does not grow with every paint.
    for (auto it = m.dcs.begin(); it != m.dcs.end();)
        it = ::GetObjectType(it->first) == OBJ_DC ? std::next(it) : m.dcs.erase(it);
    auto& slot = m.dcs[hdc];
    if (!slot)
    {
        slot = std::make_unique<CDC>();
        slot->m_hDC = hdc;
    }
    return slot.get();
}

BOOL CDC::Attach(HDC hdc)
{
    if (!hdc || m_hDC) return FALSE;
    m_hDC = hdc;
    return TRUE;
}

HDC CDC::Detach()
{
    HDC h = m_hDC;
    m_hDC = nullptr;
    return h;
}

void CDC::FillSolidRect(LPCRECT rect, COLORREF color)
{
    HBRUSH b = ::CreateSolidBrush(color);
    ::FillRect(m_hDC, rect, b);
    ::DeleteObject(b);
}

void CDC::FillSolidRect(int x, int y, int cx, int cy, COLORREF color)
{
    RECT r{x, y, x + cx, y + cy};
    FillSolidRect(&r, color);
}

CFont* CDC::SelectObject(CFont* font)
{
    HGDIOBJ old = ::SelectObject(m_hDC, font ? font->m_hObject : nullptr);
    return CFont::FromHandle(static_cast<HFONT>(old));
}

CPaintDC::CPaintDC(CWnd* wnd) : m_hWnd(wnd ? wnd->m_hWnd : nullptr)
{
    m_hDC = ::BeginPaint(m_hWnd, &m_ps);
}

CPaintDC::~CPaintDC()
{
    ::EndPaint(m_hWnd, &m_ps);
    auto& m = Maps();
    std::lock_guard g(m.lock);
    m.dcs.erase(m_hDC);
}

CClientDC::CClientDC(CWnd* wnd) : m_hWnd(wnd ? wnd->m_hWnd : nullptr)
{
    m_hDC = ::GetDC(m_hWnd);
}

CClientDC::~CClientDC()
{
    ::ReleaseDC(m_hWnd, m_hDC);
    auto& m = Maps();
    std::lock_guard g(m.lock);
    m.dcs.erase(m_hDC);
}
