// Controls (edit, static, button, combo box), dialogs and their modal loop, message boxes, file
// dialogs, the shell opener and the help window.
#include "platform/win32/user_internal.h"
#include "platform/win32/user_host.h"
#include "platform/win32/user_resources.h"
#include "platform/win32/window_surface.h"

#include <algorithm>
#include <cstring>
#include <sys/stat.h>

namespace ferolt::win32::user
{
bool LayerModalLoop::Pump()
{
    // A window that never validates would give WM_PAINT forever; the cap hands control back.
    for (int n = 0; n < 10000; ++n)
    {
        if (!keepGoing_()) return false;
        MSG m;
        if (!PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) break;
        if (m.message == WM_QUIT)
        {
            quit_ = true;
            PostQuitMessage(static_cast<int>(m.wParam)); // for the outer loop
            return false;
        }
        if (dialog_ && IsDialogMessageA(dialog_, &m)) continue;
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
    return keepGoing_() && !quit_;
}

int LayerModalLoop::MillisecondsToNextTimer()
{
    return user::MillisecondsToNextTimer();
}

OwnerDisabler::OwnerDisabler(HWND owner)
{
    if (!owner) return;
    root_ = GetAncestor(owner, GA_ROOT);
    if (root_ && IsWindowEnabled(root_))
    {
        EnableWindow(root_, FALSE);
        disabled_ = true;
    }
}

OwnerDisabler::~OwnerDisabler()
{
    Release();
}

void OwnerDisabler::Release()
{
    if (disabled_ && IsWindow(root_)) EnableWindow(root_, TRUE);
    disabled_ = false;
}

static void NotifyParent(HWND control, WORD code)
{
    HWND parent = GetParent(control);
    if (!parent) return;
    SendMessageA(parent, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(control), code),
                 reinterpret_cast<LPARAM>(control));
}

static void PaintBackground(HWND hwnd, int sysColor)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    RECT r;
    GetClientRect(hwnd, &r);
    FillRect(dc, &r, reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(sysColor + 1)));
    EndPaint(hwnd, &ps);
}

LRESULT CALLBACK EditProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg)
    {
    case WM_SETTEXT:
    {
        LRESULT r = DefWindowProcA(hwnd, msg, wParam, lParam);
        NotifyWindowChanged(hwnd, ferolt::backend::kChangedContent);
        InvalidateRect(hwnd, nullptr, TRUE);
        NotifyParent(hwnd, EN_CHANGE);
        return r;
    }
    case WM_CHAR:
    {
        auto w = Find(hwnd);
        if (!w) return 0;
        {
            std::lock_guard g(S().lock);
            if (wParam == VK_BACK)
            {
                if (!w->text.empty()) w->text.pop_back();
            }
            else if (wParam >= 0x20 && w->text.size() < kMaxText)
            {
                w->text += static_cast<char>(wParam);
            }
            else
            {
                return 0;
            }
        }
        NotifyWindowChanged(hwnd, ferolt::backend::kChangedContent);
        NotifyParent(hwnd, EN_CHANGE);
        return 0;
    }
    case WM_SETFOCUS:
        NotifyParent(hwnd, EN_SETFOCUS);
        return 0;
    case WM_KILLFOCUS:
        NotifyParent(hwnd, EN_KILLFOCUS);
        return 0;
    case WM_GETDLGCODE:
        return DLGC_HASSETSEL | DLGC_WANTARROWS | 0x0080 /* DLGC_WANTCHARS */;
    case EM_SETSEL:
    case EM_LIMITTEXT:
        return 0;
    case EM_GETSEL:
        return 0;
    case WM_PAINT:
        PaintBackground(hwnd, COLOR_WINDOW);
        return 0;
    default:
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    }
}

// Copies a bitmap into a static control's surface, centred or at the top left.
static void DrawImage(HWND hwnd, HANDLE image, bool centre)
{
    std::shared_ptr<GdiObject> bm;
    {
        std::lock_guard g(S().lock);
        auto it = S().gdi.find(reinterpret_cast<uintptr_t>(image));
        if (it == S().gdi.end() || it->second->type != OBJ_BITMAP) return;
        bm = it->second;
    }
    ferolt::win32::SurfaceView v;
    if (!ferolt::win32::LockClientSurface(hwnd, &v)) return;
    int ox = centre ? (v.width - bm->width) / 2 : 0;
    int oy = centre ? (v.height - bm->height) / 2 : 0;
    for (int y = 0; y < bm->height; ++y)
    {
        int dy = y + oy;
        if (dy < 0 || dy >= v.height) continue;
        for (int x = 0; x < bm->width; ++x)
        {
            int dx = x + ox;
            if (dx >= 0 && dx < v.width)
                v.pixels[static_cast<size_t>(dy) * v.pitch + dx] =
                    bm->pixels[static_cast<size_t>(y) * bm->width + x] | 0xFF000000u;
        }
    }
    RECT all{0, 0, v.width, v.height};
    ferolt::win32::UnlockClientSurface(hwnd, &all);
}

