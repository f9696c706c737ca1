#pragma once
// The framework's window classes: the application object, windows with message maps, device
// contexts, GDI objects, dialogs with data exchange, controls and the file dialog.
//
// A program defines one global application object (`theApp`, derived from CWinApp) and calls
// AfxWinMain(argc, argv) from main(); it runs InitInstance, then Run, and returns Run's result.
#include "platform/mfc/afx.h"

#include <string>

class CWnd;
class CDC;
class CFont;
class CDataExchange;
class CCreateContext;

// ---------------------------------------------------------------------------------------------------
// Geometry helpers

class CPoint : public POINT
{
public:
    CPoint() : POINT{0, 0} {}
    CPoint(int x, int y) : POINT{x, y} {}
    CPoint(POINT p) : POINT(p) {}
    explicit CPoint(LPARAM lp) : POINT{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)} {}
    bool operator==(const POINT& o) const { return x == o.x && y == o.y; }
    bool operator!=(const POINT& o) const { return !(*this == o); }
    CPoint operator-(const POINT& o) const { return CPoint(x - o.x, y - o.y); }
    CPoint operator+(const POINT& o) const { return CPoint(x + o.x, y + o.y); }
};

class CSize : public SIZE
{
public:
    CSize() : SIZE{0, 0} {}
    CSize(int cx, int cy) : SIZE{cx, cy} {}
};

class CRect : public RECT
{
public:
    CRect() : RECT{0, 0, 0, 0} {}
    CRect(int l, int t, int r, int b) : RECT{l, t, r, b} {}
    CRect(const RECT& r) : RECT(r) {}
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    CSize Size() const { return CSize(Width(), Height()); }
    CPoint TopLeft() const { return CPoint(left, top); }
    CPoint BottomRight() const { return CPoint(right, bottom); }
    CPoint CenterPoint() const { return CPoint((left + right) / 2, (top + bottom) / 2); }
    BOOL IsRectEmpty() const { return ::IsRectEmpty(this); }
    BOOL PtInRect(POINT p) const { return ::PtInRect(this, p); }
    void OffsetRect(int dx, int dy) { ::OffsetRect(this, dx, dy); }
    void SetRect(int l, int t, int r, int b) { ::SetRect(this, l, t, r, b); }
    BOOL EqualRect(const RECT* o) const { return ::EqualRect(this, o); }
    operator LPRECT() { return this; }
    operator LPCRECT() const { return this; }
};

// ---------------------------------------------------------------------------------------------------
// Message maps. Each entry holds a small function that unpacks the message for its handler.

