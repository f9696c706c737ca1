#include "platform/backends/qt/qt_backend_impl.h"
#include "platform/backends/qt/qt_cursor.h"
#include "platform/backends/qt/qt_keys.h"
#include "platform/win32/window_surface.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QEventLoop>
#include <QtGui/QCloseEvent>
#include <QtGui/QKeyEvent>
#include <QtGui/QMouseEvent>
#include <QtGui/QPainter>
#include <QtGui/QScreen>
#include <QtGui/QWheelEvent>
#include <QtWidgets/QApplication>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace ferolt::backend::qt
{
namespace
{
const QEvent::Type kWakeEvent = static_cast<QEvent::Type>(QEvent::User + 0x4654);

// Qt wants one application object for the process; the layer's host may not have made one.
void EnsureApplication()
{
    if (QCoreApplication::instance()) return;
    // Qt keeps references to argc and argv for the application's lifetime.
    static int argc = 1;
    static char name[] = "ferolt";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    (void)app;
}

// The smallest logical rectangle that covers a device rectangle: what must be repainted for it.
QRect LogicalCover(const RECT& r)
{
    const qreal s = LayerScale();
    const int left = static_cast<int>(std::floor(r.left / s)), top = static_cast<int>(std::floor(r.top / s));
    const int right = static_cast<int>(std::ceil(r.right / s)),
              bottom = static_cast<int>(std::ceil(r.bottom / s));
    return QRect(left, top, std::max(0, right - left), std::max(0, bottom - top));
}

class Waker : public QObject
{
public:
    explicit Waker(QtBackend* backend) : backend_(backend) {}
    bool event(QEvent* e) override
    {
        if (e->type() != kWakeEvent) return QObject::event(e);
        backend_->OnWakeEvent();
        return true;
    }

private:
    QtBackend* backend_;
};

// Keeps a widget handler's call into the layer from deleting widgets under it.
class HandlerScope
{
public:
    explicit HandlerScope(QtBackend* b) : b_(b) { b_->EnterHandler(); }
    ~HandlerScope() { b_->LeaveHandler(); }

private:
    QtBackend* b_;
};
} // namespace

qreal LayerScale()
{
    const QScreen* primary = QGuiApplication::primaryScreen();
    const qreal scale = primary ? primary->devicePixelRatio() : 1.0;
    return scale > 0 ? scale : 1.0;
}

LONG ToDevice(qreal logical)
{
    return static_cast<LONG>(std::lround(logical * LayerScale()));
}

QPoint ToLogical(POINT p)
{
    const qreal s = LayerScale();
    return QPoint(static_cast<int>(std::lround(p.x / s)), static_cast<int>(std::lround(p.y / s)));
}

QRect ToLogical(const RECT& r)
{
    const qreal s = LayerScale();
    QPoint topLeft = ToLogical(POINT{r.left, r.top});
    return QRect(topLeft, QSize(static_cast<int>(std::lround(std::max<LONG>(0, r.right - r.left) / s)),
                                static_cast<int>(std::lround(std::max<LONG>(0, r.bottom - r.top) / s))));
}

// ---------------------------------------------------------------------------------------------------
// SurfaceWidget

SurfaceWidget::SurfaceWidget(QtBackend* backend, HWND hwnd, QWidget* parent)
    : QWidget(parent), backend_(backend), hwnd_(hwnd)
{
    // The surface covers the whole client area, so Qt need not clear it first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setMouseTracking(true);
    // Keys go to the top-level window; the layer hands them to its focus window.
    setFocusPolicy(parent ? Qt::NoFocus : Qt::StrongFocus);
    setProperty(kShowsSurfaceProperty, true);
}

void PaintClientSurface(QWidget* widget, HWND hwnd, const QRect& area)
{
    QPainter painter(widget);
    win32::SurfaceView view;
    QRect shown;
    if (hwnd && win32::LockClientSurface(hwnd, &view))
    {
        if (view.pixels && view.width > 0 && view.height > 0)
        {
            // Wrapped, not copied: drawing it into the backing store is the frame's only copy. The
            // surface is in device pixels; at the widget's ratio each of them lands on one of the
            // backing store's.
            const qreal ratio = widget->devicePixelRatioF();
            QImage image(reinterpret_cast<const uchar*>(view.pixels), view.width, view.height,
                         static_cast<qsizetype>(view.pitch) * 4, QImage::Format_RGB32);
            image.setDevicePixelRatio(ratio);
            const RECT device{static_cast<LONG>(std::floor(area.left() * ratio)),
                              static_cast<LONG>(std::floor(area.top() * ratio)),
                              static_cast<LONG>(std::ceil((area.right() + 1) * ratio)),
                              static_cast<LONG>(std::ceil((area.bottom() + 1) * ratio))};
            const QRect part =
                QRect(device.left, device.top, device.right - device.left, device.bottom - device.top) &
                QRect(0, 0, view.width, view.height);
            shown = QRect(0, 0, static_cast<int>(view.width / ratio), static_cast<int>(view.height / ratio));
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            if (!part.isEmpty()) painter.drawImage(QPointF(part.topLeft()) / ratio, image, part);
        }
        RECT none{}; // painting is not a change: no notification back
        win32::UnlockClientSurface(hwnd, &none);
    }
    // Whatever the surface does not cover yet (a resize in flight) is black.
    QRegion rest = QRegion(area) - QRegion(shown);
    for (const QRect& r : rest)
        painter.fillRect(r, Qt::black);
}

void SurfaceWidget::paintEvent(QPaintEvent* event)
{
    PaintClientSurface(this, hwnd_, event->rect());
}

POINT SurfaceWidget::ScreenPoint(const QPointF& local) const
{
    // The layer's idea of where the client area is decides the screen point, whatever the
    // window manager did with the frame; the layer reports every window's place, children's too.
    const qreal s = LayerScale();
    POINT p{static_cast<LONG>(std::floor(local.x() * s)), static_cast<LONG>(std::floor(local.y() * s))};
    if (const WindowState* st = hwnd_ ? backend_->StateOf(hwnd_) : nullptr)
    {
        p.x += st->client.left;
        p.y += st->client.top;
    }
    return p;
}

void SurfaceWidget::Mouse(QMouseEvent* event, bool down)
{
    if (!hwnd_) return;
    win32::host::Button button;
    switch (event->button())
    {
    case Qt::LeftButton:
        button = win32::host::Button::Left;
        break;
    case Qt::RightButton:
        button = win32::host::Button::Right;
        break;
    case Qt::MiddleButton:
        button = win32::host::Button::Middle;
        break;
    default:
        return;
    }
    HandlerScope scope(backend_);
    backend_->SyncModifiers(event->modifiers());
    win32::host::MouseButton(button, down, ScreenPoint(event->position()));
}

void SurfaceWidget::mouseMoveEvent(QMouseEvent* event)
{
    if (!hwnd_) return;
    HandlerScope scope(backend_);
    backend_->SyncModifiers(event->modifiers());
    win32::host::MouseMove(ScreenPoint(event->position()));
}

void SurfaceWidget::mousePressEvent(QMouseEvent* event)
{
    Mouse(event, true);
}

void SurfaceWidget::mouseReleaseEvent(QMouseEvent* event)
{
    Mouse(event, false);
}

// Qt's double click is the second press; the layer's windows (no CS_DBLCLKS) see a plain press.
void SurfaceWidget::mouseDoubleClickEvent(QMouseEvent* event)
{
    Mouse(event, true);
}

void SurfaceWidget::wheelEvent(QWheelEvent* event)
{
    if (!hwnd_) return;
    // Qt's angle delta counts eighths of a degree: 120 per notch, the layer's step.
    int delta = event->angleDelta().y();
    if (delta == 0) return;
    HandlerScope scope(backend_);
    backend_->SyncModifiers(event->modifiers());
    win32::host::MouseWheel(delta, ScreenPoint(event->position()));
}

void SurfaceWidget::keyPressEvent(QKeyEvent* event)
{
    if (!hwnd_) return;
    HandlerScope scope(backend_);
    backend_->KeyFromQt(event, true);
}

void SurfaceWidget::keyReleaseEvent(QKeyEvent* event)
{
    // X11 repeats a held key as release/press pairs; the layer wants only repeated presses.
    if (!hwnd_ || event->isAutoRepeat()) return;
    HandlerScope scope(backend_);
    backend_->KeyFromQt(event, false);
}

void SurfaceWidget::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    // Keys released while another window had the keyboard would otherwise stay down.
    HandlerScope scope(backend_);
    backend_->ReleaseHeldKeys();
}

