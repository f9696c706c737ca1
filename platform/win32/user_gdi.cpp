// Device contexts of windows, solid fills, brushes, fonts, bitmaps, the client surfaces behind
// them, cursors and icons.
#include "platform/win32/user_internal.h"
#include "platform/win32/window_surface.h"

#include <algorithm>
#include <cstring>

namespace ferolt::win32::user
{
// The X byte is 0xFF: backends show surfaces as opaque 32-bit RGB, which wants it set.
uint32_t ColorToPixel(COLORREF c)
{
    return 0xFF000000u | (static_cast<uint32_t>(GetRValue(c)) << 16) |
           (static_cast<uint32_t>(GetGValue(c)) << 8) | GetBValue(c);
}

COLORREF SysColor(int index)
{
    switch (index)
    {
    case COLOR_WINDOW:
        return RGB(255, 255, 255);
    case COLOR_WINDOWTEXT:
    case COLOR_BTNTEXT:
        return RGB(0, 0, 0);
    case COLOR_BTNFACE:
        return RGB(240, 240, 240);
    case COLOR_BACKGROUND:
        return RGB(0, 0, 0);
    case COLOR_HOTLIGHT:
        return RGB(0, 102, 204);
    case COLOR_SCROLLBAR:
        return RGB(200, 200, 200);
    default:
        return RGB(192, 192, 192);
    }
}

// Makes the surface match the client size; new pixels are opaque black. Caller holds the surface
// lock and a copy of the size.
static void ResizeSurface(Window& w, int width, int height)
{
    if (width == w.surfaceWidth && height == w.surfaceHeight) return;
    if (static_cast<int64_t>(width) * height > kMaxSurfacePixels) width = height = 0;
    std::vector<uint32_t> next(static_cast<size_t>(width) * static_cast<size_t>(height), 0xFF000000u);
    int cw = std::min(width, w.surfaceWidth), ch = std::min(height, w.surfaceHeight);
    for (int y = 0; y < ch; ++y)
        std::memcpy(&next[static_cast<size_t>(y) * width], &w.pixels[static_cast<size_t>(y) * w.surfaceWidth],
                    static_cast<size_t>(cw) * 4);
    w.pixels.swap(next);
    w.surfaceWidth = width;
    w.surfaceHeight = height;
}

static uintptr_t Key(const void* h)
{
    return reinterpret_cast<uintptr_t>(h);
}

static std::shared_ptr<GdiObject> GdiLocked(HGDIOBJ h)
{
    auto it = S().gdi.find(Key(h));
    return it == S().gdi.end() ? nullptr : it->second;
}

static HGDIOBJ AddGdiLocked(std::shared_ptr<GdiObject> o)
{
    uintptr_t id = S().nextGdi;
    S().nextGdi += 4;
    S().gdi[id] = std::move(o);
    return reinterpret_cast<HGDIOBJ>(id);
}

static HDC AddDc(std::shared_ptr<DeviceContext> dc)
{
    std::lock_guard g(S().lock);
    uintptr_t id = S().nextDc;
    S().nextDc += 4;
    S().dcs[id] = std::move(dc);
    return reinterpret_cast<HDC>(id);
}

static std::shared_ptr<DeviceContext> FindDc(HDC hdc)
{
    std::lock_guard g(S().lock);
    auto it = S().dcs.find(Key(hdc));
    return it == S().dcs.end() ? nullptr : it->second;
}

// Ends a window context: the area drawn is handed to the backend.
static void CloseDc(HDC hdc)
{
    std::shared_ptr<DeviceContext> dc;
    {
        std::lock_guard g(S().lock);
        auto it = S().dcs.find(Key(hdc));
        if (it == S().dcs.end()) return;
        dc = it->second;
        S().dcs.erase(it);
    }
    if (dc->hwnd && dc->touched) NotifySurface(dc->hwnd, dc->changed);
}
} // namespace ferolt::win32::user

using namespace ferolt::win32::user;
using ferolt::win32::user::S;

// ---------------------------------------------------------------------------------------------------
// Client surfaces