using AFX_MSG_THUNK = bool (*)(CWnd* wnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
struct AFX_MSGMAP_ENTRY
{
    UINT nMessage;
    UINT nCode;              // notification code (WM_COMMAND)
    UINT nID;                // first control or command id (WM_COMMAND)
    UINT nLastID;            // last id of a range
    const UINT* pRegistered; // ON_REGISTERED_MESSAGE: the variable holding the message
    AFX_MSG_THUNK pfn;
};
struct AFX_MSGMAP
{
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries;
};

#define afx_msg
#define DECLARE_MESSAGE_MAP()                                                                                \
protected:                                                                                                   \
    static const AFX_MSGMAP* GetThisMessageMap();                                                            \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                                               \
    const AFX_MSGMAP* theClass::GetMessageMap() const                                                        \
    {                                                                                                        \
        return GetThisMessageMap();                                                                          \
    }                                                                                                        \
    const AFX_MSGMAP* theClass::GetThisMessageMap()                                                          \
    {                                                                                                        \
        using ThisClass = theClass;                                                                          \
        using TheBaseClass = baseClass;                                                                      \
        static const AFX_MSGMAP_ENTRY entries[] = {
#define END_MESSAGE_MAP()                                                                                    \
    {                                                                                                        \
        0, 0, 0, 0, nullptr, nullptr                                                                         \
    }                                                                                                        \
    }                                                                                                        \
    ;                                                                                                        \
    static const AFX_MSGMAP map = {&TheBaseClass::GetThisMessageMap, &entries[0]};                           \
    return &map;                                                                                             \
    }

#define FEROLT_MSG_ENTRY(msg, body)                                                                          \
    {msg,                                                                                                    \
     0,                                                                                                      \
     0,                                                                                                      \
     0,                                                                                                      \
     nullptr,                                                                                                \
     [](CWnd* w_, UINT m_, WPARAM wp_, LPARAM lp_, LRESULT* r_) -> bool                                      \
     {                                                                                                       \
         auto* self_ = static_cast<ThisClass*>(w_);                                                          \
         (void)m_;                                                                                           \
         (void)wp_;                                                                                          \
         (void)lp_;                                                                                          \
         (void)r_;                                                                                           \
         body;                                                                                               \
         return true;                                                                                        \
     }},

#define ON_WM_CREATE()                                                                                       \
    FEROLT_MSG_ENTRY(WM_CREATE, *r_ = self_->OnCreate(reinterpret_cast<LPCREATESTRUCT>(lp_)))
#define ON_WM_DESTROY() FEROLT_MSG_ENTRY(WM_DESTROY, self_->OnDestroy())
#define ON_WM_NCDESTROY() FEROLT_MSG_ENTRY(WM_NCDESTROY, self_->OnNcDestroy())
#define ON_WM_CLOSE() FEROLT_MSG_ENTRY(WM_CLOSE, self_->OnClose())
#define ON_WM_PAINT() FEROLT_MSG_ENTRY(WM_PAINT, self_->OnPaint())
#define ON_WM_ERASEBKGND()                                                                                   \
    FEROLT_MSG_ENTRY(WM_ERASEBKGND, *r_ = self_->OnEraseBkgnd(CDC::FromHandle(reinterpret_cast<HDC>(wp_))))
#define ON_WM_SIZE()                                                                                         \
    FEROLT_MSG_ENTRY(WM_SIZE, self_->OnSize(static_cast<UINT>(wp_), LOWORD(lp_), HIWORD(lp_)))
#define ON_WM_MOVE() FEROLT_MSG_ENTRY(WM_MOVE, self_->OnMove(GET_X_LPARAM(lp_), GET_Y_LPARAM(lp_)))
#define ON_WM_MOVING()                                                                                       \
    FEROLT_MSG_ENTRY(WM_MOVING, self_->OnMoving(static_cast<UINT>(wp_), reinterpret_cast<LPRECT>(lp_));      \
                     *r_ = TRUE)
#define ON_WM_TIMER() FEROLT_MSG_ENTRY(WM_TIMER, self_->OnTimer(static_cast<UINT_PTR>(wp_)))
#define ON_WM_KEYDOWN()                                                                                      \
    FEROLT_MSG_ENTRY(WM_KEYDOWN, self_->OnKeyDown(static_cast<UINT>(wp_), LOWORD(lp_), HIWORD(lp_)))
#define ON_WM_KEYUP()                                                                                        \
    FEROLT_MSG_ENTRY(WM_KEYUP, self_->OnKeyUp(static_cast<UINT>(wp_), LOWORD(lp_), HIWORD(lp_)))
#define ON_WM_SYSKEYDOWN()                                                                                   \
    FEROLT_MSG_ENTRY(WM_SYSKEYDOWN, self_->OnSysKeyDown(static_cast<UINT>(wp_), LOWORD(lp_), HIWORD(lp_)))
#define ON_WM_CHAR()                                                                                         \
    FEROLT_MSG_ENTRY(WM_CHAR, self_->OnChar(static_cast<UINT>(wp_), LOWORD(lp_), HIWORD(lp_)))
#define FEROLT_MOUSE_ENTRY(msg, fn) FEROLT_MSG_ENTRY(msg, self_->fn(static_cast<UINT>(wp_), CPoint(lp_)))
#define ON_WM_MOUSEMOVE() FEROLT_MOUSE_ENTRY(WM_MOUSEMOVE, OnMouseMove)
#define ON_WM_LBUTTONDOWN() FEROLT_MOUSE_ENTRY(WM_LBUTTONDOWN, OnLButtonDown)
#define ON_WM_LBUTTONUP() FEROLT_MOUSE_ENTRY(WM_LBUTTONUP, OnLButtonUp)
#define ON_WM_LBUTTONDBLCLK() FEROLT_MOUSE_ENTRY(WM_LBUTTONDBLCLK, OnLButtonDblClk)
#define ON_WM_RBUTTONDOWN() FEROLT_MOUSE_ENTRY(WM_RBUTTONDOWN, OnRButtonDown)
#define ON_WM_RBUTTONUP() FEROLT_MOUSE_ENTRY(WM_RBUTTONUP, OnRButtonUp)
#define ON_WM_MBUTTONDOWN() FEROLT_MOUSE_ENTRY(WM_MBUTTONDOWN, OnMButtonDown)
#define ON_WM_MBUTTONUP() FEROLT_MOUSE_ENTRY(WM_MBUTTONUP, OnMButtonUp)
#define ON_WM_MOUSEWHEEL()                                                                                   \
    FEROLT_MSG_ENTRY(WM_MOUSEWHEEL,                                                                          \
                     *r_ = self_->OnMouseWheel(LOWORD(wp_), static_cast<short>(HIWORD(wp_)), CPoint(lp_)))
#define ON_WM_CONTEXTMENU()                                                                                  \
    FEROLT_MSG_ENTRY(WM_CONTEXTMENU,                                                                         \
                     self_->OnContextMenu(CWnd::FromHandle(reinterpret_cast<HWND>(wp_)), CPoint(lp_)))
#define ON_WM_SETCURSOR()                                                                                    \
    FEROLT_MSG_ENTRY(WM_SETCURSOR, *r_ = self_->OnSetCursor(CWnd::FromHandle(reinterpret_cast<HWND>(wp_)),   \
                                                            static_cast<short>(LOWORD(lp_)), HIWORD(lp_)))
#define ON_WM_NCCALCSIZE()                                                                                   \
    FEROLT_MSG_ENTRY(WM_NCCALCSIZE,                                                                          \
                     self_->OnNcCalcSize(static_cast<BOOL>(wp_), reinterpret_cast<NCCALCSIZE_PARAMS*>(lp_)))
#define ON_WM_SETFOCUS()                                                                                     \
    FEROLT_MSG_ENTRY(WM_SETFOCUS, self_->OnSetFocus(CWnd::FromHandle(reinterpret_cast<HWND>(wp_))))
#define ON_WM_KILLFOCUS()                                                                                    \
    FEROLT_MSG_ENTRY(WM_KILLFOCUS, self_->OnKillFocus(CWnd::FromHandle(reinterpret_cast<HWND>(wp_))))
#define ON_WM_GETMINMAXINFO()                                                                                \
    FEROLT_MSG_ENTRY(WM_GETMINMAXINFO, self_->OnGetMinMaxInfo(reinterpret_cast<MINMAXINFO*>(lp_)))
#define ON_WM_CAPTURECHANGED()                                                                               \
    FEROLT_MSG_ENTRY(WM_CAPTURECHANGED,                                                                      \
                     self_->OnCaptureChanged(CWnd::FromHandle(reinterpret_cast<HWND>(lp_))))
// Only static controls ask their parent for colours here.
#define ON_WM_CTLCOLOR()                                                                                     \
    FEROLT_MSG_ENTRY(WM_CTLCOLORSTATIC,                                                                      \
                     *r_ = reinterpret_cast<LRESULT>(                                                        \
                         self_->OnCtlColor(CDC::FromHandle(reinterpret_cast<HDC>(wp_)),                      \
                                           CWnd::FromHandle(reinterpret_cast<HWND>(lp_)), CTLCOLOR_STATIC)))
#define ON_MESSAGE(msg, fn) FEROLT_MSG_ENTRY(msg, *r_ = self_->fn(wp_, lp_))
#define ON_REGISTERED_MESSAGE(var, fn)                                                                       \
    {0xC000,                                                                                                 \
     0,                                                                                                      \
     0,                                                                                                      \
     0,                                                                                                      \
     &(var),                                                                                                 \
     [](CWnd* w_, UINT, WPARAM wp_, LPARAM lp_, LRESULT* r_) -> bool                                         \
     {                                                                                                       \
         *r_ = static_cast<ThisClass*>(w_)->fn(wp_, lp_);                                                    \
         return true;                                                                                        \
     }},

// Commands and control notifications (WM_COMMAND).
#define FEROLT_CMD_ENTRY(code, id, lastId, call)                                                             \
    {WM_COMMAND,                                                                                             \
     static_cast<UINT>(code),                                                                                \
     static_cast<UINT>(id),                                                                                  \
     static_cast<UINT>(lastId),                                                                              \
     nullptr,                                                                                                \
     [](CWnd* w_, UINT, WPARAM wp_, LPARAM, LRESULT* r_) -> bool                                             \
     {                                                                                                       \
         auto* self_ = static_cast<ThisClass*>(w_);                                                          \
         (void)wp_;                                                                                          \
         call;                                                                                               \
         *r_ = 0;                                                                                            \
         return true;                                                                                        \
     }},
#define ON_COMMAND(id, fn) FEROLT_CMD_ENTRY(0, id, id, self_->fn())
#define ON_COMMAND_RANGE(id, lastId, fn) FEROLT_CMD_ENTRY(0, id, lastId, self_->fn(LOWORD(wp_)))
#define ON_CONTROL(code, id, fn) FEROLT_CMD_ENTRY(code, id, id, self_->fn())
#define ON_EN_KILLFOCUS(id, fn) ON_CONTROL(EN_KILLFOCUS, id, fn)
#define ON_EN_SETFOCUS(id, fn) ON_CONTROL(EN_SETFOCUS, id, fn)
#define ON_EN_CHANGE(id, fn) ON_CONTROL(EN_CHANGE, id, fn)
#define ON_STN_CLICKED(id, fn) ON_CONTROL(STN_CLICKED, id, fn)
#define ON_BN_CLICKED(id, fn) ON_CONTROL(BN_CLICKED, id, fn)
#define ON_CBN_SELCHANGE(id, fn) ON_CONTROL(CBN_SELCHANGE, id, fn)

// ---------------------------------------------------------------------------------------------------
// GDI objects and device contexts

class CGdiObject : public CObject
{
public:
    CGdiObject() = default;
    ~CGdiObject() override;
    CGdiObject(const CGdiObject&) = delete;
    CGdiObject& operator=(const CGdiObject&) = delete;
    HGDIOBJ GetSafeHandle() const { return m_hObject; }
    BOOL Attach(HGDIOBJ object);
    HGDIOBJ Detach();
    BOOL DeleteObject();
    int GetObject(int size, LPVOID buffer) const { return ::GetObjectA(m_hObject, size, buffer); }
    HGDIOBJ m_hObject = nullptr;
};

class CFont : public CGdiObject
{
public:
    BOOL CreateFontIndirect(const LOGFONTA* font);
    int GetLogFont(LOGFONTA* font) const { return GetObject(sizeof(LOGFONTA), font); }
    operator HFONT() const { return static_cast<HFONT>(m_hObject); }
    // A wrapper kept by the framework for a handle it does not own.
    static CFont* FromHandle(HFONT font);
};

class CBitmap : public CGdiObject
{
public:
    BOOL LoadBitmap(UINT id);
    BOOL LoadBitmap(LPCSTR name);
    operator HBITMAP() const { return static_cast<HBITMAP>(m_hObject); }
    int GetBitmap(BITMAP* bm) const { return GetObject(sizeof(BITMAP), bm); }
};

class CBrush : public CGdiObject
{
public:
    CBrush() = default;
    explicit CBrush(COLORREF color) { m_hObject = ::CreateSolidBrush(color); }
    BOOL CreateSolidBrush(COLORREF color);
    operator HBRUSH() const { return static_cast<HBRUSH>(m_hObject); }
};

class CDC : public CObject
{
public:
    CDC() = default;
    ~CDC() override = default;
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;
    operator HDC() const { return m_hDC; }
    HDC GetSafeHdc() const { return m_hDC; }
    // A wrapper for a context the framework does not own (valid until the context is released).
    static CDC* FromHandle(HDC hdc);
    int GetClipBox(LPRECT rect) const { return ::GetClipBox(m_hDC, rect); }
    int GetDeviceCaps(int index) const { return ::GetDeviceCaps(m_hDC, index); }
    void FillSolidRect(LPCRECT rect, COLORREF color);
    void FillSolidRect(int x, int y, int cx, int cy, COLORREF color);
    int FillRect(LPCRECT rect, CBrush* brush)
    {
        return ::FillRect(m_hDC, rect, brush ? static_cast<HBRUSH>(*brush) : nullptr);
    }
    CFont* SelectObject(CFont* font);
    COLORREF SetTextColor(COLORREF c) { return ::SetTextColor(m_hDC, c); }
    COLORREF SetBkColor(COLORREF c) { return ::SetBkColor(m_hDC, c); }
    int SetBkMode(int mode) { return ::SetBkMode(m_hDC, mode); }
    BOOL Attach(HDC hdc);
    HDC Detach();

    HDC m_hDC = nullptr;
};

class CPaintDC : public CDC
{
public:
    explicit CPaintDC(CWnd* wnd);
    ~CPaintDC() override;
    PAINTSTRUCT m_ps{};

protected:
    HWND m_hWnd = nullptr;
};

class CClientDC : public CDC
{
public:
    explicit CClientDC(CWnd* wnd);
    ~CClientDC() override;

protected:
    HWND m_hWnd = nullptr;
};

// ---------------------------------------------------------------------------------------------------
// Windows

class CCmdTarget : public CObject
{
public:
    void BeginWaitCursor();
    void EndWaitCursor();
    void RestoreWaitCursor();
};

class CWnd : public CCmdTarget
{
public:
    CWnd();
    // Destroys a window still attached (the original warns about it in debug builds).
    ~CWnd() override;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND m_hWnd = nullptr;
    operator HWND() const { return m_hWnd; }
    HWND GetSafeHwnd() const { return m_hWnd; }

    // Window objects for handles: the permanent one attached to a window, or a temporary wrapper
    // kept until the window is destroyed.
    static CWnd* FromHandle(HWND hwnd);
    static CWnd* FromHandlePermanent(HWND hwnd);
    BOOL Attach(HWND hwnd);
    HWND Detach();
    BOOL SubclassWindow(HWND hwnd);
    BOOL SubclassDlgItem(UINT id, CWnd* parent);
    HWND UnsubclassWindow();

    virtual BOOL CreateEx(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                          int width, int height, HWND parent, HMENU idOrMenu, LPVOID param = nullptr);
    virtual BOOL CreateEx(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, const RECT& rect,
                          CWnd* parent, UINT id, LPVOID param = nullptr);
    virtual BOOL Create(LPCSTR className, LPCSTR windowName, DWORD style, const RECT& rect, CWnd* parent,
                        UINT id, CCreateContext* context = nullptr);
    virtual BOOL DestroyWindow();
    virtual BOOL PreCreateWindow(CREATESTRUCTA& cs);
    virtual void PostNcDestroy();
    virtual BOOL PreTranslateMessage(MSG* msg);
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
    virtual void DoDataExchange(CDataExchange* dx);
    // Exchange between members and controls; FALSE when a field was refused.
    BOOL UpdateData(BOOL saveAndValidate = TRUE);
    // The default processing of the message being handled.
    LRESULT Default();

    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    void Invalidate(BOOL erase = TRUE) { ::InvalidateRect(m_hWnd, nullptr, erase); }
    void InvalidateRect(LPCRECT rect, BOOL erase = TRUE) { ::InvalidateRect(m_hWnd, rect, erase); }
    void UpdateWindow() { ::UpdateWindow(m_hWnd); }
    BOOL RedrawWindow(LPCRECT rect = nullptr, HRGN region = nullptr,
                      UINT flags = RDW_INVALIDATE | RDW_UPDATENOW | RDW_ERASE)
    {
        return ::RedrawWindow(m_hWnd, rect, region, flags);
    }
    void GetClientRect(LPRECT rect) const { ::GetClientRect(m_hWnd, rect); }
    void GetWindowRect(LPRECT rect) const { ::GetWindowRect(m_hWnd, rect); }
    void ClientToScreen(LPPOINT p) const { ::ClientToScreen(m_hWnd, p); }
    void ClientToScreen(LPRECT r) const;
    void ScreenToClient(LPPOINT p) const { ::ScreenToClient(m_hWnd, p); }
    void ScreenToClient(LPRECT r) const;
    void MoveWindow(int x, int y, int width, int height, BOOL repaint = TRUE);
    void MoveWindow(LPCRECT rect, BOOL repaint = TRUE);
    BOOL SetWindowPos(const CWnd* insertAfter, int x, int y, int cx, int cy, UINT flags);
    // Centres over the owner (or the alternate), else on the work area of the window's monitor.
    void CenterWindow(CWnd* alternateOwner = nullptr);
    void SetWindowText(LPCSTR text) { ::SetWindowTextA(m_hWnd, text); }
    void GetWindowText(CString& text) const;
    int GetWindowText(LPSTR buffer, int max) const { return ::GetWindowTextA(m_hWnd, buffer, max); }
    int GetWindowTextLength() const { return ::GetWindowTextLengthA(m_hWnd); }
    BOOL ShowWindow(int cmd) { return ::ShowWindow(m_hWnd, cmd); }
    BOOL IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
    BOOL IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
    BOOL EnableWindow(BOOL enable = TRUE) { return ::EnableWindow(m_hWnd, enable); }
    CWnd* SetFocus();
    static CWnd* GetFocus();
    CWnd* SetCapture();
    static CWnd* GetCapture();
    CWnd* GetParent() const;
    CWnd* GetDlgItem(int id) const;
    int GetDlgCtrlID() const { return ::GetDlgCtrlID(m_hWnd); }
    void SetDlgItemText(int id, LPCSTR text) { ::SetDlgItemTextA(m_hWnd, id, text); }
    int GetDlgItemText(int id, CString& text) const;
    DWORD GetStyle() const { return static_cast<DWORD>(::GetWindowLongA(m_hWnd, GWL_STYLE)); }
    DWORD GetExStyle() const { return static_cast<DWORD>(::GetWindowLongA(m_hWnd, GWL_EXSTYLE)); }
    BOOL ModifyStyle(DWORD remove, DWORD add, UINT flags = 0);
    UINT_PTR SetTimer(UINT_PTR id, UINT elapse, void(CALLBACK* proc)(HWND, UINT, UINT_PTR, DWORD) = nullptr)
    {
        return ::SetTimer(m_hWnd, id, elapse, proc);
    }
    BOOL KillTimer(UINT_PTR id) { return ::KillTimer(m_hWnd, id); }
    HICON SetIcon(HICON icon, BOOL big);
    CDC* GetDC();
    int ReleaseDC(CDC* dc);
    CFont* GetFont() const;
    void SetFont(CFont* font, BOOL redraw = TRUE);
    int MessageBox(LPCSTR text, LPCSTR caption = nullptr, UINT type = MB_OK);
    static CWnd* GetDesktopWindow() { return FromHandle(::GetDesktopWindow()); }

    // Handlers the message maps name; each defaults to the original's default processing.
    afx_msg int OnCreate(LPCREATESTRUCT cs);
    afx_msg void OnDestroy();
    afx_msg void OnNcDestroy();
    afx_msg void OnClose();
    afx_msg void OnPaint();
    afx_msg BOOL OnEraseBkgnd(CDC* dc);
    afx_msg void OnSize(UINT type, int cx, int cy);
    afx_msg void OnMove(int x, int y);
    afx_msg void OnMoving(UINT side, LPRECT rect);
    afx_msg void OnTimer(UINT_PTR id);
    afx_msg void OnKeyDown(UINT ch, UINT repeat, UINT flags);
    afx_msg void OnKeyUp(UINT ch, UINT repeat, UINT flags);
    afx_msg void OnSysKeyDown(UINT ch, UINT repeat, UINT flags);
    afx_msg void OnChar(UINT ch, UINT repeat, UINT flags);
    afx_msg void OnMouseMove(UINT flags, CPoint point);
    afx_msg void OnLButtonDown(UINT flags, CPoint point);
    afx_msg void OnLButtonUp(UINT flags, CPoint point);
    afx_msg void OnLButtonDblClk(UINT flags, CPoint point);
    afx_msg void OnRButtonDown(UINT flags, CPoint point);
    afx_msg void OnRButtonUp(UINT flags, CPoint point);
    afx_msg void OnMButtonDown(UINT flags, CPoint point);
    afx_msg void OnMButtonUp(UINT flags, CPoint point);
    afx_msg BOOL OnMouseWheel(UINT flags, short delta, CPoint point);
    afx_msg void OnContextMenu(CWnd* wnd, CPoint point);
    afx_msg BOOL OnSetCursor(CWnd* wnd, UINT hitTest, UINT message);
    afx_msg void OnNcCalcSize(BOOL calcValidRects, NCCALCSIZE_PARAMS* params);
    afx_msg void OnSetFocus(CWnd* old);
    afx_msg void OnKillFocus(CWnd* next);
    afx_msg void OnGetMinMaxInfo(MINMAXINFO* info);
    afx_msg void OnCaptureChanged(CWnd* wnd);
    afx_msg HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor);

protected:
    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;

    WNDPROC m_pfnSuper = nullptr; // the procedure replaced when the framework took the window over

    friend LRESULT CALLBACK AfxWndProc(HWND, UINT, WPARAM, LPARAM);
    friend class CDialog;
};

