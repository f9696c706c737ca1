#pragma once
// State shared by the user layer's sources. One mutex guards every table; window procedures and
// backend calls always run with it released, so they may call back into the layer.
#include "platform/win32/winuser.h"
#include "platform/win32/gdi_dc.h"
#include "platform/win32/backend.h"

#include <array>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

namespace ferolt::win32::user
{
// Limits that keep bad input from allocating without bound.
constexpr int kMaxCoordinate = 32767;
constexpr int64_t kMaxSurfacePixels = 64ll * 1024 * 1024;
constexpr size_t kMaxText = 1u << 20;

enum class Kind
{
    Generic,
    Desktop,
    Dialog,
    Edit,
    Static,
    Button,
    ComboBox,
};

struct WndClass
{
    std::string name;
    UINT style = 0;
    WNDPROC proc = nullptr;
    HINSTANCE instance = nullptr;
    HICON icon = nullptr;
    HCURSOR cursor = nullptr;
    HBRUSH background = nullptr;
    int wndExtra = 0;
    Kind kind = Kind::Generic;
};

struct Window
{
    HWND hwnd = nullptr;
    std::shared_ptr<WndClass> cls;
    Kind kind = Kind::Generic;
    WNDPROC proc = nullptr;
    DWORD style = 0;
    DWORD exStyle = 0;
    HWND parent = nullptr; // null for top-level windows
    HWND owner = nullptr;
    DWORD thread = 0;
    HINSTANCE instance = nullptr;
    LONG_PTR id = 0;
    RECT window{}; // screen coordinates
    RECT client{}; // screen coordinates
    std::string text;
    LONG_PTR userData = 0;
    std::vector<LONG_PTR> extra;
    HFONT font = nullptr;
    COLORREF textColor = backend::kDefaultTextColor; // statics: what WM_CTLCOLORSTATIC chose
    HICON iconBig = nullptr;
    HICON iconSmall = nullptr;
    bool visible = false;
    bool enabled = true;
    bool created = false;
    bool destroying = false;
    std::vector<HWND> children; // creation order, which is also the tab order of dialogs

    // Update region kept as its bounding box: the paint clip box is all that readers use.
    bool hasUpdate = false;
    bool erase = false;
    bool internalPaint = false;
    RECT update{}; // client coordinates

    // Client surface (X8R8G8B8); allocated on first use.
    std::shared_ptr<std::mutex> surfaceLock = std::make_shared<std::mutex>();
    std::vector<uint32_t> pixels;
    int surfaceWidth = 0;
    int surfaceHeight = 0;

    // Controls.
    std::vector<std::string> items;
    std::vector<LPARAM> itemData;
    int curSel = -1;
    HANDLE image = nullptr;
    int check = 0;