// Fills the face with the brush the parent answers to WM_CTLCOLORSTATIC and keeps the text colour
// it chose, which the backend uses for the text it draws.
static void PaintStatic(HWND hwnd)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    HWND parent = GetParent(hwnd);
    auto brush =
        reinterpret_cast<HBRUSH>(SendMessageA(parent ? parent : hwnd, WM_CTLCOLORSTATIC,
                                              reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(hwnd)));
    if (!brush) brush = GetSysColorBrush(COLOR_BTNFACE);
    RECT r;
    GetClientRect(hwnd, &r);
    FillRect(dc, &r, brush);
    COLORREF text = GetTextColor(dc);
    EndPaint(hwnd, &ps);
    bool changed = false;
    if (auto w = Find(hwnd))
    {
        std::lock_guard g(S().lock);
        changed = w->textColor != text;
        w->textColor = text;
    }
    if (changed) NotifyWindowChanged(hwnd, ferolt::backend::kChangedTextColor);
}

LRESULT CALLBACK StaticProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg)
    {
    case STM_SETIMAGE:
    {
        auto w = Find(hwnd);
        if (!w || wParam != IMAGE_BITMAP) return 0;
        HANDLE old;
        {
            std::lock_guard g(S().lock);
            old = w->image;
            w->image = reinterpret_cast<HANDLE>(lParam);
        }
        NotifyWindowChanged(hwnd, ferolt::backend::kChangedContent);
        InvalidateRect(hwnd, nullptr, TRUE);
        return reinterpret_cast<LRESULT>(old);
    }
    case STM_GETIMAGE:
    {
        auto w = Find(hwnd);
        if (!w) return 0;
        std::lock_guard g(S().lock);
        return reinterpret_cast<LRESULT>(w->image);
    }
    case WM_LBUTTONDOWN:
        if (GetWindowLongA(hwnd, GWL_STYLE) & SS_NOTIFY) NotifyParent(hwnd, STN_CLICKED);
        return 0;
    case WM_LBUTTONDBLCLK:
        if (GetWindowLongA(hwnd, GWL_STYLE) & SS_NOTIFY) NotifyParent(hwnd, STN_DBLCLK);
        return 0;
    case WM_SETTEXT:
    {
        LRESULT r = DefWindowProcA(hwnd, msg, wParam, lParam);
        NotifyWindowChanged(hwnd, ferolt::backend::kChangedContent);
        InvalidateRect(hwnd, nullptr, TRUE);
        return r;
    }
    case WM_GETDLGCODE:
        return DLGC_STATIC;
    case WM_PAINT:
    {
        PaintStatic(hwnd);
        auto w = Find(hwnd);
        HANDLE image = nullptr;
        DWORD style = 0;
        if (w)
        {
            std::lock_guard g(S().lock);
            image = w->image;
            style = w->style;
        }
        if (image && (style & SS_TYPEMASK) == SS_BITMAP)
            DrawImage(hwnd, image, (style & SS_CENTERIMAGE) != 0);
        return 0;
    }
    default:
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    }
}

LRESULT CALLBACK ButtonProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    DWORD type = static_cast<DWORD>(GetWindowLongA(hwnd, GWL_STYLE)) & BS_TYPEMASK;
    switch (msg)
    {
    case BM_CLICK:
    {
        // A click moves the focus first, so an edit that loses it reports EN_KILLFOCUS before the
        // command; when that handler keeps the focus (a refused field), the click is lost.
        if (GetWindowLongA(hwnd, GWL_STYLE) & WS_TABSTOP)
        {
            SetFocus(hwnd);
            if (GetFocus() != hwnd) return 0;
        }
        if (!IsWindow(hwnd) || !IsWindowEnabled(hwnd)) return 0;
        if (type == BS_AUTOCHECKBOX)
            SendMessageA(hwnd, BM_SETCHECK,
                         SendMessageA(hwnd, BM_GETCHECK, 0, 0) ? BST_UNCHECKED : BST_CHECKED, 0);
        if (type == BS_AUTORADIOBUTTON) SendMessageA(hwnd, BM_SETCHECK, BST_CHECKED, 0);
        NotifyParent(hwnd, BN_CLICKED);
        return 0;
    }
    case WM_LBUTTONUP:
    {
        RECT r;
        GetClientRect(hwnd, &r);
        POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        if (PtInRect(&r, p)) SendMessageA(hwnd, BM_CLICK, 0, 0);
        return 0;
    }
    case BM_GETCHECK:
    {
        auto w = Find(hwnd);
        if (!w) return 0;
        std::lock_guard g(S().lock);
        return w->check;
    }
    case BM_SETCHECK:
    {
        auto w = Find(hwnd);
        if (!w) return 0;
        {
            std::lock_guard g(S().lock);
            w->check = static_cast<int>(wParam);
        }
        NotifyWindowChanged(hwnd, ferolt::backend::kChangedContent);
        return 0;
    }
    case WM_GETDLGCODE:
        return DLGC_BUTTON | (type == BS_DEFPUSHBUTTON ? DLGC_DEFPUSHBUTTON
                              : type == BS_PUSHBUTTON  ? DLGC_UNDEFPUSHBUTTON
                                                       : 0);
    case WM_SETTEXT:
    {
        LRESULT r = DefWindowProcA(hwnd, msg, wParam, lParam);
        NotifyWindowChanged(hwnd, ferolt::backend::kChangedContent);
        return r;
    }
    case WM_PAINT:
        PaintBackground(hwnd, COLOR_BTNFACE);
        return 0;
    default:
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    }
}