LRESULT CALLBACK AfxWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// Attaches the next window this thread creates to `wnd`, before its first message.
void AfxHookWindowCreate(CWnd* wnd);
bool AfxUnhookWindowCreate();
// A registered class name with these attributes, made on first use; valid for the process.
LPCSTR AfxRegisterWndClass(UINT classStyle, HCURSOR cursor = nullptr, HBRUSH background = nullptr,
                           HICON icon = nullptr);

// ---------------------------------------------------------------------------------------------------
// Dialogs and data exchange

class CDataExchange
{
public:
    CDataExchange(CWnd* dialog, BOOL saveAndValidate);
    HWND PrepareCtrl(int id);
    HWND PrepareEditCtrl(int id);
    // Puts the focus back on the last prepared control (selecting an edit's text) and ends the
    // exchange with CUserException.
    [[noreturn]] void Fail();

    BOOL m_bSaveAndValidate;
    CWnd* m_pDlgWnd;
    HWND m_hWndLastControl = nullptr;
    BOOL m_bEditLastControl = FALSE;
};

void DDX_Text(CDataExchange* dx, int id, int& value);
void DDX_Text(CDataExchange* dx, int id, UINT& value);
void DDX_Text(CDataExchange* dx, int id, CString& value);
void DDX_CBIndex(CDataExchange* dx, int id, int& index);
void DDX_Control(CDataExchange* dx, int id, CWnd& control);