namespace ferolt::win32
{
bool LockClientSurface(HWND hwnd, SurfaceView* out)
{
    if (!out) return false;
    auto w = Find(hwnd);
    if (!w) return false;
    std::shared_ptr<std::mutex> lock;
    int width, height;
    {
        std::lock_guard g(S().lock);
        lock = w->surfaceLock;
        width = w->client.right - w->client.left;
        height = w->client.bottom - w->client.top;
    }
    lock->lock();
    ResizeSurface(*w, width, height);
    out->pixels = w->pixels.empty() ? nullptr : w->pixels.data();
    out->width = w->surfaceWidth;
    out->height = w->surfaceHeight;
    out->pitch = w->surfaceWidth;
    return true;
}

void UnlockClientSurface(HWND hwnd, const RECT* changed)
{
    auto w = Find(hwnd);
    if (!w) return;
    RECT area{0, 0, w->surfaceWidth, w->surfaceHeight};
    if (changed) IntersectRect(&area, changed, &area);
    w->surfaceLock->unlock();
    if (!IsRectEmpty(&area)) NotifySurface(hwnd, area);
}
} // namespace ferolt::win32

// Fills `rect` (context coordinates) clipped to the context's clip box with one pixel value.
static bool FillDc(const std::shared_ptr<DeviceContext>& dc, const RECT& rect, uint32_t pixel)
{
    RECT r;
    if (!IntersectRect(&r, &rect, &dc->clip)) return true;
    if (dc->hwnd)
    {
        ferolt::win32::SurfaceView v;
        if (!ferolt::win32::LockClientSurface(dc->hwnd, &v)) return false;
        RECT bounds{0, 0, v.width, v.height};
        if (IntersectRect(&r, &r, &bounds))
        {
            for (LONG y = r.top; y < r.bottom; ++y)
                std::fill_n(v.pixels + static_cast<size_t>(y) * v.pitch + r.left, r.right - r.left, pixel);
            if (dc->touched)
                UnionRect(&dc->changed, &dc->changed, &r);
            else
                dc->changed = r;
            dc->touched = true;
        }
        auto w = Find(dc->hwnd);
        if (w) w->surfaceLock->unlock();
        return true;
    }
    if (dc->memory && dc->bitmap)
    {
        std::lock_guard g(S().lock);
        auto bm = GdiLocked(dc->bitmap);
        if (!bm) return false;
        RECT bounds{0, 0, bm->width, bm->height};
        if (IntersectRect(&r, &r, &bounds))
            for (LONG y = r.top; y < r.bottom; ++y)
                std::fill_n(bm->pixels.data() + static_cast<size_t>(y) * bm->width + r.left, r.right - r.left,
                            pixel);
    }
    return true;
}

int FillRect(HDC hdc, const RECT* rect, HBRUSH brush)
{
    auto dc = FindDc(hdc);
    if (!dc || !rect) return 0;
    COLORREF color;
    auto sys = reinterpret_cast<uintptr_t>(brush);
    if (sys >= 1 && sys <= 31)
        color = SysColor(static_cast<int>(sys - 1)); // (HBRUSH)(COLOR_x + 1)
    else
    {
        std::lock_guard g(S().lock);
        auto b = GdiLocked(brush);
        if (!b || b->type != OBJ_BRUSH) return 0;
        if (b->nullBrush) return 1;
        color = b->color;
    }
    return FillDc(dc, *rect, ColorToPixel(color)) ? 1 : 0;
}

// ---------------------------------------------------------------------------------------------------
// Contexts

HDC BeginPaint(HWND hwnd, LPPAINTSTRUCT ps)
{
    auto w = Find(hwnd);
    if (!w || !ps) return nullptr;
    auto dc = std::make_shared<DeviceContext>();
    dc->hwnd = hwnd;
    dc->paint = true;
    bool erase;
    {
        std::lock_guard g(S().lock);
        dc->clip = w->hasUpdate ? w->update : RECT{0, 0, 0, 0};
        erase = w->erase;
        w->hasUpdate = false;
        w->erase = false;
        w->internalPaint = false;
        dc->font = w->font;
    }
    HDC hdc = AddDc(dc);
    *ps = PAINTSTRUCT{};
    ps->hdc = hdc;
    ps->rcPaint = dc->clip;
    ps->fErase = TRUE;
    if (erase) ps->fErase = CallProc(w, WM_ERASEBKGND, reinterpret_cast<WPARAM>(hdc), 0) ? FALSE : TRUE;
    return hdc;
}

BOOL EndPaint(HWND, const PAINTSTRUCT* ps)
{
    if (!ps) return FALSE;
    CloseDc(ps->hdc);
    return TRUE;
}