void SurfaceWidget::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && hwnd_ && isActiveWindow())
    {
        HandlerScope scope(backend_);
        win32::host::ActivatedByUser(hwnd_);
    }
}

void SurfaceWidget::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    const WindowState* st = hwnd_ ? backend_->StateOf(hwnd_) : nullptr;
    if (!st || !isVisible() || !isWindow()) return;
    QRect g = geometry();
    // Our own geometry changes come back here too; only a different size is the user's. A device size
    // that the scale does not divide comes back one pixel off, once.
    const LONG width = ToDevice(g.width()), height = ToDevice(g.height());
    if (g.size() == ToLogical(st->client).size()) return;
    RECT client{st->client.left, st->client.top, st->client.left + width, st->client.top + height};
    HandlerScope scope(backend_);
    win32::host::WindowMovedByUser(hwnd_, client);
}

void SurfaceWidget::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    const WindowState* st = hwnd_ ? backend_->StateOf(hwnd_) : nullptr;
    if (!st || !isVisible() || !isWindow() || !event->spontaneous()) return;
    QRect g = geometry();
    if (g.topLeft() == ToLogical(st->client).topLeft()) return;
    RECT client{ToDevice(g.left()), ToDevice(g.top()),
                ToDevice(g.left()) + (st->client.right - st->client.left),
                ToDevice(g.top()) + (st->client.bottom - st->client.top)};
    HandlerScope scope(backend_);
    win32::host::WindowMovedByUser(hwnd_, client);
}