// Adding, inserting and removing items; the selection keeps to its item.
static LRESULT ComboChangeItems(HWND hwnd, Window& w, UINT msg, WPARAM wParam, LPARAM lParam)
{
    LRESULT result;
    {
        std::lock_guard g(S().lock);
        switch (msg)
        {
        case CB_ADDSTRING:
        case CB_INSERTSTRING:
        {
            if (!lParam) return CB_ERR;
            std::string s = std::string(reinterpret_cast<const char*>(lParam)).substr(0, 4096);
            if (w.items.size() >= 100000) return CB_ERRSPACE;
            size_t pos = w.items.size();
            if (msg == CB_INSERTSTRING && static_cast<INT_PTR>(wParam) >= 0 && wParam <= w.items.size())
                pos = wParam;
            else if (msg == CB_ADDSTRING && (w.style & CBS_SORT))
            {
                pos = 0;
                while (pos < w.items.size() && ToLower(w.items[pos]) <= ToLower(s))
                    ++pos;
            }
            w.items.insert(w.items.begin() + static_cast<std::ptrdiff_t>(pos), s);
            w.itemData.insert(w.itemData.begin() + static_cast<std::ptrdiff_t>(pos), 0);
            if (w.curSel >= static_cast<int>(pos)) ++w.curSel;
            result = static_cast<LRESULT>(pos);
            break;
        }
        case CB_DELETESTRING:
            if (wParam >= w.items.size()) return CB_ERR;
            w.items.erase(w.items.begin() + static_cast<std::ptrdiff_t>(wParam));
            w.itemData.erase(w.itemData.begin() + static_cast<std::ptrdiff_t>(wParam));
            if (w.curSel == static_cast<int>(wParam))
                w.curSel = -1;
            else if (w.curSel > static_cast<int>(wParam))
                --w.curSel;
            result = static_cast<LRESULT>(w.items.size());
            break;
        case CB_RESETCONTENT:
            w.items.clear();
            w.itemData.clear();
            w.curSel = -1;
            result = CB_ERR + 1 + 0; // CB_OKAY
            break;
        default:
            return CB_ERR;
        }
    }
    NotifyWindowChanged(hwnd, ferolt::backend::kChangedContent);
    return result;
}

static LRESULT ComboSetSelection(HWND hwnd, Window& w, WPARAM wParam)
{
    LRESULT r;
    {
        std::lock_guard g(S().lock);
        auto i = static_cast<INT_PTR>(wParam);
        if (i < 0 || static_cast<size_t>(i) >= w.items.size())
        {
            w.curSel = -1; // out of range clears the selection
            r = CB_ERR;
        }
        else
        {
            w.curSel = static_cast<int>(i);
            r = i;
        }
    }
    NotifyWindowChanged(hwnd, ferolt::backend::kChangedContent);
    return r;
}

// Questions about the items, and the data kept beside each, which nobody sees.
static LRESULT ComboReadItems(Window& w, UINT msg, WPARAM wParam, LPARAM lParam)
{
    std::string key;
    if (msg == CB_FINDSTRINGEXACT)
    {
        if (!lParam) return CB_ERR;
        key = ToLower(reinterpret_cast<const char*>(lParam));
    }
    std::lock_guard g(S().lock);
    switch (msg)
    {
    case CB_GETCOUNT:
        return static_cast<LRESULT>(w.items.size());
    case CB_GETCURSEL:
        return w.curSel;
    case CB_GETLBTEXTLEN:
        if (wParam >= w.items.size()) return CB_ERR;
        return static_cast<LRESULT>(w.items[wParam].size());
    case CB_GETLBTEXT:
    {
        if (wParam >= w.items.size() || !lParam) return CB_ERR;
        const std::string& s = w.items[wParam];
        std::memcpy(reinterpret_cast<char*>(lParam), s.c_str(), s.size() + 1);
        return static_cast<LRESULT>(s.size());
    }
    case CB_FINDSTRINGEXACT:
    {
        size_t start = static_cast<INT_PTR>(wParam) < 0 ? 0 : wParam + 1;
        for (size_t k = 0; k < w.items.size(); ++k)
        {
            size_t i = (start + k) % w.items.size();
            if (ToLower(w.items[i]) == key) return static_cast<LRESULT>(i);
        }
        return CB_ERR;
    }
    case CB_SETITEMDATA:
        if (wParam >= w.itemData.size()) return CB_ERR;
        w.itemData[wParam] = lParam;
        return 0;
    case CB_GETITEMDATA:
        if (wParam >= w.itemData.size()) return CB_ERR;
        return w.itemData[wParam];
    default:
        return CB_ERR;
    }
}

// A drop-down list's text is its selected item; other combo boxes keep their own.
static LRESULT ComboText(HWND hwnd, Window& w, UINT msg, WPARAM wParam, LPARAM lParam)
{
    bool list;
    std::string s;
    {
        std::lock_guard g(S().lock);
        list = (w.style & 3) == CBS_DROPDOWNLIST;
        if (list && w.curSel >= 0) s = w.items[static_cast<size_t>(w.curSel)];
    }
    if (!list) return DefWindowProcA(hwnd, msg, wParam, lParam);
    if (msg == WM_GETTEXTLENGTH) return static_cast<LRESULT>(s.size());
    return CopyTextOut(s, wParam, lParam);
}

