#include "platform/backends/qt/qt_keys.h"

#include "platform/win32/winuser.h"

namespace ferolt::backend::qt
{
namespace
{
struct QtToVk
{
    int key;
    UINT vk;
    bool extended;
};

// Keys whose virtual key does not depend on the layout.
constexpr QtToVk kNamed[] = {
    {Qt::Key_Backspace, VK_BACK, false}, {Qt::Key_Tab, VK_TAB, false},
    {Qt::Key_Backtab, VK_TAB, false},    {Qt::Key_Clear, VK_CLEAR, false},
    {Qt::Key_Return, VK_RETURN, false},  {Qt::Key_Enter, VK_RETURN, true},
    {Qt::Key_Shift, VK_SHIFT, false},    {Qt::Key_Control, VK_CONTROL, false},
    {Qt::Key_Alt, VK_MENU, false},       {Qt::Key_AltGr, VK_MENU, true},
    {Qt::Key_Pause, VK_PAUSE, false},    {Qt::Key_CapsLock, VK_CAPITAL, false},
    {Qt::Key_Escape, VK_ESCAPE, false},  {Qt::Key_Space, VK_SPACE, false},
    {Qt::Key_PageUp, VK_PRIOR, true},    {Qt::Key_PageDown, VK_NEXT, true},
    {Qt::Key_End, VK_END, true},         {Qt::Key_Home, VK_HOME, true},
    {Qt::Key_Left, VK_LEFT, true},       {Qt::Key_Up, VK_UP, true},
    {Qt::Key_Right, VK_RIGHT, true},     {Qt::Key_Down, VK_DOWN, true},
    {Qt::Key_Print, VK_SNAPSHOT, true},  {Qt::Key_Insert, VK_INSERT, true},
    {Qt::Key_Delete, VK_DELETE, true},   {Qt::Key_Help, VK_HELP, false},
    {Qt::Key_Meta, VK_LWIN, true},       {Qt::Key_Super_L, VK_LWIN, true},
    {Qt::Key_Super_R, VK_RWIN, true},    {Qt::Key_Menu, VK_APPS, true},
    {Qt::Key_NumLock, VK_NUMLOCK, true}, {Qt::Key_ScrollLock, VK_SCROLL, false},
};

// Keys of the numeric pad (Qt marks them with KeypadModifier).
constexpr QtToVk kKeypad[] = {
    {Qt::Key_0, VK_NUMPAD0, false},
    {Qt::Key_1, VK_NUMPAD1, false},
    {Qt::Key_2, VK_NUMPAD2, false},
    {Qt::Key_3, VK_NUMPAD3, false},
    {Qt::Key_4, VK_NUMPAD4, false},
    {Qt::Key_5, VK_NUMPAD5, false},
    {Qt::Key_6, VK_NUMPAD6, false},
    {Qt::Key_7, VK_NUMPAD7, false},
    {Qt::Key_8, VK_NUMPAD8, false},
    {Qt::Key_9, VK_NUMPAD9, false},
    {Qt::Key_Asterisk, VK_MULTIPLY, false},
    {Qt::Key_Plus, VK_ADD, false},
    {Qt::Key_Minus, VK_SUBTRACT, false},
    {Qt::Key_Period, VK_DECIMAL, false},
    {Qt::Key_Comma, VK_DECIMAL, false},
    {Qt::Key_Slash, VK_DIVIDE, true},
    {Qt::Key_Enter, VK_RETURN, true},
    {Qt::Key_Return, VK_RETURN, true},
    // Num Lock off: the pad's navigation keys are not extended, unlike the separate block.
    {Qt::Key_Insert, VK_INSERT, false},
    {Qt::Key_Delete, VK_DELETE, false},
    {Qt::Key_Home, VK_HOME, false},
    {Qt::Key_End, VK_END, false},
    {Qt::Key_PageUp, VK_PRIOR, false},
    {Qt::Key_PageDown, VK_NEXT, false},
    {Qt::Key_Left, VK_LEFT, false},
    {Qt::Key_Right, VK_RIGHT, false},
    {Qt::Key_Up, VK_UP, false},
    {Qt::Key_Down, VK_DOWN, false},
    {Qt::Key_Clear, VK_CLEAR, false},
};

// Punctuation by physical key (evdev codes, equal to set-1 scan codes on this range).
struct ScanToVk
{
    UINT scan;
    UINT vk;
};
constexpr ScanToVk kPunctuation[] = {
    {12, VK_OEM_MINUS}, {13, VK_OEM_PLUS},   {26, VK_OEM_4}, {27, VK_OEM_6},
    {39, VK_OEM_1},     {40, VK_OEM_7},      {41, VK_OEM_3}, {43, VK_OEM_5},
    {51, VK_OEM_COMMA}, {52, VK_OEM_PERIOD}, {53, VK_OEM_2}, {86, VK_OEM_102},
};

// Punctuation by Qt key when the physical key is unknown (a US layout guess, plus the key next
// to the left Shift of ISO keyboards, which gives '<' unshifted).
UINT PunctuationFromKey(int key, Qt::KeyboardModifiers modifiers)
{
    bool shift = modifiers & Qt::ShiftModifier;
    switch (key)
    {
    case Qt::Key_Minus:
    case Qt::Key_Underscore:
        return VK_OEM_MINUS;
    case Qt::Key_Equal:
    case Qt::Key_Plus:
        return VK_OEM_PLUS;
    case Qt::Key_BracketLeft:
    case Qt::Key_BraceLeft:
        return VK_OEM_4;
    case Qt::Key_BracketRight:
    case Qt::Key_BraceRight:
        return VK_OEM_6;
    case Qt::Key_Semicolon:
    case Qt::Key_Colon:
        return VK_OEM_1;
    case Qt::Key_Apostrophe:
    case Qt::Key_QuoteDbl:
        return VK_OEM_7;
    case Qt::Key_QuoteLeft:
    case Qt::Key_AsciiTilde:
        return VK_OEM_3;
    case Qt::Key_Backslash:
    case Qt::Key_Bar:
        return VK_OEM_5;
    case Qt::Key_Comma:
        return VK_OEM_COMMA;
    case Qt::Key_Period:
        return VK_OEM_PERIOD;
    case Qt::Key_Slash:
    case Qt::Key_Question:
        return VK_OEM_2;
    case Qt::Key_Less:
        return shift ? VK_OEM_COMMA : VK_OEM_102;
    case Qt::Key_Greater:
        return shift ? VK_OEM_PERIOD : VK_OEM_102;
    default:
        return 0;
    }
}

template <size_t N> const QtToVk* FindKey(const QtToVk (&table)[N], int key)
{
    for (const auto& e : table)
        if (e.key == key) return &e;
    return nullptr;
}
} // namespace

KeyCode VirtualKeyFromQt(int key, Qt::KeyboardModifiers modifiers, quint32 nativeScanCode)
{
    KeyCode out;
    // X11 and Wayland key codes are evdev codes plus 8; evdev codes below 89 are set-1 scan codes.
    UINT evdev = nativeScanCode >= 8 ? nativeScanCode - 8 : 0;
    if (evdev > 0 && evdev < 0x80) out.scanCode = evdev;

    // Left and right modifiers share one virtual key; the right ones are extended keys.
    if (evdev == 97 || evdev == 100)
    {
        out.vk = evdev == 97 ? VK_CONTROL : VK_MENU;
        out.extended = true;
        return out;
    }
    if (modifiers & Qt::KeypadModifier)
        if (auto e = FindKey(kKeypad, key))
        {
            out.vk = e->vk;
            out.extended = e->extended;
            return out;
        }
    if (auto e = FindKey(kNamed, key))
    {
        out.vk = e->vk;
        out.extended = e->extended;
        return out;
    }
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
    {
        out.vk = VK_F1 + static_cast<UINT>(key - Qt::Key_F1);
        return out;
    }
    if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9))
    {
        out.vk = static_cast<UINT>(key); // the virtual keys of letters and digits are their ASCII codes
        return out;
    }
    for (const auto& e : kPunctuation)
        if (e.scan == evdev)
        {
            out.vk = e.vk;
            return out;
        }
    // Shifted digits on a US layout ('!' is Shift+1) when the physical key is unknown.
    static constexpr char kShiftedDigits[] = ")!@#$%^&*(";
    for (int d = 0; d < 10; ++d)
        if (key == kShiftedDigits[d])
        {
            out.vk = '0' + static_cast<UINT>(d);
            return out;
        }
    out.vk = PunctuationFromKey(key, modifiers);
    return out;
}
} // namespace ferolt::backend::qt