HDC GetDC(HWND hwnd)
{
    auto dc = std::make_shared<DeviceContext>();
    if (!hwnd)
    {
        RECT r{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
        dc->clip = r;
        return AddDc(dc);
    }
    auto w = Find(hwnd);
    if (!w) return nullptr;
    dc->hwnd = hwnd;
    {
        std::lock_guard g(S().lock);
        dc->clip = RECT{0, 0, w->client.right - w->client.left, w->client.bottom - w->client.top};
        dc->font = w->font;
    }
    return AddDc(dc);
}

HDC GetWindowDC(HWND hwnd)
{
    return GetDC(hwnd);
}

int ReleaseDC(HWND, HDC hdc)
{
    if (!FindDc(hdc)) return 0;
    CloseDc(hdc);
    return 1;
}

HWND WindowFromDC(HDC hdc)
{
    auto dc = FindDc(hdc);
    return dc ? dc->hwnd : nullptr;
}

HDC CreateCompatibleDC(HDC)
{
    auto dc = std::make_shared<DeviceContext>();
    dc->memory = true;
    dc->clip = RECT{0, 0, 1, 1};
    return AddDc(dc);
}

BOOL DeleteDC(HDC hdc)
{
    if (!FindDc(hdc)) return FALSE;
    CloseDc(hdc);
    return TRUE;
}

int GetDeviceCaps(HDC hdc, int index)
{
    auto dc = FindDc(hdc);
    if (!dc) return 0;
    switch (index)
    {
    case HORZRES:
        return GetSystemMetrics(SM_CXSCREEN);
    case VERTRES:
        return GetSystemMetrics(SM_CYSCREEN);
    case HORZSIZE:
        return GetSystemMetrics(SM_CXSCREEN) * 254 / 960; // millimetres at 96 dots per inch
    case VERTSIZE:
        return GetSystemMetrics(SM_CYSCREEN) * 254 / 960;
    case BITSPIXEL:
        return 32;
    case PLANES:
        return 1;
    case NUMCOLORS:
        return -1;
    case LOGPIXELSX:
    case LOGPIXELSY:
        return 96;
    case TECHNOLOGY:
        return DT_RASDISPLAY;
    case DRIVERVERSION:
        return 0x4000;
    default:
        return 0;
    }
}

int GetClipBox(HDC hdc, LPRECT rect)
{
    auto dc = FindDc(hdc);
    if (!dc || !rect) return ERROR;
    *rect = dc->clip;
    return IsRectEmpty(&dc->clip) ? NULLREGION : SIMPLEREGION;
}

static COLORREF PixelToColor(uint32_t p)
{
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
}

COLORREF GetPixel(HDC hdc, int x, int y)
{
    auto dc = FindDc(hdc);
    if (!dc) return CLR_INVALID;
    if (dc->memory)
    {
        std::lock_guard g(S().lock);
        auto bm = dc->bitmap ? GdiLocked(dc->bitmap) : nullptr;
        if (!bm || x < 0 || y < 0 || x >= bm->width || y >= bm->height) return CLR_INVALID;
        return PixelToColor(bm->pixels[static_cast<size_t>(y) * bm->width + x]);
    }
    if (!dc->hwnd) return CLR_INVALID;
    ferolt::win32::SurfaceView v;
    if (!ferolt::win32::LockClientSurface(dc->hwnd, &v)) return CLR_INVALID;
    COLORREF c = CLR_INVALID;
    if (x >= 0 && y >= 0 && x < v.width && y < v.height)
    {
        c = PixelToColor(v.pixels[static_cast<size_t>(y) * v.pitch + x]);
    }
    RECT none{0, 0, 0, 0};
    ferolt::win32::UnlockClientSurface(dc->hwnd, &none);
    return c;
}

COLORREF SetPixel(HDC hdc, int x, int y, COLORREF color)
{
    auto dc = FindDc(hdc);
    if (!dc) return CLR_INVALID;
    {
        // A point outside the clip box, or a memory context without a bitmap, draws nothing.
        std::lock_guard g(S().lock);
        if (!PtInRect(&dc->clip, POINT{x, y}) || (dc->memory && !dc->bitmap)) return CLR_INVALID;
    }
    RECT r{x, y, x + 1, y + 1};
    return FillDc(dc, r, ColorToPixel(color)) ? color : CLR_INVALID;
}

COLORREF SetTextColor(HDC hdc, COLORREF color)
{
    auto dc = FindDc(hdc);
    if (!dc) return CLR_INVALID;
    std::lock_guard g(S().lock);
    COLORREF old = dc->textColor;
    dc->textColor = color;
    return old;
}

COLORREF GetTextColor(HDC hdc)
{
    auto dc = FindDc(hdc);
    if (!dc) return CLR_INVALID;
    std::lock_guard g(S().lock);
    return dc->textColor;
}

COLORREF GetBkColor(HDC hdc)
{
    auto dc = FindDc(hdc);
    if (!dc) return CLR_INVALID;
    std::lock_guard g(S().lock);
    return dc->bkColor;
}

COLORREF SetBkColor(HDC hdc, COLORREF color)
{
    auto dc = FindDc(hdc);
    if (!dc) return CLR_INVALID;
    std::lock_guard g(S().lock);
    COLORREF old = dc->bkColor;
    dc->bkColor = color;
    return old;
}

int SetBkMode(HDC hdc, int mode)
{
    auto dc = FindDc(hdc);
    if (!dc) return 0;
    std::lock_guard g(S().lock);
    int old = dc->bkMode;
    dc->bkMode = mode;
    return old;
}

// ---------------------------------------------------------------------------------------------------
// Objects

HBRUSH CreateSolidBrush(COLORREF color)
{
    auto o = std::make_shared<GdiObject>();
    o->type = OBJ_BRUSH;
    o->color = color & 0xFFFFFF;
    std::lock_guard g(S().lock);
    return static_cast<HBRUSH>(AddGdiLocked(o));
}

HBRUSH CreateBrushIndirect(const LOGBRUSH* brush)
{
    if (!brush) return nullptr;
    auto o = std::make_shared<GdiObject>();
    o->type = OBJ_BRUSH;
    o->color = brush->lbColor & 0xFFFFFF;
    o->nullBrush = brush->lbStyle == BS_NULL;
    std::lock_guard g(S().lock);
    return static_cast<HBRUSH>(AddGdiLocked(o));
}

HGDIOBJ GetStockObject(int index)
{
    static HGDIOBJ stock[32] = {};
    if (index < 0 || index >= 32) return nullptr;
    std::lock_guard g(S().lock);
    if (stock[index]) return stock[index];
    auto o = std::make_shared<GdiObject>();
    o->stock = true;
    switch (index)
    {
    case WHITE_BRUSH:
        o->type = OBJ_BRUSH;
        o->color = RGB(255, 255, 255);
        break;
    case LTGRAY_BRUSH:
        o->type = OBJ_BRUSH;
        o->color = RGB(192, 192, 192);
        break;
    case GRAY_BRUSH:
        o->type = OBJ_BRUSH;
        o->color = RGB(128, 128, 128);
        break;
    case DKGRAY_BRUSH:
        o->type = OBJ_BRUSH;
        o->color = RGB(64, 64, 64);
        break;
    case BLACK_BRUSH:
        o->type = OBJ_BRUSH;
        o->color = 0;
        break;
    case NULL_BRUSH:
        o->type = OBJ_BRUSH;
        o->nullBrush = true;
        break;
    case WHITE_PEN:
        o->type = OBJ_PEN;
        o->color = RGB(255, 255, 255);
        break;
    case BLACK_PEN:
        o->type = OBJ_PEN;
        break;
    case ANSI_VAR_FONT:
    case SYSTEM_FONT:
    case DEFAULT_GUI_FONT:
        o->type = OBJ_FONT;
        o->font.lfHeight = -11;
        o->font.lfWeight = FW_NORMAL;
        std::strcpy(o->font.lfFaceName, "MS Shell Dlg");
        break;
    default:
        return nullptr;
    }
    stock[index] = AddGdiLocked(o);
    return stock[index];
}

HBRUSH GetSysColorBrush(int index)
{
    static HBRUSH brushes[32] = {};
    if (index < 0 || index >= 32) return nullptr;
    std::lock_guard g(S().lock);
    if (!brushes[index])
    {
        auto o = std::make_shared<GdiObject>();
        o->type = OBJ_BRUSH;
        o->stock = true;
        o->color = SysColor(index);
        brushes[index] = static_cast<HBRUSH>(AddGdiLocked(o));
    }
    return brushes[index];
}

DWORD GetSysColor(int index)
{
    return SysColor(index);
}

HFONT CreateFontIndirectA(const LOGFONTA* font)
{
    if (!font) return nullptr;
    auto o = std::make_shared<GdiObject>();
    o->type = OBJ_FONT;
    o->font = *font;
    o->font.lfFaceName[LF_FACESIZE - 1] = 0;
    std::lock_guard g(S().lock);
    return static_cast<HFONT>(AddGdiLocked(o));
}

HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits)
{
    if (width <= 0 || height <= 0 || planes != 1 || static_cast<int64_t>(width) * height > kMaxSurfacePixels)
        return nullptr;
    if (bitsPerPixel != 32 && bitsPerPixel != 24) return nullptr;
    auto o = std::make_shared<GdiObject>();
    o->type = OBJ_BITMAP;
    o->width = width;
    o->height = height;
    o->pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    if (bits)
    {
        auto src = static_cast<const uint8_t*>(bits);
        size_t bpp = bitsPerPixel / 8;
        size_t stride = (static_cast<size_t>(width) * bpp + 1) & ~static_cast<size_t>(1); // WORD-aligned rows
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
            {
                const uint8_t* p = src + y * stride + static_cast<size_t>(x) * bpp;
                o->pixels[static_cast<size_t>(y) * width + x] = static_cast<uint32_t>(p[0]) |
                                                                (static_cast<uint32_t>(p[1]) << 8) |
                                                                (static_cast<uint32_t>(p[2]) << 16);
            }
    }
    std::lock_guard g(S().lock);
    return static_cast<HBITMAP>(AddGdiLocked(o));
}