LRESULT CALLBACK ComboProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    auto w = Find(hwnd);
    if (!w) return 0;
    switch (msg)
    {
    case CB_ADDSTRING:
    case CB_INSERTSTRING:
    case CB_DELETESTRING:
    case CB_RESETCONTENT:
        return ComboChangeItems(hwnd, *w, msg, wParam, lParam);
    case CB_SETCURSEL:
        return ComboSetSelection(hwnd, *w, wParam);
    case CB_GETCOUNT:
    case CB_GETCURSEL:
    case CB_GETLBTEXTLEN:
    case CB_GETLBTEXT:
    case CB_FINDSTRINGEXACT:
    case CB_SETITEMDATA:
    case CB_GETITEMDATA:
        return ComboReadItems(*w, msg, wParam, lParam);
    case WM_GETTEXT:
    case WM_GETTEXTLENGTH:
        return ComboText(hwnd, *w, msg, wParam, lParam);
    case WM_KILLFOCUS:
        NotifyParent(hwnd, CBN_KILLFOCUS);
        return 0;
    case WM_GETDLGCODE:
        return DLGC_WANTARROWS | 0x0080;
    case WM_PAINT:
        PaintBackground(hwnd, COLOR_WINDOW);
        return 0;
    default:
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    }
}

LRESULT CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return DefDlgProcA(hwnd, msg, wParam, lParam);
}

// a * b / c rounded half away from zero, as the original's MulDiv.
static int MulDivRound(int a, int b, int c)
{
    int64_t p = static_cast<int64_t>(a) * b;
    int64_t q = (p >= 0 ? p + c / 2 : p - c / 2) / c;
    return static_cast<int>(q);
}

// Pixels of dialog units for the dialog's font: 6 x 13 base units at 8 points.
static void BaseUnits(int pointSize, int* bx, int* by)
{
    if (pointSize <= 0)
    {
        *bx = 8;
        *by = 16;
        return;
    }
    *bx = std::max(1, (6 * pointSize + 4) / 8);
    *by = std::max(1, (13 * pointSize + 4) / 8);
}

static HWND CreateFromTemplate(const DialogTemplate& t, HWND parent, DLGPROC proc, LPARAM param)
{
    int bx, by;
    BaseUnits(t.pointSize, &bx, &by);
    HWND owner = parent ? GetAncestor(parent, GA_ROOT) : nullptr;
    DWORD style = t.style & ~static_cast<DWORD>(WS_VISIBLE | WS_CHILD);
    DWORD ex = t.exStyle | ((t.style & DS_MODALFRAME) ? WS_EX_DLGMODALFRAME : 0);
    RECT r{0, 0, MulDivRound(t.cx, bx, 4), MulDivRound(t.cy, by, 8)};
    AdjustWindowRectEx(&r, style, FALSE, ex);
    int w = r.right - r.left, h = r.bottom - r.top;
    POINT pos{MulDivRound(t.x, bx, 4), MulDivRound(t.y, by, 8)};
    if (owner && !(t.style & DS_ABSALIGN)) ClientToScreen(owner, &pos);
    if (t.style & DS_CENTER)
    {
        RECT area;
        if (owner)
            GetWindowRect(owner, &area);
        else
        {
            MONITORINFO mi{sizeof(mi), {}, {}, 0};
            GetMonitorInfoA(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &mi);
            area = mi.rcWork;
        }
        pos.x = (area.left + area.right - w) / 2;
        pos.y = (area.top + area.bottom - h) / 2;
    }
    HWND dlg = CreateWindowExA(ex, "#32770", t.caption.c_str(), style, pos.x, pos.y, w, h, owner, nullptr,
                               nullptr, nullptr);
    if (!dlg) return nullptr;
    HFONT font = nullptr;
    if (t.pointSize > 0)
    {
        LOGFONTA lf{};
        lf.lfHeight = -(t.pointSize * 96 + 36) / 72;
        lf.lfWeight = FW_NORMAL;
        lf.lfCharSet = DEFAULT_CHARSET;
        std::strncpy(lf.lfFaceName, t.face.c_str(), LF_FACESIZE - 1);
        font = CreateFontIndirectA(&lf);
    }
    if (auto dw = Find(dlg))
    {
        std::lock_guard g(S().lock);
        dw->dlgProc = proc;
        dw->baseX = bx;
        dw->baseY = by;
        dw->font = font;
    }
    HWND firstTab = nullptr;
    for (auto& c : t.controls)
    {
        HWND ctl = CreateWindowExA(c.exStyle, c.className.c_str(), c.text.c_str(), c.style | WS_CHILD,
                                   MulDivRound(c.x, bx, 4), MulDivRound(c.y, by, 8), MulDivRound(c.cx, bx, 4),
                                   MulDivRound(c.cy, by, 8), dlg,
                                   reinterpret_cast<HMENU>(static_cast<intptr_t>(c.id)), nullptr, nullptr);
        if (!ctl)
        {
            DestroyWindow(dlg);
            return nullptr;
        }
        if (font) SendMessageA(ctl, WM_SETFONT, reinterpret_cast<WPARAM>(font), 0);
        if (!firstTab && (c.style & WS_TABSTOP) && !(c.style & WS_DISABLED)) firstTab = ctl;
    }
    if (font) SendMessageA(dlg, WM_SETFONT, reinterpret_cast<WPARAM>(font), 0);
    LRESULT focusDefault = SendMessageA(dlg, WM_INITDIALOG, reinterpret_cast<WPARAM>(firstTab), param);
    if (!IsWindow(dlg)) return nullptr;
    if (focusDefault && firstTab && IsWindow(firstTab)) SetFocus(firstTab);
    if (t.style & WS_VISIBLE) ShowWindow(dlg, SW_SHOW);
    return dlg;
}