class CDialog : public CWnd
{
public:
    CDialog() = default;
    explicit CDialog(UINT templateId, CWnd* parent = nullptr);
    explicit CDialog(LPCSTR templateName, CWnd* parent = nullptr);
    ~CDialog() override;

    // The dialog from the application's resources, run modally: IDOK, IDCANCEL or -1.
    virtual INT_PTR DoModal();
    virtual BOOL OnInitDialog();
    void EndDialog(int result);
    void GotoDlgCtrl(CWnd* control);
    void NextDlgCtrl() const;

    UINT m_nIDHelp = 0;
    LPCSTR m_lpszTemplateName = nullptr;
    CWnd* m_pParentWnd = nullptr;

protected:
    virtual void OnOK();
    virtual void OnCancel();
    DECLARE_MESSAGE_MAP()
};

class CStatic : public CWnd
{
public:
    HBITMAP SetBitmap(HBITMAP bitmap)
    {
        return reinterpret_cast<HBITMAP>(
            SendMessage(STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap)));
    }
    HBITMAP GetBitmap() const
    {
        return reinterpret_cast<HBITMAP>(SendMessage(STM_GETIMAGE, IMAGE_BITMAP, 0));
    }
};

class CEdit : public CWnd
{
public:
    void SetSel(int start, int end, BOOL noScroll = FALSE)
    {
        SendMessage(EM_SETSEL, start, end), (void)noScroll;
    }
};