    // Dialogs.
    DLGPROC dlgProc = nullptr;
    LONG_PTR dlgMsgResult = 0;
    LONG_PTR dlgUser = 0;
    INT_PTR dlgResult = 0;
    bool dlgEnded = false;
    bool dlgModal = false;
    HWND dlgFocus = nullptr;
    int baseX = 6;
    int baseY = 13;
};

struct SentMessage
{
    HWND hwnd = nullptr;
    UINT msg = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    LRESULT result = 0;
    bool done = false;
};

struct QueuedMessage
{
    MSG msg{};
    bool input = false;
    std::shared_ptr<std::array<BYTE, 256>> keys; // key state when the input happened
};

struct Timer
{
    HWND hwnd = nullptr;
    UINT_PTR id = 0;
    UINT interval = 0;
    DWORD due = 0;
    TIMERPROC proc = nullptr;
};

struct ThreadQueue
{
    DWORD thread = 0;
    std::condition_variable wake;
    std::deque<std::shared_ptr<SentMessage>> sent;
    std::deque<QueuedMessage> posted;
    std::vector<Timer> timers;
    bool quit = false;
    int quitCode = 0;
    MSG last{};
    std::array<BYTE, 256> keys{}; // GetKeyState: as of the last input message retrieved
    bool alive = true;
    int sendDepth = 0;
    UINT_PTR nextTimerId = 1;
    // Counts backend input handled at once rather than queued (a resize, a dialog control's
    // action): a wait it interrupted must end although the queue may be empty.
    uint64_t handledInput = 0;
};

struct MenuItem
{
    UINT flags = 0;
    UINT_PTR id = 0;
    std::string text;
    HMENU submenu = nullptr;
};

struct Menu
{
    bool popup = true;
    std::vector<MenuItem> items;
};

struct GdiObject
{
    DWORD type = 0; // OBJ_*
    COLORREF color = 0;
    bool nullBrush = false;
    bool stock = false;
    LOGFONTA font{};
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels; // bitmaps, X8R8G8B8, top row first
};

struct DeviceContext
{
    HWND hwnd = nullptr; // null: the screen or a memory context
    bool memory = false;
    bool paint = false;
    RECT clip{}; // client coordinates
    HGDIOBJ font = nullptr;
    HGDIOBJ brush = nullptr;
    HGDIOBJ bitmap = nullptr;
    COLORREF textColor = 0;
    COLORREF bkColor = 0xFFFFFF;
    int bkMode = OPAQUE;
    bool touched = false;
    RECT changed{};
};

struct Monitor
{
    HMONITOR handle = nullptr;
    RECT rect{};
    RECT work{};
    bool primary = false;
};

struct Cursor
{
    backend::CursorShape shape;
    bool shared = false; // system cursors are never destroyed
};

struct State
{
    std::mutex lock;
    std::map<std::string, std::shared_ptr<WndClass>> classes; // lower-case names
    std::map<uintptr_t, std::shared_ptr<Window>> windows;
    std::vector<HWND> topLevel; // front to back
    std::map<DWORD, std::shared_ptr<ThreadQueue>> queues;
    std::map<uintptr_t, std::shared_ptr<Menu>> menus;
    std::map<uintptr_t, std::shared_ptr<GdiObject>> gdi;
    std::map<uintptr_t, std::shared_ptr<DeviceContext>> dcs;
    std::map<uintptr_t, std::shared_ptr<Cursor>> cursors;
    std::vector<Monitor> monitors;
    uintptr_t nextWindow = 0x10010;
    uintptr_t nextMenu = 0x20010;
    uintptr_t nextGdi = 0x40000010;
    uintptr_t nextDc = 0x50000010;
    uintptr_t nextCursor = 0x60010;
    HWND desktop = nullptr;
    HWND capture = nullptr;
    HWND focus = nullptr;
    HWND active = nullptr;
    HCURSOR cursor = nullptr;
    int cursorShowCount = 0;
    POINT cursorPos{};
    std::array<BYTE, 256> asyncKeys{}; // bit 0x80: down; 0x01: toggled
    std::array<BYTE, 256> pressedSinceQuery{};
    backend::Backend* backend = nullptr;
    DWORD backendThread = 0;
    DWORD lastCommDlgError = 0;
};

State& S();
DWORD CurrentThread();
DWORD Now();

// Callers hold S().lock for these.
std::shared_ptr<Window> FindLocked(HWND hwnd);
std::shared_ptr<ThreadQueue> QueueLocked(DWORD thread);
bool IsVisibleLocked(const Window& w);
backend::WindowState StateOfLocked(const Window& w);

std::shared_ptr<Window> Find(HWND hwnd);
std::shared_ptr<ThreadQueue> CurrentQueue();
backend::Backend* CurrentBackend();

// Runs `call` with the installed backend from any thread (nothing happens without one, or when
// `thread` is nonzero and not the backend's thread). From a thread other than the backend's, the
// backend cannot be removed until the call returns; on the backend's own thread no lock is held.
void CallBackendAnyThread(DWORD thread, const std::function<void(backend::Backend*)>& call);
// Held exclusively by SetBackend while it swaps the backend.
std::shared_mutex& BackendRemovalLock();
void NotifyFocusChanged(HWND focus);

// Adds a window's message to its thread's queue (posted or input) and wakes that thread.
bool Enqueue(HWND hwnd, DWORD thread, const QueuedMessage& qm);
void NotifyWindowChanged(HWND hwnd, unsigned changes);
void NotifySurface(HWND hwnd, const RECT& area);
void EnsureDesktop();
void EnsureMonitors();
void EnsureSystemClasses();
LRESULT CallProc(const std::shared_ptr<Window>& w, UINT msg, WPARAM wParam, LPARAM lParam);
void FrameSize(DWORD style, DWORD exStyle, bool child, RECT* insets);
void InvalidateLocked(Window& w, const RECT* rect, bool erase);
bool MatchesFilter(const MSG& m, HWND filter, UINT lo, UINT hi);
// Copies `text` into a caller's buffer of `size` bytes as WM_GETTEXT does: cut to fit, ended with a zero.
// Returns the characters copied.
LRESULT CopyTextOut(const std::string& text, WPARAM size, LPARAM buffer);
// Runs messages of the current thread until `done` says stop; used by every modal loop.
bool PumpPending(const std::function<bool()>& keepGoing);
// Called by the host feeds that act at once on the calling (UI) thread; see handledInput.
void NoteHandledInput();
int MillisecondsToNextTimer();

// The loop every modal operation runs while the backend waits for the user.
class LayerModalLoop : public backend::ModalLoop
{
public:
    LayerModalLoop(HWND dialog, std::function<bool()> keepGoing)
        : dialog_(dialog), keepGoing_(std::move(keepGoing))
    {
    }
    bool Pump() override;
    int MillisecondsToNextTimer() override;
    bool QuitSeen() const { return quit_; }

private:
    HWND dialog_;
    std::function<bool()> keepGoing_;
    bool quit_ = false;
};

// Disables the owner's top-level window while a modal operation runs; enables it again after.
class OwnerDisabler
{
public:
    explicit OwnerDisabler(HWND owner);
    ~OwnerDisabler();
    void Release();
    HWND root() const { return root_; }

private:
    HWND root_ = nullptr;
    bool disabled_ = false;
};

// Built-in control and dialog procedures.
LRESULT CALLBACK EditProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK StaticProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK ButtonProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK ComboProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK DialogProc(HWND, UINT, WPARAM, LPARAM);

// Menus and dialogs from their text descriptions.
HMENU ParseMenu(const std::string& text);
struct DialogControl
{
    std::string className;
    std::string text;
    int id = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    DWORD style = 0;
    DWORD exStyle = 0;
};

struct DialogTemplate
{
    int x = 0, y = 0, cx = 0, cy = 0;
    DWORD style = WS_POPUP | WS_BORDER | WS_SYSMENU;
    DWORD exStyle = 0;
    std::string caption;
    int pointSize = 0;
    std::string face;
    std::vector<DialogControl> controls;
};
std::shared_ptr<DialogTemplate> ParseDialog(const std::string& text);
bool LoadResourceText(HINSTANCE instance, LPCSTR name, int type, std::string* out);

// A solid fill into a window or bitmap target of a device context.
uint32_t ColorToPixel(COLORREF c);
COLORREF SysColor(int index);
std::string ToLower(std::string s);
} // namespace ferolt::win32::user