static INT_PTR RunModal(const DialogTemplate& t, HWND parent, DLGPROC proc, LPARAM param)
{
    HWND owner = parent ? GetAncestor(parent, GA_ROOT) : nullptr;
    OwnerDisabler disable(owner);
    HWND dlg = CreateFromTemplate(t, parent, proc, param);
    if (!dlg) return -1;
    auto w = Find(dlg);
    {
        std::lock_guard g(S().lock);
        w->dlgModal = true;
    }
    auto open = [dlg, w]
    {
        if (!IsWindow(dlg)) return false;
        std::lock_guard g(S().lock);
        return !w->dlgEnded;
    };
    if (open())
    {
        HWND focus = GetFocus();
        ShowWindow(dlg, SW_SHOW);
        if (focus && IsChild(dlg, focus)) SetFocus(focus); // showing activates; the initial focus stays
        LayerModalLoop loop(dlg, open);
        if (auto b = CurrentBackend())
            b->RunDialog(dlg, loop);
        else
            loop.Pump();
        if (open()) EndDialog(dlg, IDCANCEL); // nobody answered: cancel, as the built-in backend does
    }
    INT_PTR result;
    {
        std::lock_guard g(S().lock);
        result = w->dlgResult;
    }
    // The owner is enabled again before the dialog goes, so activation returns to it.
    disable.Release();
    if (IsWindow(dlg)) DestroyWindow(dlg);
    if (owner && IsWindow(owner)) SetActiveWindow(owner);
    return result;
}
} // namespace ferolt::win32::user

using namespace ferolt::win32::user;
using ferolt::win32::user::S;

// ---------------------------------------------------------------------------------------------------
// Dialog functions

LRESULT DefDlgProcA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    auto w = Find(hwnd);
    if (!w) return 0;
    DLGPROC proc;
    {
        std::lock_guard g(S().lock);
        proc = w->dlgProc;
    }
    if (proc)
    {
        {
            std::lock_guard g(S().lock);
            w->dlgMsgResult = 0;
        }
        INT_PTR r = proc(hwnd, msg, wParam, lParam);
        // A colour message answers with the brush itself; zero asks for the default colours.
        if (msg == WM_INITDIALOG || (msg == WM_CTLCOLORSTATIC && r)) return r;
        if (r)
        {
            std::lock_guard g(S().lock);
            return w->dlgMsgResult;
        }
        if (!IsWindow(hwnd)) return 0;
    }
    switch (msg)
    {
    case WM_INITDIALOG:
        return TRUE;
    case WM_CLOSE:
        SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(hwnd, IDCANCEL)));
        return 0;
    case WM_ERASEBKGND:
    {
        RECT r;
        GetClientRect(hwnd, &r);
        FillRect(reinterpret_cast<HDC>(wParam), &r, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
        return 1;
    }
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE)
        {
            HWND f = GetFocus();
            if (f && IsChild(hwnd, f))
            {
                std::lock_guard g(S().lock);
                w->dlgFocus = f;
            }
            return 0;
        }
        [[fallthrough]];
    case WM_SETFOCUS:
    {
        HWND target;
        {
            std::lock_guard g(S().lock);
            target = w->dlgFocus;
        }
        if (!target || !IsWindow(target) || !IsChild(hwnd, target))
            target = GetNextDlgTabItem(hwnd, nullptr, FALSE);
        HWND f = GetFocus();
        if (target && f != target && !(f && IsChild(hwnd, f))) SetFocus(target);
        return 0;
    }
    case WM_NEXTDLGCTL:
    {
        HWND target = LOWORD(lParam) ? reinterpret_cast<HWND>(wParam)
                                     : GetNextDlgTabItem(hwnd, GetFocus(), wParam ? TRUE : FALSE);
        if (target) SetFocus(target);
        return 0;
    }
    case DM_GETDEFID:
    {
        std::vector<HWND> kids;
        {
            std::lock_guard g(S().lock);
            kids = w->children;
        }
        for (HWND c : kids)
            if (SendMessageA(c, WM_GETDLGCODE, 0, 0) & DLGC_DEFPUSHBUTTON)
                return MAKELONG(GetDlgCtrlID(c), DC_HASDEFID);
        return MAKELONG(IDOK, DC_HASDEFID);
    }
    case WM_SETFONT:
    {
        {
            std::lock_guard g(S().lock);
            w->font = reinterpret_cast<HFONT>(wParam);
        }
        NotifyWindowChanged(hwnd, ferolt::backend::kChangedFont);
        return 0;
    }
    default:
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    }
}

INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR name, HWND parent, DLGPROC proc, LPARAM param)
{
    std::string text;
    if (!LoadResourceText(instance, name, 5 /* RT_DIALOG */, &text)) return -1;
    auto t = ParseDialog(text);
    if (!t) return -1;
    return RunModal(*t, parent, proc, param);
}