HBITMAP CreateCompatibleBitmap(HDC, int width, int height)
{
    return CreateBitmap(width, height, 1, 32, nullptr);
}

int GetObjectA(HGDIOBJ object, int size, LPVOID out)
{
    std::lock_guard g(S().lock);
    auto o = GdiLocked(object);
    if (!o) return 0;
    if (o->type == OBJ_FONT)
    {
        if (!out) return sizeof(LOGFONTA);
        int n = std::min<int>(size, sizeof(LOGFONTA));
        if (n <= 0) return 0;
        std::memcpy(out, &o->font, static_cast<size_t>(n));
        return n;
    }
    if (o->type == OBJ_BITMAP)
    {
        BITMAP bm{};
        bm.bmWidth = o->width;
        bm.bmHeight = o->height;
        bm.bmWidthBytes = o->width * 4;
        bm.bmPlanes = 1;
        bm.bmBitsPixel = 32;
        if (!out) return sizeof(BITMAP);
        int n = std::min<int>(size, sizeof(BITMAP));
        if (n <= 0) return 0;
        std::memcpy(out, &bm, static_cast<size_t>(n));
        return n;
    }
    if (o->type == OBJ_BRUSH)
    {
        LOGBRUSH lb{o->nullBrush ? static_cast<UINT>(BS_NULL) : static_cast<UINT>(BS_SOLID), o->color, 0};
        if (!out) return sizeof(LOGBRUSH);
        int n = std::min<int>(size, sizeof(LOGBRUSH));
        if (n <= 0) return 0;
        std::memcpy(out, &lb, static_cast<size_t>(n));
        return n;
    }
    return 0;
}

