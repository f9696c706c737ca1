#pragma once
// The Qt backend's classes, shared by its sources.
#include "platform/backends/qt/qt_backend.h"
#include "platform/win32/user_host.h"

#include <QtCore/QObject>
#include <QtCore/QPointer>
#include <QtCore/QTimer>
#include <QtGui/QCursor>
#include <QtWidgets/QDialog>
#include <QtWidgets/QWidget>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace ferolt::backend::qt
{
class QtBackend;

// The layer counts device pixels and Qt's widgets logical ones, so that with a scale factor of 2 a
// back buffer sized from a client area fills the window at full resolution. One factor serves the
// whole desktop: the primary screen's.
qreal LayerScale();
// A rectangle or point of the layer in Qt's coordinates, rounded to the nearest logical pixel.
QRect ToLogical(const RECT& r);
QPoint ToLogical(POINT p);
// A logical length or coordinate in the layer's device pixels.
LONG ToDevice(qreal logical);

// Paints the part `area` (widget coordinates) of a window's client surface; black where the surface
// does not reach.
void PaintClientSurface(QWidget* widget, HWND hwnd, const QRect& area);
// Set on widgets that show a window's client surface, so surface changes repaint them.
inline constexpr const char* kShowsSurfaceProperty = "ferolt_surface";

// A top-level window of the layer: shows its client surface and turns Qt's input into the
// layer's input.
class SurfaceWidget : public QWidget
{
public:
    SurfaceWidget(QtBackend* backend, HWND hwnd, QWidget* parent = nullptr);
    HWND hwnd() const { return hwnd_; }
    void Detach() { hwnd_ = nullptr; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool focusNextPrevChild(bool) override { return false; } // Tab belongs to the layer

private:
    void Mouse(QMouseEvent* event, bool down);
    POINT ScreenPoint(const QPointF& local) const;

    QtBackend* backend_;
    HWND hwnd_;
};

// A dialog of the layer with Qt controls in place of its control windows.
class DialogWidget : public QDialog
{
public:
    DialogWidget(QtBackend* backend, HWND hwnd, HFONT font);
    HWND hwnd() const { return hwnd_; }
    void SetLayerFont(HFONT font);
    void Detach() { hwnd_ = nullptr; }

protected:
    void reject() override;
    void closeEvent(QCloseEvent* event) override;

private:
    QtBackend* backend_;
    HWND hwnd_;
};

// Runs the layer's modal loop from a Qt timer while a Qt modal call waits for the user.
class ModalPump
{
public:
    ModalPump(QtBackend* backend, backend::ModalLoop& loop, std::function<void()> onEnd);
    ~ModalPump();
    void Tick();
    void Soon() { timer_.start(0); }
    bool ended() const { return ended_; }

private:
    QtBackend* backend_;
    backend::ModalLoop& loop_;
    std::function<void()> onEnd_;
    QTimer timer_;
    bool ended_ = false;
};

class QtBackend final : public Backend
{
public:
    QtBackend();
    ~QtBackend() override;

    void WindowCreated(HWND hwnd, const WindowState& state) override;
    void WindowChanged(HWND hwnd, const WindowState& state, unsigned changes) override;
    void WindowDestroyed(HWND hwnd) override;
    void SurfaceChanged(HWND hwnd, const RECT& area) override;
    void CursorChanged(const CursorShape* shape) override;
    void CaptureChanged(HWND capture) override;
    void FocusChanged(HWND focus) override;
    void WaitForEvents(int timeoutMs) override;
    void Wake() override;
    void PollEvents() override;
    uint32_t ShowPopupMenu(const std::vector<MenuItemModel>& items, POINT screen, HWND owner,
                           ModalLoop& loop) override;
    void RunDialog(HWND dialog, ModalLoop& loop) override;
    int ShowMessageBox(const MessageBoxRequest& request, ModalLoop& loop) override;
    bool ShowFileDialog(const FileDialogRequest& request, std::string* path, int* filterIndex,
                        ModalLoop& loop) override;
    bool ShowHelp(HWND caller, const std::string& file) override;
    bool ShellOpen(const std::string& target, const std::string& verb) override;

    QWidget* WindowOf(HWND hwnd) const;
    const WindowState* StateOf(HWND hwnd) const;

    // Called by the widgets.
    void KeyFromQt(QKeyEvent* event, bool down);
    void ReleaseHeldKeys();
    void SyncModifiers(Qt::KeyboardModifiers modifiers);
    void EnterHandler() { ++handlerDepth_; }
    void LeaveHandler();
    void OnWakeEvent();
    void PumpStarted(ModalPump* pump) { pumps_.push_back(pump); }
    void PumpFinished(ModalPump* pump);
    // The layer has queued work for the innermost modal loop: run it now, not at its next tick.
    void PumpSoon()
    {
        if (!pumps_.empty()) pumps_.back()->Soon();
    }
    // Moves Qt's focus to the control that has the layer's focus.
    void ApplyLayerFocus();

private:
    struct Win
    {
        WindowState state;
        QPointer<QWidget> widget; // top-level windows shown in Qt; controls of a shown dialog
    };
    bool IsDialogClass(const WindowState& state) const;
    void Sync(HWND hwnd, unsigned changes);
    void SyncChild(HWND hwnd, unsigned changes);
    void CreateTopLevel(HWND hwnd, Win& win);
    void ApplyGeometry(QWidget* widget, const WindowState& state, bool topLevel);
    void AddControl(DialogWidget* dialog, HWND control);
    void UpdateControl(HWND control, unsigned changes);
    void Retire(QWidget* widget);
    void CollectGarbage();
    void FlushDirty();
    void ShowSurface(HWND hwnd, const QRect& area);
    void OnFocusChanged(QWidget* now);
    void ConfigureScreens();

    std::thread::id uiThread_;
    std::map<HWND, Win> windows_;
    std::vector<QPointer<QWidget>> graveyard_;
    int handlerDepth_ = 0;
    bool settingFocus_ = false;

    std::unique_ptr<QObject> waker_;
    std::atomic<bool> wakePosted_{false};
    std::mutex dirtyLock_;
    std::map<HWND, QRect> dirty_; // surface changes from other threads, shown on the UI thread
    QTimer timeout_;

    std::vector<ModalPump*> pumps_;
    std::set<unsigned> heldKeys_;
    HWND capture_ = nullptr;
    HWND focus_ = nullptr; // the layer's focus window
    QCursor cursor_{Qt::ArrowCursor};
    QPointer<QWidget> help_;
    QMetaObject::Connection focusConnection_;
    std::vector<QMetaObject::Connection> appConnections_;
    std::vector<QMetaObject::Connection> screenConnections_;
};
} // namespace ferolt::backend::qt