HWND CreateDialogParamA(HINSTANCE instance, LPCSTR name, HWND parent, DLGPROC proc, LPARAM param)
{
    std::string text;
    if (!LoadResourceText(instance, name, 5 /* RT_DIALOG */, &text)) return nullptr;
    auto t = ParseDialog(text);
    return t ? CreateFromTemplate(*t, parent, proc, param) : nullptr;
}

namespace ferolt::win32
{
INT_PTR DialogBoxFromText(const std::string& text, HWND parent, DLGPROC proc, LPARAM param)
{
    auto t = ParseDialog(text);
    return t ? RunModal(*t, parent, proc, param) : -1;
}

HWND CreateDialogFromText(const std::string& text, HWND parent, DLGPROC proc, LPARAM param)
{
    auto t = ParseDialog(text);
    return t ? CreateFromTemplate(*t, parent, proc, param) : nullptr;
}
} // namespace ferolt::win32

BOOL EndDialog(HWND dialog, INT_PTR result)
{
    auto w = Find(dialog);
    if (!w) return FALSE;
    bool modal;
    {
        std::lock_guard g(S().lock);
        if (w->kind != Kind::Dialog) return FALSE;
        w->dlgEnded = true;
        w->dlgResult = result;
        modal = w->dlgModal;
    }
    if (modal) ShowWindow(dialog, SW_HIDE);
    if (auto q = CurrentQueue()) q->wake.notify_all();
    return TRUE;
}

HWND GetDlgItem(HWND dialog, int id)
{
    auto w = Find(dialog);
    if (!w) return nullptr;
    std::lock_guard g(S().lock);
    for (HWND c : w->children)
        if (auto cw = FindLocked(c); cw && static_cast<int>(cw->id) == id) return c;
    return nullptr;
}

int GetDlgCtrlID(HWND hwnd)
{
    auto w = Find(hwnd);
    if (!w) return 0;
    std::lock_guard g(S().lock);
    return (w->style & WS_CHILD) ? static_cast<int>(w->id) : 0;
}

BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text)
{
    HWND c = GetDlgItem(dialog, id);
    return c ? SetWindowTextA(c, text) : FALSE;
}

UINT GetDlgItemTextA(HWND dialog, int id, LPSTR buffer, int max)
{
    HWND c = GetDlgItem(dialog, id);
    if (!c)
    {
        if (buffer && max > 0) buffer[0] = 0;
        return 0;
    }
    return static_cast<UINT>(GetWindowTextA(c, buffer, max));
}

BOOL SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned)
{
    std::string s = isSigned ? std::to_string(static_cast<int>(value)) : std::to_string(value);
    return SetDlgItemTextA(dialog, id, s.c_str());
}

UINT GetDlgItemInt(HWND dialog, int id, BOOL* translated, BOOL isSigned)
{
    if (translated) *translated = FALSE;
    char buf[64];
    if (!GetDlgItemTextA(dialog, id, buf, sizeof buf) && !GetDlgItem(dialog, id)) return 0;
    const char* p = buf;
    while (*p == ' ')
        ++p;
    bool neg = false;
    if (isSigned && *p == '-')
    {
        neg = true;
        ++p;
    }
    if (*p < '0' || *p > '9') return 0;
    uint64_t v = 0;
    while (*p >= '0' && *p <= '9')
    {
        v = v * 10 + static_cast<uint64_t>(*p++ - '0');
        if (v > (isSigned ? 0x80000000ull : 0xFFFFFFFFull)) return 0;
    }
    while (*p == ' ')
        ++p;
    if (*p) return 0;
    if (isSigned && !neg && v > 0x7FFFFFFF) return 0;
    if (translated) *translated = TRUE;
    return neg ? static_cast<UINT>(-static_cast<int64_t>(v)) : static_cast<UINT>(v);
}

LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT msg, WPARAM wParam, LPARAM lParam)
{
    HWND c = GetDlgItem(dialog, id);
    return c ? SendMessageA(c, msg, wParam, lParam) : 0;
}

BOOL MapDialogRect(HWND dialog, LPRECT rect)
{
    auto w = Find(dialog);
    if (!w || !rect) return FALSE;
    std::lock_guard g(S().lock);
    rect->left = MulDivRound(rect->left, w->baseX, 4);
    rect->right = MulDivRound(rect->right, w->baseX, 4);
    rect->top = MulDivRound(rect->top, w->baseY, 8);
    rect->bottom = MulDivRound(rect->bottom, w->baseY, 8);
    return TRUE;
}

LONG GetDialogBaseUnits()
{
    return MAKELONG(8, 16);
}

HWND GetNextDlgTabItem(HWND dialog, HWND control, BOOL previous)
{
    auto w = Find(dialog);
    if (!w) return nullptr;
    std::vector<HWND> tabs;
    {
        std::lock_guard g(S().lock);
        for (HWND c : w->children)
        {
            auto cw = FindLocked(c);
            if (cw && (cw->style & WS_TABSTOP) && cw->visible && cw->enabled) tabs.push_back(c);
        }
    }
    if (tabs.empty()) return nullptr;
    auto it = std::find(tabs.begin(), tabs.end(), control);
    if (it == tabs.end()) return previous ? tabs.back() : tabs.front();
    size_t i = static_cast<size_t>(it - tabs.begin());
    return previous ? tabs[(i + tabs.size() - 1) % tabs.size()] : tabs[(i + 1) % tabs.size()];
}