void SurfaceWidget::closeEvent(QCloseEvent* event)
{
    // The layer decides: WM_CLOSE's default destroys the window, which then retires this widget.
    event->ignore();
    if (!hwnd_) return;
    HandlerScope scope(backend_);
    win32::host::CloseRequested(hwnd_);
}

// ---------------------------------------------------------------------------------------------------
// ModalPump

ModalPump::ModalPump(QtBackend* backend, backend::ModalLoop& loop, std::function<void()> onEnd)
    : backend_(backend), loop_(loop), onEnd_(std::move(onEnd))
{
    timer_.setSingleShot(true);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
    backend_->PumpStarted(this);
    timer_.start(0);
}

ModalPump::~ModalPump()
{
    backend_->PumpFinished(this);
}

void ModalPump::Tick()
{
    if (ended_) return;
    if (!loop_.Pump())
    {
        ended_ = true;
        timer_.stop();
        if (onEnd_) onEnd_();
        return;
    }
    // Paint and timer messages of the layer keep coming while Qt runs the modal loop; wakes from
    // other threads call Soon().
    int next = loop_.MillisecondsToNextTimer();
    timer_.start(next < 0 ? 100 : std::clamp(next, 1, 100));
}

// ---------------------------------------------------------------------------------------------------
// QtBackend: windows

// The application object must exist before any member that is a Qt GUI object.
QtBackend::QtBackend() : uiThread_((EnsureApplication(), std::this_thread::get_id()))
{
    // Quitting is the layer's business (WM_QUIT), not a side effect of closing Qt's last window.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    waker_ = std::make_unique<Waker>(this);
    timeout_.setSingleShot(true);
    focusConnection_ = QObject::connect(qApp, &QApplication::focusChanged,
                                        [this](QWidget*, QWidget* now) { OnFocusChanged(now); });
    ConfigureScreens();
    for (auto signal : {&QGuiApplication::screenAdded, &QGuiApplication::screenRemoved,
                        &QGuiApplication::primaryScreenChanged})
        appConnections_.push_back(
            QObject::connect(qApp, signal, waker_.get(), [this] { ConfigureScreens(); }));
    win32::host::SetBackend(this);
}