DWORD GetObjectType(HGDIOBJ object)
{
    if (FindDc(static_cast<HDC>(object))) return OBJ_DC;
    std::lock_guard g(S().lock);
    auto o = GdiLocked(object);
    return o ? o->type : 0;
}

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ object)
{
    auto dc = FindDc(hdc);
    if (!dc) return nullptr;
    std::lock_guard g(S().lock);
    auto o = GdiLocked(object);
    if (!o) return nullptr;
    HGDIOBJ old = nullptr;
    switch (o->type)
    {
    case OBJ_FONT:
        old = dc->font;
        dc->font = object;
        break;
    case OBJ_BRUSH:
        old = dc->brush;
        dc->brush = object;
        break;
    case OBJ_BITMAP:
        if (!dc->memory) return nullptr;
        old = dc->bitmap;
        dc->bitmap = object;
        dc->clip = RECT{0, 0, o->width, o->height};
        break;
    default:
        return nullptr;
    }
    return old ? old : object; // the original returns the default object; ours is the same one
}

HGDIOBJ GetCurrentObject(HDC hdc, UINT type)
{
    auto dc = FindDc(hdc);
    if (!dc) return nullptr;
    std::lock_guard g(S().lock);
    switch (type)
    {
    case OBJ_FONT:
        return dc->font;
    case OBJ_BRUSH:
        return dc->brush;
    case OBJ_BITMAP:
        return dc->bitmap;
    default:
        return nullptr;
    }
}