class CButton : public CWnd
{
public:
    int GetCheck() const { return static_cast<int>(SendMessage(BM_GETCHECK)); }
    void SetCheck(int check) { SendMessage(BM_SETCHECK, static_cast<WPARAM>(check)); }
};

class CComboBox : public CWnd
{
public:
    int AddString(LPCSTR text)
    {
        return static_cast<int>(SendMessage(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)));
    }
    int InsertString(int index, LPCSTR text)
    {
        return static_cast<int>(
            SendMessage(CB_INSERTSTRING, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text)));
    }
    int DeleteString(UINT index) { return static_cast<int>(SendMessage(CB_DELETESTRING, index)); }
    void ResetContent() { SendMessage(CB_RESETCONTENT); }
    int GetCount() const { return static_cast<int>(SendMessage(CB_GETCOUNT)); }
    int GetCurSel() const { return static_cast<int>(SendMessage(CB_GETCURSEL)); }
    int SetCurSel(int index)
    {
        return static_cast<int>(SendMessage(CB_SETCURSEL, static_cast<WPARAM>(index)));
    }
    void GetLBText(int index, CString& text) const;
};

class CFileDialog : public CDialog
{
public:
    // The filter is "text|patterns|...||"; '|' separates, as the original's constructor converts.
    explicit CFileDialog(BOOL openFileDialog, LPCSTR defaultExtension = nullptr, LPCSTR fileName = nullptr,
                         DWORD flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, LPCSTR filter = nullptr,
                         CWnd* parent = nullptr, DWORD size = 0, BOOL vistaStyle = TRUE);
    INT_PTR DoModal() override;
    CString GetPathName() const;
    CString GetFileName() const;
    CString GetFileExt() const;