// The layer's virtual screen is the desktop's monitors, Qt's primary one first so that it becomes
// the layer's primary one unless another holds the origin.
void QtBackend::ConfigureScreens()
{
    for (auto& c : screenConnections_)
        QObject::disconnect(c);
    screenConnections_.clear();
    QList<QScreen*> screens = QGuiApplication::screens();
    if (QScreen* primary = QGuiApplication::primaryScreen())
    {
        screens.removeAll(primary);
        screens.prepend(primary);
    }
    std::vector<win32::host::MonitorConfig> monitors;
    for (QScreen* screen : screens)
    {
        const qreal scale = LayerScale();
        const QRect g = QRect(ToDevice(screen->geometry().left()), ToDevice(screen->geometry().top()),
                              static_cast<int>(std::lround(screen->geometry().width() * scale)),
                              static_cast<int>(std::lround(screen->geometry().height() * scale)));
        const QRect a =
            QRect(ToDevice(screen->availableGeometry().left()), ToDevice(screen->availableGeometry().top()),
                  static_cast<int>(std::lround(screen->availableGeometry().width() * scale)),
                  static_cast<int>(std::lround(screen->availableGeometry().height() * scale)));
        win32::host::MonitorConfig m;
        m.rect = RECT{g.left(), g.top(), g.left() + g.width(), g.top() + g.height()};
        m.work = RECT{a.left(), a.top(), a.left() + a.width(), a.top() + a.height()};
        monitors.push_back(m);
        for (auto signal : {&QScreen::geometryChanged, &QScreen::availableGeometryChanged})
            screenConnections_.push_back(
                QObject::connect(screen, signal, waker_.get(), [this] { ConfigureScreens(); }));
    }
    if (!monitors.empty()) win32::host::SetVirtualScreen(monitors);
}

QtBackend::~QtBackend()
{
    if (win32::host::GetBackend() == this) win32::host::SetBackend(nullptr);
    QObject::disconnect(focusConnection_);
    for (auto& c : appConnections_)
        QObject::disconnect(c);
    for (auto& c : screenConnections_)
        QObject::disconnect(c);
    for (auto& [hwnd, win] : windows_)
        if (win.widget && !win.state.parent) delete win.widget.data();
    windows_.clear();
    for (auto& w : graveyard_)
        delete w.data();
    graveyard_.clear();
    delete help_.data();
    // Wake events still queued for the waker die with it.
    QCoreApplication::removePostedEvents(waker_.get());
}

QWidget* QtBackend::WindowOf(HWND hwnd) const
{
    auto it = windows_.find(hwnd);
    if (it == windows_.end() || it->second.state.parent) return nullptr;
    return it->second.widget.data();
}

const WindowState* QtBackend::StateOf(HWND hwnd) const
{
    auto it = windows_.find(hwnd);
    return it == windows_.end() ? nullptr : &it->second.state;
}

bool QtBackend::IsDialogClass(const WindowState& state) const
{
    return state.className == "#32770";
}

void QtBackend::WindowCreated(HWND hwnd, const WindowState& state)
{
    windows_[hwnd].state = state;
    unsigned all = kChangedVisible | kChangedPosition | kChangedSize | kChangedTitle | kChangedEnabled |
                   kChangedContent | kChangedFont | kChangedTextColor;
    if (state.parent)
        SyncChild(hwnd, all);
    else
        Sync(hwnd, all);
}