namespace ferolt::win32
{
bool DeleteUserGdiObject(HGDIOBJ object)
{
    std::lock_guard g(S().lock);
    auto it = S().gdi.find(Key(object));
    if (it == S().gdi.end()) return false;
    if (!it->second->stock) S().gdi.erase(it); // stock objects survive, as in the original
    return true;
}
} // namespace ferolt::win32

// ---------------------------------------------------------------------------------------------------
// Cursors and icons

static HCURSOR SystemCursor(int id)
{
    static std::map<int, HCURSOR>* table = new std::map<int, HCURSOR>;
    std::lock_guard g(S().lock);
    auto it = table->find(id);
    if (it != table->end()) return it->second;
    auto c = std::make_shared<Cursor>();
    c->shape.systemId = id;
    c->shared = true;
    uintptr_t h = S().nextCursor;
    S().nextCursor += 4;
    S().cursors[h] = c;
    (*table)[id] = reinterpret_cast<HCURSOR>(h);
    return reinterpret_cast<HCURSOR>(h);
}

HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name)
{
    if (!name) return nullptr;
    if (!instance)
    {
        if (!IS_INTRESOURCE(name)) return nullptr;
        int id = static_cast<int>(reinterpret_cast<uintptr_t>(name));
        switch (id)
        {
        case 32512:
        case 32513:
        case 32514:
        case 32515:
        case 32646:
        case 32648:
        case 32649:
        case 32650:
            return SystemCursor(id);
        default:
            return nullptr;
        }
    }
    std::string bytes;
    if (!LoadResourceText(instance, name, 1 /* RT_CURSOR files are stored whole */, &bytes)) return nullptr;
    auto c = std::make_shared<Cursor>();
    c->shape.image.assign(bytes.begin(), bytes.end());
    std::lock_guard g(S().lock);
    uintptr_t h = S().nextCursor;
    S().nextCursor += 4;
    S().cursors[h] = c;
    return reinterpret_cast<HCURSOR>(h);
}

HCURSOR SetCursor(HCURSOR cursor)
{
    HCURSOR old;
    ferolt::backend::CursorShape shape;
    bool have = false;
    {
        std::lock_guard g(S().lock);
        old = S().cursor;
        if (old == cursor) return old;
        auto it = S().cursors.find(Key(cursor));
        if (cursor && it == S().cursors.end()) return old;
        S().cursor = cursor;
        if (cursor)
        {
            shape = it->second->shape;
            have = true;
        }
    }
    if (auto b = CurrentBackend()) b->CursorChanged(have ? &shape : nullptr);
    return old;
}

HCURSOR GetCursor()
{
    std::lock_guard g(S().lock);
    return S().cursor;
}

BOOL DestroyCursor(HCURSOR cursor)
{
    std::lock_guard g(S().lock);
    auto it = S().cursors.find(Key(cursor));
    if (it == S().cursors.end()) return FALSE;
    if (it->second->shared) return TRUE;
    if (S().cursor == cursor) return FALSE; // the original refuses to destroy the cursor in use
    S().cursors.erase(it);
    return TRUE;
}

int ShowCursor(BOOL show)
{
    std::lock_guard g(S().lock);
    S().cursorShowCount += show ? 1 : -1;
    return S().cursorShowCount;
}

HICON LoadIconA(HINSTANCE instance, LPCSTR name)
{
    if (!name) return nullptr;
    if (!instance)
        return SystemCursor(static_cast<int>(reinterpret_cast<uintptr_t>(name) & 0xFFFF) | 0x10000);
    std::string bytes;
    if (!LoadResourceText(instance, name, 3 /* RT_ICON */, &bytes) &&
        !LoadResourceText(instance, name, 14 /* RT_GROUP_ICON */, &bytes))
        return nullptr;
    auto c = std::make_shared<Cursor>();
    c->shape.image.assign(bytes.begin(), bytes.end());
    std::lock_guard g(S().lock);
    uintptr_t h = S().nextCursor;
    S().nextCursor += 4;
    S().cursors[h] = c;
    return reinterpret_cast<HICON>(h);
}