BOOL IsDialogMessageA(HWND dialog, LPMSG msg)
{
    if (!msg || !IsWindow(dialog)) return FALSE;
    if (msg->hwnd != dialog && !IsChild(dialog, msg->hwnd)) return FALSE;
    if (msg->message == WM_KEYDOWN)
    {
        LRESULT code = SendMessageA(msg->hwnd, WM_GETDLGCODE, msg->wParam, reinterpret_cast<LPARAM>(msg));
        switch (msg->wParam)
        {
        case VK_TAB:
            if (code & (DLGC_WANTTAB | DLGC_WANTALLKEYS)) break;
            if (HWND next =
                    GetNextDlgTabItem(dialog, GetFocus(), (GetKeyState(VK_SHIFT) & 0x8000) ? TRUE : FALSE))
                SetFocus(next);
            return TRUE;
        case VK_RETURN:
        {
            if (code & DLGC_WANTALLKEYS) break;
            HWND focus = GetFocus();
            int id;
            if (focus &&
                (SendMessageA(focus, WM_GETDLGCODE, 0, 0) & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON)))
                id = GetDlgCtrlID(focus);
            else
                id = LOWORD(SendMessageA(dialog, DM_GETDEFID, 0, 0));
            HWND button = GetDlgItem(dialog, id);
            if (button && !IsWindowEnabled(button)) return TRUE;
            SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
            return TRUE;
        }
        case VK_ESCAPE:
            SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
            return TRUE;
        default:
            break;
        }
    }
    TranslateMessage(msg);
    DispatchMessageA(msg);
    return TRUE;
}

// ---------------------------------------------------------------------------------------------------
// Controls driven by a backend or a test

namespace ferolt::win32::host
{
void ControlClicked(HWND control)
{
    auto w = Find(control);
    if (!w) return;
    Kind kind;
    {
        std::lock_guard g(S().lock);
        kind = w->kind;
        for (auto p = w; p; p = FindLocked(p->parent))
            if (!p->enabled) return;
    }
    if (kind == Kind::Button)
        SendMessageA(control, BM_CLICK, 0, 0);
    else
        SendMessageA(control, WM_LBUTTONDOWN, MK_LBUTTON, 0);
    NoteHandledInput();
}

void EditChanged(HWND edit, const std::string& utf8)
{
    if (SetWindowTextA(edit, utf8.c_str())) NoteHandledInput();
}

void ComboSelected(HWND combo, int index)
{
    if (SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0) == CB_ERR) return;
    NotifyParent(combo, CBN_SELCHANGE);
    NoteHandledInput();
}

void FocusControl(HWND control)
{
    SetFocus(control);
    NoteHandledInput();
}
} // namespace ferolt::win32::host

// ---------------------------------------------------------------------------------------------------
// Message boxes, file dialogs, shell and help

static int DefaultAnswer(UINT type)
{
    switch (type & MB_TYPEMASK)
    {
    case MB_OK:
        return IDOK;
    case MB_YESNO:
        return IDNO;
    case MB_ABORTRETRYIGNORE:
        return IDABORT;
    default:
        return IDCANCEL;
    }
}

static bool Allowed(UINT type, int id)
{
    switch (type & MB_TYPEMASK)
    {
    case MB_OK:
        return id == IDOK;
    case MB_OKCANCEL:
        return id == IDOK || id == IDCANCEL;
    case MB_ABORTRETRYIGNORE:
        return id == IDABORT || id == IDRETRY || id == IDIGNORE;
    case MB_YESNOCANCEL:
        return id == IDYES || id == IDNO || id == IDCANCEL;
    case MB_YESNO:
        return id == IDYES || id == IDNO;
    case MB_RETRYCANCEL:
        return id == IDRETRY || id == IDCANCEL;
    default:
        return false;
    }
}

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    ferolt::backend::MessageBoxRequest req;
    req.owner = owner;
    req.text = text ? std::string(text).substr(0, kMaxText) : "";
    req.caption = caption ? caption : "Error";
    req.type = type;
    OwnerDisabler disable(owner);
    int answer = DefaultAnswer(type);
    if (auto b = CurrentBackend())
    {
        LayerModalLoop loop(nullptr, [] { return true; });
        int got = b->ShowMessageBox(req, loop);
        if (Allowed(type, got)) answer = got;
    }
    return answer;
}

static std::vector<ferolt::backend::FileFilter> ParseFilter(LPCSTR filter)
{
    std::vector<ferolt::backend::FileFilter> out;
    if (!filter) return out;
    const char* p = filter;
    // Pairs of texts; an empty text ends the list. The walk is bounded against a missing end.
    for (int n = 0; n < 256 && *p; ++n)
    {
        ferolt::backend::FileFilter f;
        size_t a = strnlen(p, 4096);
        f.description.assign(p, a);
        p += a + 1;
        if (!*p) break;
        size_t b = strnlen(p, 4096);
        f.patterns.assign(p, b);
        p += b + 1;
        out.push_back(std::move(f));
    }
    return out;
}