void QtBackend::SyncChild(HWND hwnd, unsigned changes)
{
    auto it = windows_.find(hwnd);
    if (it == windows_.end()) return;
    auto parent = windows_.find(it->second.state.parent);
    QWidget* pw = parent == windows_.end() ? nullptr : parent->second.widget.data();
    if (!pw) return; // the parent is not on the screen: neither is the child
    if (auto* dialog = dynamic_cast<DialogWidget*>(pw))
    {
        if (!it->second.widget)
            AddControl(dialog, hwnd); // a control added to a dialog that is already on the screen
        else
            UpdateControl(hwnd, changes);
        return;
    }
    if (!dynamic_cast<SurfaceWidget*>(pw)) return;

    // A child window of a surface window shows its own surface over its parent's.
    Win& win = it->second;
    const WindowState& st = win.state;
    if (!win.widget)
    {
        if (!st.visible) return;
        auto* child = new SurfaceWidget(this, hwnd, pw);
        child->setCursor(cursor_);
        win.widget = child;
        changes |= kChangedPosition | kChangedSize | kChangedVisible;
        for (auto& [grandChild, gw] : windows_)
            if (gw.state.parent == hwnd) SyncChild(grandChild, kChangedVisible);
    }
    QWidget* w = win.widget;
    if (changes & (kChangedPosition | kChangedSize))
    {
        const WindowState& ps = parent->second.state;
        QRect r = ToLogical(RECT{st.client.left - ps.client.left, st.client.top - ps.client.top,
                                 st.client.right - ps.client.left, st.client.bottom - ps.client.top});
        if (w->geometry() != r) w->setGeometry(r);
    }
    if (changes & kChangedVisible) w->setVisible(st.visible);
}

void QtBackend::WindowChanged(HWND hwnd, const WindowState& state, unsigned changes)
{
    auto it = windows_.find(hwnd);
    if (it == windows_.end()) return WindowCreated(hwnd, state);
    it->second.state = state;
    if (state.parent)
        SyncChild(hwnd, changes);
    else
        Sync(hwnd, changes);
}

void QtBackend::WindowDestroyed(HWND hwnd)
{
    auto it = windows_.find(hwnd);
    if (it == windows_.end()) return;
    QPointer<QWidget> widget = it->second.widget;
    bool topLevel = !it->second.state.parent;
    windows_.erase(it);
    if (capture_ == hwnd) capture_ = nullptr;
    if (focus_ == hwnd) focus_ = nullptr;
    {
        std::lock_guard g(dirtyLock_);
        dirty_.erase(hwnd);
    }
    if (widget && (topLevel || dynamic_cast<SurfaceWidget*>(widget.data())))
        Retire(widget);
    else if (widget)
        widget->hide(); // a control: its dialog deletes it
}

void QtBackend::Retire(QWidget* widget)
{
    if (auto* s = dynamic_cast<SurfaceWidget*>(widget)) s->Detach();
    if (auto* d = dynamic_cast<DialogWidget*>(widget)) d->Detach();
    widget->hide();
    // The widget may be running the handler that destroyed its window; delete it later.
    graveyard_.emplace_back(widget);
    if (handlerDepth_ == 0) CollectGarbage();
}

void QtBackend::CollectGarbage()
{
    auto dead = std::move(graveyard_);
    graveyard_.clear();
    for (auto& w : dead)
        delete w.data();
}

void QtBackend::LeaveHandler()
{
    if (--handlerDepth_ != 0) return;
    if (!graveyard_.empty())
        QTimer::singleShot(0, waker_.get(),
                           [this]
                           {
                               if (handlerDepth_ == 0) CollectGarbage();
                           });
    // What the user just did may have posted messages or ended the modal call; run the layer soon
    // instead of at the next tick.
    if (!pumps_.empty()) pumps_.back()->Soon();
}

void QtBackend::ApplyGeometry(QWidget* widget, const WindowState& state, bool topLevel)
{
    RECT device = topLevel ? state.client : state.window;
    if (!topLevel)
    {
        // Controls are placed in their dialog's client area.
        if (const WindowState* parent = StateOf(state.parent))
            ::OffsetRect(&device, -parent->client.left, -parent->client.top);
    }
    QRect r = ToLogical(device);
    if (widget->geometry() != r) widget->setGeometry(r);
}