    OPENFILENAMEA m_ofn{};

private:
    BOOL open_;
    std::string filter_;
    std::string defExt_;
    char file_[4096]{};
    char title_[MAX_PATH]{};
};

// ---------------------------------------------------------------------------------------------------
// The application

class CWinApp : public CWinThread
{
public:
    explicit CWinApp(LPCSTR appName = nullptr);
    ~CWinApp() override;

    BOOL InitInstance() override;
    int Run() override;
    int ExitInstance() override;
    void ParseCommandLine(CCommandLineInfo& info);
    HCURSOR LoadCursor(UINT id) const;
    HCURSOR LoadStandardCursor(LPCSTR id) const { return ::LoadCursorA(nullptr, id); }
    HICON LoadIcon(UINT id) const;
    // Shows the wait cursor while the count is above 0 (+1 begins, -1 ends, 0 shows it again).
    virtual void DoWaitCursor(int code);

    HINSTANCE m_hInstance = nullptr;
    LPCSTR m_pszAppName = nullptr;
    LPSTR m_lpCmdLine = nullptr;
    int m_nCmdShow = SW_SHOWNORMAL;
    int m_nWaitCursorCount = 0;
    HCURSOR m_hcurWaitCursorRestore = nullptr;

private:
    std::string appName_;
};

CWinApp* AfxGetApp();
CWinThread* AfxGetThread();
CWnd* AfxGetMainWnd();
HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxGetResourceHandle();
int AfxMessageBox(LPCSTR text, UINT type = MB_OK, UINT helpId = 0);
int AfxMessageBox(UINT promptId, UINT type = MB_OK, UINT helpId = static_cast<UINT>(-1));
// The framework's entry: keeps the arguments for ParseCommandLine, runs InitInstance and Run
// (ExitInstance when InitInstance fails) and returns the exit code.
int AfxWinMain(int argc, char** argv);