static BOOL FileDialog(LPOPENFILENAMEA ofn, bool save)
{
    S().lastCommDlgError = 0;
    if (!ofn || !ofn->lpstrFile || ofn->nMaxFile == 0) return FALSE;
    ferolt::backend::FileDialogRequest req;
    req.owner = ofn->hwndOwner;
    req.save = save;
    req.title = ofn->lpstrTitle ? ofn->lpstrTitle : "";
    req.filters = ParseFilter(ofn->lpstrFilter);
    req.filterIndex = ofn->nFilterIndex > 0 ? static_cast<int>(ofn->nFilterIndex) - 1 : 0;
    req.initialDirectory = ofn->lpstrInitialDir ? ofn->lpstrInitialDir : "";
    req.initialName = std::string(ofn->lpstrFile, strnlen(ofn->lpstrFile, ofn->nMaxFile));
    req.defaultExtension = ofn->lpstrDefExt ? ofn->lpstrDefExt : "";
    req.flags = ofn->Flags;
    auto b = CurrentBackend();
    if (!b) return FALSE;
    OwnerDisabler disable(ofn->hwndOwner);
    std::string path;
    int filter = req.filterIndex;
    // A refused overwrite asks again, as the original dialog stays open.
    for (int round = 0; round < 16; ++round)
    {
        LayerModalLoop loop(nullptr, [] { return true; });
        path.clear();
        if (!b->ShowFileDialog(req, &path, &filter, loop) || path.empty()) return FALSE;
        size_t slash = path.find_last_of("/\\");
        size_t name = slash == std::string::npos ? 0 : slash + 1;
        if (!req.defaultExtension.empty() && path.find('.', name) == std::string::npos)
            path += "." + req.defaultExtension;
        struct stat st;
        if (!save || !(ofn->Flags & OFN_OVERWRITEPROMPT) || stat(path.c_str(), &st) != 0) break;
        std::string q = path.substr(name) + " already exists.\nDo you want to replace it?";
        if (MessageBoxA(ofn->hwndOwner, q.c_str(), "Confirm Save As", MB_YESNO | MB_ICONWARNING) == IDYES)
            break;
        if (round == 15) return FALSE;
    }
    if (path.size() + 1 > ofn->nMaxFile)
    {
        S().lastCommDlgError = FNERR_BUFFERTOOSMALL;
        return FALSE;
    }
    std::memcpy(ofn->lpstrFile, path.c_str(), path.size() + 1);
    size_t slash = path.find_last_of("/\\");
    size_t name = slash == std::string::npos ? 0 : slash + 1;
    size_t dot = path.find_last_of('.');
    ofn->nFileOffset = static_cast<WORD>(std::min<size_t>(name, 0xFFFF));
    ofn->nFileExtension = static_cast<WORD>(
        dot == std::string::npos || dot < name ? path.size() : std::min<size_t>(dot + 1, 0xFFFF));
    ofn->nFilterIndex = static_cast<DWORD>(filter + 1);
    if (ofn->lpstrFileTitle && ofn->nMaxFileTitle)
    {
        std::string t = path.substr(name).substr(0, ofn->nMaxFileTitle - 1);
        std::memcpy(ofn->lpstrFileTitle, t.c_str(), t.size() + 1);
    }
    return TRUE;
}

BOOL GetOpenFileNameA(LPOPENFILENAMEA ofn)
{
    return FileDialog(ofn, false);
}
BOOL GetSaveFileNameA(LPOPENFILENAMEA ofn)
{
    return FileDialog(ofn, true);
}
DWORD CommDlgExtendedError()
{
    return S().lastCommDlgError;
}

HINSTANCE ShellExecuteA(HWND, LPCSTR verb, LPCSTR file, LPCSTR, LPCSTR, int)
{
    if (!file || !*file) return reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(SE_ERR_FNF));
    auto b = CurrentBackend();
    bool ok = b && b->ShellOpen(file, verb ? verb : "open");
    return reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(ok ? 42 : SE_ERR_NOASSOC));
}

// The help window is the layer's stand-in for the viewer the backend shows: a hidden top-level
// window, left out of the window lists so that code enumerating its own windows never meets it.
static HWND HelpWindow(bool create)
{
    static HWND help = nullptr;
    if (IsWindow(help) || !create) return IsWindow(help) ? help : nullptr;
    {
        std::lock_guard g(S().lock);
        if (!S().classes.count("ferolthelpwindow"))
        {
            auto c = std::make_shared<WndClass>();
            c->name = "FeroltHelpWindow";
            c->proc = DefWindowProcA;
            c->kind = Kind::Generic;
            S().classes["ferolthelpwindow"] = c;
        }
    }
    help = CreateWindowExA(0, "FeroltHelpWindow", "Help", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr,
                           nullptr);
    if (!help) return nullptr;
    std::lock_guard g(S().lock);
    auto& tl = S().topLevel;
    tl.erase(std::remove(tl.begin(), tl.end(), help), tl.end());
    return help;
}

HWND HtmlHelpA(HWND caller, LPCSTR file, UINT command, DWORD_PTR)
{
    if (command == HH_CLOSE_ALL)
    {
        if (HWND help = HelpWindow(false)) DestroyWindow(help);
        return nullptr;
    }
    if (!file || (command != HH_DISPLAY_TOPIC && command != HH_DISPLAY_TOC)) return nullptr;
    auto b = CurrentBackend();
    if (!b || !b->ShowHelp(caller, file)) return nullptr;
    return HelpWindow(true);
}