void QtBackend::CreateTopLevel(HWND hwnd, Win& win)
{
    const WindowState& st = win.state;
    bool dialog = IsDialogClass(st);
    QWidget* widget =
        dialog ? static_cast<QWidget*>(new DialogWidget(this, hwnd, st.font)) : new SurfaceWidget(this, hwnd);
    Qt::WindowFlags flags = dialog ? Qt::Dialog : Qt::Window;
    if ((st.style & WS_CAPTION) != WS_CAPTION) flags |= Qt::FramelessWindowHint;
    if (!dialog && (st.exStyle & WS_EX_TOOLWINDOW)) flags = (flags & ~Qt::Window) | Qt::Tool;
    if (st.exStyle & WS_EX_TOPMOST) flags |= Qt::WindowStaysOnTopHint;
    widget->setWindowFlags(flags);
    win.widget = widget;
    if (!dialog) widget->setCursor(cursor_);
    // Controls of a dialog, child windows of a surface window.
    for (auto& [child, cw] : windows_)
        if (cw.state.parent == hwnd) SyncChild(child, kChangedVisible);
}

void QtBackend::Sync(HWND hwnd, unsigned changes)
{
    auto it = windows_.find(hwnd);
    if (it == windows_.end()) return;
    Win& win = it->second;
    const WindowState& st = win.state;
    if (!win.widget)
    {
        // Hidden windows never reach Qt.
        if (!st.visible) return;
        CreateTopLevel(hwnd, win);
        changes |= kChangedPosition | kChangedSize | kChangedTitle | kChangedVisible;
    }
    QWidget* widget = win.widget;
    if (changes & kChangedTitle) widget->setWindowTitle(QString::fromUtf8(st.title.c_str()));
    if (changes & kChangedFont)
        if (auto* dialog = dynamic_cast<DialogWidget*>(widget)) dialog->SetLayerFont(st.font);
    if (changes & (kChangedPosition | kChangedSize)) ApplyGeometry(widget, st, true);
    if ((changes & kChangedVisible) && widget->isVisible() != st.visible)
    {
        if (st.visible)
        {
            widget->show();
            if (capture_ == hwnd) widget->grabMouse();
        }
        else
        {
            widget->hide();
        }
    }
}

// ---------------------------------------------------------------------------------------------------
// Surfaces, cursors, capture

void QtBackend::SurfaceChanged(HWND hwnd, const RECT& area)
{
    QRect r = LogicalCover(area);
    if (std::this_thread::get_id() != uiThread_)
    {
        // Widgets belong to the UI thread: hand the area over and wake it.
        {
            std::lock_guard g(dirtyLock_);
            QRect& d = dirty_[hwnd];
            d = d.united(r);
        }
        Wake();
        return;
    }
    ShowSurface(hwnd, r);
}

void QtBackend::ShowSurface(HWND hwnd, const QRect& area)
{
    auto it = windows_.find(hwnd);
    if (it == windows_.end() || !it->second.widget) return;
    // Only widgets that show the layer's pixels; Qt draws dialogs and their other controls itself.
    QWidget* w = it->second.widget;
    if (w->property(kShowsSurfaceProperty).toBool()) w->update(area);
}

void QtBackend::FlushDirty()
{
    std::map<HWND, QRect> dirty;
    {
        std::lock_guard g(dirtyLock_);
        dirty.swap(dirty_);
    }
    for (auto& [hwnd, r] : dirty)
        ShowSurface(hwnd, r);
}

void QtBackend::CursorChanged(const CursorShape* shape)
{
    cursor_ = CursorFor(shape);
    for (auto& [hwnd, win] : windows_)
        if (win.widget && dynamic_cast<SurfaceWidget*>(win.widget.data())) win.widget->setCursor(cursor_);
}

void QtBackend::FocusChanged(HWND focus)
{
    focus_ = focus;
    // Inside a Qt handler (the user moving the focus, which the layer may refuse) Qt is still
    // busy with its own focus change: follow the layer right after it.
    if (handlerDepth_ > 0)
        QTimer::singleShot(0, waker_.get(), [this] { ApplyLayerFocus(); });
    else
        ApplyLayerFocus();
}