BOOL DestroyIcon(HICON icon)
{
    return DestroyCursor(icon);
}

// Bitmaps are stored as the original resource form: a BITMAPINFOHEADER, a colour table for 8 bits
// and less, then bottom-up rows padded to 4 bytes.
static HBITMAP DecodeDib(const std::string& data)
{
    auto rd32 = [&](size_t o) -> uint32_t
    {
        return static_cast<uint32_t>(static_cast<uint8_t>(data[o])) |
               (static_cast<uint32_t>(static_cast<uint8_t>(data[o + 1])) << 8) |
               (static_cast<uint32_t>(static_cast<uint8_t>(data[o + 2])) << 16) |
               (static_cast<uint32_t>(static_cast<uint8_t>(data[o + 3])) << 24);
    };
    size_t off = 0;
    if (data.size() >= 14 && data[0] == 'B' && data[1] == 'M') off = 14; // a whole .bmp file
    if (data.size() < off + 40) return nullptr;
    uint32_t hsize = rd32(off);
    int32_t width = static_cast<int32_t>(rd32(off + 4));
    int32_t height = static_cast<int32_t>(rd32(off + 8));
    unsigned bpp = static_cast<uint8_t>(data[off + 14]) | (static_cast<uint8_t>(data[off + 15]) << 8);
    uint32_t compression = rd32(off + 16);
    uint32_t used = rd32(off + 32);
    if (hsize < 40 || hsize > data.size() - off || width <= 0 || height == 0 || height == INT32_MIN)
        return nullptr;
    if (compression != 0 || (bpp != 8 && bpp != 24 && bpp != 32 && bpp != 4 && bpp != 1)) return nullptr;
    bool topDown = height < 0;
    int h = topDown ? -height : height;
    if (static_cast<int64_t>(width) * h > kMaxSurfacePixels) return nullptr;
    size_t colors = bpp <= 8 ? (used ? std::min<uint32_t>(used, 1u << bpp) : (1u << bpp)) : 0;
    size_t palette = off + hsize;
    size_t bits = palette + colors * 4;
    size_t stride = ((static_cast<size_t>(width) * bpp + 31) / 32) * 4;
    if (bits > data.size() || stride * static_cast<size_t>(h) > data.size() - bits) return nullptr;
    auto o = std::make_shared<GdiObject>();
    o->type = OBJ_BITMAP;
    o->width = width;
    o->height = h;
    o->pixels.resize(static_cast<size_t>(width) * h);
    for (int y = 0; y < h; ++y)
    {
        size_t row = bits + stride * static_cast<size_t>(topDown ? y : h - 1 - y);
        for (int x = 0; x < width; ++x)
        {
            uint32_t px;
            if (bpp >= 24)
            {
                size_t p = row + static_cast<size_t>(x) * (bpp / 8);
                px = static_cast<uint8_t>(data[p]) | (static_cast<uint8_t>(data[p + 1]) << 8) |
                     (static_cast<uint32_t>(static_cast<uint8_t>(data[p + 2])) << 16);
            }
            else
            {
                size_t bit = static_cast<size_t>(x) * bpp;
                unsigned byte = static_cast<uint8_t>(data[row + bit / 8]);
                unsigned index = (byte >> (8 - bpp - bit % 8)) & ((1u << bpp) - 1);
                px = index < colors ? (rd32(palette + index * 4) & 0xFFFFFF) : 0;
            }
            o->pixels[static_cast<size_t>(y) * width + x] = px;
        }
    }
    std::lock_guard g(S().lock);
    return static_cast<HBITMAP>(AddGdiLocked(o));
}

HBITMAP LoadBitmapA(HINSTANCE instance, LPCSTR name)
{
    std::string data;
    if (!LoadResourceText(instance, name, 2 /* RT_BITMAP */, &data)) return nullptr;
    return DecodeDib(data);
}

HANDLE LoadImageA(HINSTANCE instance, LPCSTR name, UINT type, int, int, UINT)
{
    switch (type)
    {
    case IMAGE_BITMAP:
        return LoadBitmapA(instance, name);
    case IMAGE_CURSOR:
        return LoadCursorA(instance, name);
    case IMAGE_ICON:
        return LoadIconA(instance, name);
    default:
        return nullptr;
    }
}
