// The Qt backend's modal calls: popup menus, dialogs, message boxes, file dialogs, and the help and
// shell requests that return at once.
#include "platform/backends/qt/qt_backend_impl.h"
#include "platform/backends/qt/qt_help.h"
#include "platform/win32/gdi_dc.h"
#include "platform/win32/user_shell.h"

#include <QtCore/QEventLoop>
#include <QtCore/QFileInfo>
#include <QtCore/QUrl>
#include <QtGui/QCloseEvent>
#include <QtGui/QDesktopServices>
#include <QtGui/QFont>
#include <QtGui/QPalette>
#include <QtGui/QMouseEvent>
#include <QtWidgets/QApplication>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QGroupBox>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QMenu>
#include <QtWidgets/QMessageBox>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QRadioButton>
#include <QtWidgets/QTextBrowser>

#include <algorithm>

namespace ferolt::backend::qt
{
namespace
{
const char* const kHwndProperty = "ferolt_hwnd";

QString FromUtf8(const std::string& s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

HWND HwndOf(const QObject* o)
{
    if (!o) return nullptr;
    QVariant v = o->property(kHwndProperty);
    return v.isValid() ? reinterpret_cast<HWND>(v.value<quintptr>()) : nullptr;
}

// Static text shows '&' as a mnemonic marker unless SS_NOPREFIX; a QLabel without a buddy would
// show it literally.
QString LabelText(const std::string& text, uint32_t style)
{
    QString s = FromUtf8(text);
    if (style & SS_NOPREFIX) return s;
    QString out;
    for (qsizetype i = 0; i < s.size(); ++i)
    {
        if (s[i] == '&' && i + 1 < s.size())
            ++i;
        else if (s[i] == '&')
            continue;
        out += s[i];
    }
    return out;
}

// A static control that reports clicks (SS_NOTIFY).
class ClickLabel : public QLabel
{
public:
    ClickLabel(QWidget* parent, QtBackend* backend) : QLabel(parent), backend_(backend) {}

protected:
    void mouseReleaseEvent(QMouseEvent* event) override
    {
        QLabel::mouseReleaseEvent(event);
        HWND hwnd = HwndOf(this);
        if (!hwnd || event->button() != Qt::LeftButton || !rect().contains(event->position().toPoint()))
            return;
        backend_->EnterHandler();
        win32::host::ControlClicked(hwnd);
        backend_->LeaveHandler();
    }

private:
    QtBackend* backend_;
};

// A picture static shows the control's surface, where the layer draws its bitmap (centred or not,
// as the style says).
class PictureWidget : public QWidget
{
public:
    PictureWidget(QWidget* parent, QtBackend* backend, HWND hwnd, bool notify)
        : QWidget(parent), backend_(backend), hwnd_(hwnd), notify_(notify)
    {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setProperty(kShowsSurfaceProperty, true);
    }

protected:
    void paintEvent(QPaintEvent* event) override { PaintClientSurface(this, hwnd_, event->rect()); }
    void mouseReleaseEvent(QMouseEvent* event) override
    {
        if (!notify_ || event->button() != Qt::LeftButton || !rect().contains(event->position().toPoint()))
            return;
        backend_->EnterHandler();
        win32::host::ControlClicked(hwnd_);
        backend_->LeaveHandler();
    }

private:
    QtBackend* backend_;
    HWND hwnd_;
    bool notify_;
};

// The font a dialog or control was given (WM_SETFONT), in pixels as the layer sized the template
// for it; the face falls back to Qt's default when the desktop lacks it.
void ApplyFont(QWidget* widget, HFONT font)
{
    LOGFONTA lf{};
    if (!font || GetObjectA(font, sizeof(lf), &lf) != static_cast<int>(sizeof(lf))) return;
    QFont f = widget->font();
    // The layer's font height is in device pixels, like the controls it is measured for.
    int pixels = std::abs(lf.lfHeight);
    if (pixels > 0 && pixels <= 200)
        f.setPixelSize(std::max(1, static_cast<int>(std::lround(pixels / LayerScale()))));
    lf.lfFaceName[LF_FACESIZE - 1] = '\0';
    if (lf.lfFaceName[0]) f.setFamilies({QString::fromLatin1(lf.lfFaceName), f.family()});
    f.setBold(lf.lfWeight >= FW_BOLD);
    f.setItalic(lf.lfItalic != 0);
    f.setUnderline(lf.lfUnderline != 0);
    widget->setFont(f);
}

// The text colour the dialog chose for a static control; the default leaves Qt's palette alone.
void ApplyTextColor(QWidget* widget, uint32_t color)
{
    QPalette p = widget->palette();
    QColor c = color == kDefaultTextColor
                   ? (widget->parentWidget() ? widget->parentWidget()->palette() : QPalette())
                         .color(QPalette::WindowText)
                   : QColor(GetRValue(color), GetGValue(color), GetBValue(color));
    if (p.color(QPalette::WindowText) == c) return;
    p.setColor(QPalette::WindowText, c);
    widget->setPalette(p);
}

enum class ControlKind
{
    None,
    Edit,
    Label,
    Picture,
    PushButton,
    CheckBox,
    RadioButton,
    GroupBox,
    Combo,
};

ControlKind KindOf(const WindowState& st)
{
    std::string cls = st.className;
    std::transform(cls.begin(), cls.end(), cls.begin(), [](unsigned char c) { return std::tolower(c); });
    if (cls == "edit") return ControlKind::Edit;
    if (cls == "combobox") return ControlKind::Combo;
    if (cls == "static")
        return (st.style & SS_TYPEMASK) == SS_BITMAP ? ControlKind::Picture : ControlKind::Label;
    if (cls == "button")
    {
        switch (st.style & BS_TYPEMASK)
        {
        case BS_CHECKBOX:
        case BS_AUTOCHECKBOX:
            return ControlKind::CheckBox;
        case BS_RADIOBUTTON:
        case BS_AUTORADIOBUTTON:
            return ControlKind::RadioButton;
        case BS_GROUPBOX:
            return ControlKind::GroupBox;
        default:
            return ControlKind::PushButton;
        }
    }
    return ControlKind::None;
}

QMenu* BuildMenu(const std::vector<MenuItemModel>& items, QWidget* parent)
{
    auto* menu = new QMenu(parent);
    for (const MenuItemModel& item : items)
    {
        if (item.separator)
        {
            menu->addSeparator();
            continue;
        }
        // '&' marks the mnemonic in both worlds; a tab separates the accelerator text in both.
        QString text = FromUtf8(item.text);
        if (item.popup || !item.submenu.empty())
        {
            QMenu* sub = BuildMenu(item.submenu, menu);
            sub->setTitle(text);
            QAction* a = menu->addMenu(sub);
            a->setEnabled(!item.grayed);
            continue;
        }
        QAction* a = menu->addAction(text);
        a->setData(QVariant::fromValue<uint>(item.id));
        a->setEnabled(!item.grayed);
        if (item.checked)
        {
            a->setCheckable(true);
            a->setChecked(true);
        }
    }
    return menu;
}
} // namespace

// ---------------------------------------------------------------------------------------------------
// Popup menus

uint32_t QtBackend::ShowPopupMenu(const std::vector<MenuItemModel>& items, POINT screen, HWND,
                                  ModalLoop& loop)
{
    // No Qt parent: the owner's widget may go while the menu is open (a timer message destroying
    // the window), and would take the menu with it.
    std::unique_ptr<QMenu> menu(BuildMenu(items, nullptr));
    menu->setWindowFlag(Qt::Popup);
    uint32_t chosen = 0;
    // exec's own answer misses actions triggered directly, so listen to the menu too.
    QObject::connect(menu.get(), &QMenu::triggered,
                     [&](QAction* a)
                     {
                         chosen = a->data().toUInt();
                         menu->close();
                     });
    ModalPump pump(this, loop, [&] { menu->close(); });
    QAction* a = menu->exec(ToLogical(screen));
    if (pump.ended()) return 0;
    if (a) chosen = a->data().toUInt();
    return chosen;
}

// ---------------------------------------------------------------------------------------------------
// Dialogs

DialogWidget::DialogWidget(QtBackend* backend, HWND hwnd, HFONT font) : backend_(backend), hwnd_(hwnd)
{
    setProperty(kHwndProperty, QVariant::fromValue<quintptr>(reinterpret_cast<quintptr>(hwnd)));
    ApplyFont(this, font);
}

void DialogWidget::SetLayerFont(HFONT font)
{
    ApplyFont(this, font);
}

// Escape: the dialog manager's IDCANCEL, whether or not there is a Cancel button.
void DialogWidget::reject()
{
    if (!hwnd_) return;
    backend_->EnterHandler();
    SendMessageA(hwnd_, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    backend_->LeaveHandler();
}

void DialogWidget::closeEvent(QCloseEvent* event)
{
    event->ignore();
    if (!hwnd_) return;
    backend_->EnterHandler();
    win32::host::CloseRequested(hwnd_);
    backend_->LeaveHandler();
    backend_->PumpSoon();
}

void QtBackend::AddControl(DialogWidget* dialog, HWND control)
{
    auto it = windows_.find(control);
    if (it == windows_.end() || it->second.widget) return;
    const WindowState& st = it->second.state;
    QWidget* w = nullptr;
    switch (KindOf(st))
    {
    case ControlKind::Edit:
    {
        auto* edit = new QLineEdit(dialog);
        if (st.style & ES_READONLY) edit->setReadOnly(true);
        if (st.style & ES_PASSWORD) edit->setEchoMode(QLineEdit::Password);
        QObject::connect(edit, &QLineEdit::textEdited,
                         [this, control](const QString& text)
                         {
                             EnterHandler();
                             win32::host::EditChanged(control, text.toUtf8().toStdString());
                             LeaveHandler();
                         });
        w = edit;
        break;
    }
    case ControlKind::Picture:
        w = new PictureWidget(dialog, this, control, st.style & SS_NOTIFY);
        break;
    case ControlKind::Label:
    {
        auto* label = (st.style & SS_NOTIFY) ? new ClickLabel(dialog, this) : new QLabel(dialog);
        if ((st.style & SS_TYPEMASK) == SS_CENTER) label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        if ((st.style & SS_TYPEMASK) == SS_RIGHT) label->setAlignment(Qt::AlignRight | Qt::AlignTop);
        if ((st.style & SS_TYPEMASK) == SS_LEFT || (st.style & SS_TYPEMASK) == SS_SIMPLE)
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setWordWrap((st.style & SS_TYPEMASK) == SS_LEFT || (st.style & SS_TYPEMASK) == SS_CENTER);
        if (st.style & SS_NOTIFY) label->setCursor(Qt::PointingHandCursor);
        w = label;
        break;
    }
    case ControlKind::PushButton:
    case ControlKind::CheckBox:
    case ControlKind::RadioButton:
    {
        QAbstractButton* button;
        ControlKind kind = KindOf(st);
        if (kind == ControlKind::CheckBox)
            button = new QCheckBox(dialog);
        else if (kind == ControlKind::RadioButton)
        {
            auto* radio = new QRadioButton(dialog);
            radio->setAutoExclusive(false); // the layer decides which is checked
            button = radio;
        }
        else
        {
            auto* push = new QPushButton(dialog);
            push->setDefault((st.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON);
            button = push;
        }
        QObject::connect(button, &QAbstractButton::clicked,
                         [this, control]
                         {
                             EnterHandler();
                             win32::host::ControlClicked(control);
                             // The layer owns the check state (auto buttons toggle there); show what it says.
                             UpdateControl(control, kChangedContent);
                             LeaveHandler();
                         });
        w = button;
        break;
    }
    case ControlKind::GroupBox:
    {
        auto* group = new QGroupBox(dialog);
        group->setAttribute(Qt::WA_TransparentForMouseEvents);
        w = group;
        break;
    }
    case ControlKind::Combo:
    {
        auto* combo = new QComboBox(dialog);
        QObject::connect(combo, &QComboBox::activated,
                         [this, control](int index)
                         {
                             EnterHandler();
                             win32::host::ComboSelected(control, index);
                             LeaveHandler();
                         });
        w = combo;
        break;
    }
    case ControlKind::None:
        return;
    }
    w->setProperty(kHwndProperty, QVariant::fromValue<quintptr>(reinterpret_cast<quintptr>(control)));
    it->second.widget = w;
    UpdateControl(control, kChangedPosition | kChangedSize | kChangedTitle | kChangedVisible |
                               kChangedEnabled | kChangedContent | kChangedFont | kChangedTextColor);
    // Group boxes frame the controls that follow them; keep them underneath.
    if (KindOf(st) == ControlKind::GroupBox) w->lower();
}

void QtBackend::UpdateControl(HWND control, unsigned changes)
{
    auto it = windows_.find(control);
    if (it == windows_.end() || !it->second.widget) return;
    const WindowState& st = it->second.state;
    QWidget* w = it->second.widget;
    ControlKind kind = KindOf(st);
    if (changes & (kChangedPosition | kChangedSize))
    {
        ApplyGeometry(w, st, false);
        // A drop-down list's rectangle includes its open list; the closed box is Qt's height.
        if (kind == ControlKind::Combo) w->resize(w->width(), std::min(w->height(), w->sizeHint().height()));
    }
    if (changes & kChangedVisible) w->setVisible(st.visible);
    if (changes & kChangedEnabled) w->setEnabled(st.enabled);
    if (changes & (kChangedFont | kChangedStyle)) ApplyFont(w, st.font);
    if ((changes & kChangedTextColor) && kind == ControlKind::Label) ApplyTextColor(w, st.textColor);
    if (changes & (kChangedTitle | kChangedContent))
    {
        QString text = FromUtf8(st.title);
        switch (kind)
        {
        case ControlKind::Edit:
        {
            auto* edit = static_cast<QLineEdit*>(w);
            if (edit->text() != text)
            {
                QSignalBlocker block(edit);
                edit->setText(text);
            }
            break;
        }
        case ControlKind::Label:
            static_cast<QLabel*>(w)->setText(LabelText(st.title, st.style));
            break;
        case ControlKind::Picture:
            w->update();
            break;
        case ControlKind::PushButton:
        case ControlKind::CheckBox:
        case ControlKind::RadioButton:
        {
            auto* button = static_cast<QAbstractButton*>(w);
            button->setText(text);
            if (kind != ControlKind::PushButton)
            {
                QSignalBlocker block(button);
                button->setCheckable(true);
                button->setChecked(SendMessageA(control, BM_GETCHECK, 0, 0) == BST_CHECKED);
            }
            break;
        }
        case ControlKind::GroupBox:
            static_cast<QGroupBox*>(w)->setTitle(text);
            break;
        case ControlKind::Combo:
        {
            auto* combo = static_cast<QComboBox*>(w);
            QSignalBlocker block(combo);
            // Lists in dialogs are short; a bad count must not build a huge one.
            LRESULT count = std::clamp<LRESULT>(SendMessageA(control, CB_GETCOUNT, 0, 0), 0, 10000);
            QStringList items;
            for (LRESULT i = 0; i < count; ++i)
            {
                LRESULT len = SendMessageA(control, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
                if (len < 0 || len > (1 << 16)) len = 0;
                std::string s(static_cast<size_t>(len) + 1, '\0');
                SendMessageA(control, CB_GETLBTEXT, static_cast<WPARAM>(i),
                             reinterpret_cast<LPARAM>(s.data()));
                s.resize(std::strlen(s.c_str()));
                items << FromUtf8(s);
            }
            QStringList current;
            for (int i = 0; i < combo->count(); ++i)
                current << combo->itemText(i);
            if (current != items)
            {
                combo->clear();
                combo->addItems(items);
            }
            combo->setCurrentIndex(static_cast<int>(SendMessageA(control, CB_GETCURSEL, 0, 0)));
            break;
        }
        case ControlKind::None:
            break;
        }
    }
}

void QtBackend::OnFocusChanged(QWidget* now)
{
    if (settingFocus_ || !now) return;
    HWND hwnd = HwndOf(now);
    if (!hwnd) return;
    auto it = windows_.find(hwnd);
    if (it == windows_.end() || !it->second.state.parent) return;
    EnterHandler();
    win32::host::FocusControl(hwnd);
    LeaveHandler();
}

void QtBackend::ApplyLayerFocus()
{
    auto it = windows_.find(focus_);
    if (it == windows_.end() || !it->second.state.parent || !it->second.widget) return;
    QWidget* w = it->second.widget;
    if (w->hasFocus() || !w->isVisible()) return;
    settingFocus_ = true;
    w->setFocus(Qt::OtherFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) edit->selectAll();
    settingFocus_ = false;
}

void QtBackend::RunDialog(HWND dialog, ModalLoop& loop)
{
    auto it = windows_.find(dialog);
    if (it == windows_.end()) return;
    if (!it->second.widget)
    {
        it->second.state.visible = true; // shown by the modal call even if the template was not
        Sync(dialog, kChangedVisible);
    }
    QPointer<QWidget> widget = it->second.widget;
    if (widget)
    {
        // Qt applies a change of modality only when the window is shown again.
        if (widget->windowModality() != Qt::ApplicationModal)
        {
            widget->hide();
            widget->setWindowModality(Qt::ApplicationModal);
        }
        widget->show();
        widget->raise();
        widget->activateWindow();
        ApplyLayerFocus(); // the focus WM_INITDIALOG chose, now that its control is on the screen
    }
    QEventLoop events;
    ModalPump pump(this, loop, [&] { events.quit(); });
    if (!pump.ended()) events.exec();
    if (widget) widget->hide();
}

// ---------------------------------------------------------------------------------------------------
// Message boxes and file dialogs

int QtBackend::ShowMessageBox(const MessageBoxRequest& request, ModalLoop& loop)
{
    // Unparented for the same reason as popup menus; modal for the whole application anyway.
    QMessageBox box;
    box.setWindowTitle(FromUtf8(request.caption));
    box.setText(FromUtf8(request.text));
    switch (request.type & MB_ICONMASK)
    {
    case MB_ICONHAND:
        box.setIcon(QMessageBox::Critical);
        break;
    case MB_ICONQUESTION:
        box.setIcon(QMessageBox::Question);
        break;
    case MB_ICONEXCLAMATION:
        box.setIcon(QMessageBox::Warning);
        break;
    case MB_ICONASTERISK:
        box.setIcon(QMessageBox::Information);
        break;
    default:
        box.setIcon(QMessageBox::NoIcon);
        break;
    }
    struct Choice
    {
        QMessageBox::StandardButton button;
        int id;
    };
    std::vector<Choice> choices;
    switch (request.type & MB_TYPEMASK)
    {
    case MB_OKCANCEL:
        choices = {{QMessageBox::Ok, IDOK}, {QMessageBox::Cancel, IDCANCEL}};
        break;
    case MB_ABORTRETRYIGNORE:
        choices = {
            {QMessageBox::Abort, IDABORT}, {QMessageBox::Retry, IDRETRY}, {QMessageBox::Ignore, IDIGNORE}};
        break;
    case MB_YESNOCANCEL:
        choices = {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}, {QMessageBox::Cancel, IDCANCEL}};
        break;
    case MB_YESNO:
        choices = {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}};
        break;
    case MB_RETRYCANCEL:
        choices = {{QMessageBox::Retry, IDRETRY}, {QMessageBox::Cancel, IDCANCEL}};
        break;
    default:
        choices = {{QMessageBox::Ok, IDOK}};
        break;
    }
    QMessageBox::StandardButtons buttons;
    for (const Choice& c : choices)
        buttons |= c.button;
    box.setStandardButtons(buttons);
    size_t def = (request.type & MB_DEFBUTTON2) ? 1 : 0;
    if (def < choices.size()) box.setDefaultButton(choices[def].button);
    // Closing the box answers as the original does: Cancel when there is one, OK for a lone OK,
    // and (without either) the last button, which is No for MB_YESNO.
    int closed = choices.back().id;
    for (const Choice& c : choices)
        if (c.id == IDCANCEL) closed = IDCANCEL;

    ModalPump pump(this, loop, [&] { box.done(-1); });
    int result = box.exec();
    if (pump.ended()) return closed;
    for (const Choice& c : choices)
        if (result == c.button) return c.id;
    return closed;
}

bool QtBackend::ShowFileDialog(const FileDialogRequest& request, std::string* path, int* filterIndex,
                               ModalLoop& loop)
{
    QFileDialog dialog(nullptr, FromUtf8(request.title), FromUtf8(request.initialDirectory));
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    if (request.save)
        dialog.setFileMode(QFileDialog::AnyFile);
    else
        dialog.setFileMode((request.flags & OFN_FILEMUSTEXIST) ? QFileDialog::ExistingFile
                                                               : QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !(request.flags & OFN_OVERWRITEPROMPT));
    QStringList filters;
    for (const FileFilter& f : request.filters)
    {
        QString patterns = FromUtf8(f.patterns);
        patterns.replace(';', ' ');
        filters << QStringLiteral("%1 (%2)").arg(FromUtf8(f.description), patterns);
    }
    if (!filters.isEmpty())
    {
        dialog.setNameFilters(filters);
        int index = std::clamp(request.filterIndex, 0, static_cast<int>(filters.size()) - 1);
        dialog.selectNameFilter(filters[index]);
    }
    if (!request.defaultExtension.empty()) dialog.setDefaultSuffix(FromUtf8(request.defaultExtension));
    if (!request.initialName.empty()) dialog.selectFile(FromUtf8(request.initialName));

    QEventLoop events;
    bool accepted = false;
    QObject::connect(&dialog, &QDialog::finished,
                     [&](int result)
                     {
                         accepted = result == QDialog::Accepted;
                         events.quit();
                     });
    ModalPump pump(this, loop,
                   [&]
                   {
                       dialog.reject();
                       events.quit();
                   });
    dialog.open();
    if (!pump.ended()) events.exec();
    if (pump.ended() || !accepted || dialog.selectedFiles().isEmpty()) return false;
    if (path) *path = dialog.selectedFiles().first().toUtf8().toStdString();
    if (filterIndex)
        *filterIndex = std::max(0, static_cast<int>(filters.indexOf(dialog.selectedNameFilter())));
    return true;
}

// ---------------------------------------------------------------------------------------------------
// Help and shell

bool QtBackend::ShowHelp(HWND, const std::string& file)
{
    QWidget* window = ShowHelpWindow(help_.data(), FromUtf8(file));
    help_ = window;
    return window != nullptr;
}

bool QtBackend::ShellOpen(const std::string& target, const std::string&)
{
    if (target.empty()) return false;
    // The desktop's opener runs detached; this returns as soon as it is started.
    QUrl url = QUrl::fromUserInput(FromUtf8(target), QString(), QUrl::AssumeLocalFile);
    return url.isValid() && QDesktopServices::openUrl(url);
}
} // namespace ferolt::backend::qt