void QtBackend::CaptureChanged(HWND capture)
{
    if (QWidget* old = capture_ ? WindowOf(capture_) : nullptr) old->releaseMouse();
    // Qt grabs per top-level window; the layer routes the messages to the capturing child.
    HWND top = capture;
    while (top)
    {
        const WindowState* st = StateOf(top);
        if (!st || !st->parent) break;
        top = st->parent;
    }
    capture_ = top;
    if (QWidget* w = top ? WindowOf(top) : nullptr)
        if (w->isVisible()) w->grabMouse();
}

// ---------------------------------------------------------------------------------------------------
// Keyboard

void QtBackend::KeyFromQt(QKeyEvent* event, bool down)
{
    KeyCode k = VirtualKeyFromQt(event->key(), event->modifiers(), event->nativeScanCode());
    if (!k.vk) return;
    if (down)
        heldKeys_.insert(k.vk);
    else
        heldKeys_.erase(k.vk);
    win32::host::Key(k.vk, down, k.scanCode, k.extended);
}

void QtBackend::ReleaseHeldKeys()
{
    auto held = std::move(heldKeys_);
    heldKeys_.clear();
    for (unsigned vk : held)
        win32::host::Key(vk, false);
}

void QtBackend::SyncModifiers(Qt::KeyboardModifiers modifiers)
{
    // A modifier pressed while another program had the keyboard still counts for MK_ flags.
    struct
    {
        Qt::KeyboardModifier qt;
        unsigned vk;
    } const kModifiers[] = {{Qt::ShiftModifier, VK_SHIFT}, {Qt::ControlModifier, VK_CONTROL}};
    for (const auto& m : kModifiers)
    {
        bool down = modifiers.testFlag(m.qt);
        if (down == (heldKeys_.count(m.vk) != 0)) continue;
        if (down)
            heldKeys_.insert(m.vk);
        else
            heldKeys_.erase(m.vk);
        win32::host::Key(m.vk, down);
    }
}

// ---------------------------------------------------------------------------------------------------
// Waiting

void QtBackend::WaitForEvents(int timeoutMs)
{
    if (handlerDepth_ == 0) CollectGarbage();
    FlushDirty();
    if (timeoutMs == 0)
    {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        return;
    }
    // The time-out is a timer event, which ends the wait like any other event.
    if (timeoutMs > 0) timeout_.start(timeoutMs);
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    timeout_.stop();
    FlushDirty();
}

void QtBackend::Wake()
{
    // One wake event in flight is enough; posting is safe from any thread.
    if (wakePosted_.exchange(true)) return;
    QCoreApplication::postEvent(waker_.get(), new QEvent(kWakeEvent));
}

void QtBackend::PollEvents()
{
    // Inside a Qt handler or a modal call, Qt is running its own loop around this peek already.
    if (handlerDepth_ > 0 || !pumps_.empty()) return;
    FlushDirty();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    FlushDirty();
}

void QtBackend::OnWakeEvent()
{
    wakePosted_ = false;
    FlushDirty();
    if (!pumps_.empty()) pumps_.back()->Soon();
}

void QtBackend::PumpFinished(ModalPump* pump)
{
    pumps_.erase(std::remove(pumps_.begin(), pumps_.end(), pump), pumps_.end());
}
} // namespace ferolt::backend::qt

namespace ferolt::backend
{
bool DesktopDisplayAvailable()
{
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
    {
        const char* v = std::getenv(name);
        if (v && *v) return true;
    }
    return false;
}

std::unique_ptr<Backend> CreateDesktopBackend()
{
    if (!DesktopDisplayAvailable()) return nullptr;
    return CreateQtBackend();
}

std::unique_ptr<Backend> CreateQtBackend()
{
    return std::make_unique<qt::QtBackend>();
}

QWidget* QtWindowOf(Backend* backend, HWND hwnd)
{
    auto* qtb = dynamic_cast<qt::QtBackend*>(backend);
    return qtb ? qtb->WindowOf(hwnd) : nullptr;
}
} // namespace ferolt::backend
