// Controls, dialog templates and keyboard handling, menus from text, and text conversion.
#include "tests/platform/user/recorder.h"

#include "platform/win32/user_text.h"

using namespace ferolt::test;
using ferolt::backend::HeadlessBackend;

namespace
{
const char* kDialog = R"(
DIALOG 10, 20, 200, 100
STYLE DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU
CAPTION "Größe"
FONT 8, "MS Shell Dlg"
BEGIN
    EDITTEXT        520, 50, 7, 68, 12, ES_AUTOHSCROLL
    EDITTEXT        521, 50, 27, 68, 12
    COMBOBOX        522, 81, 31, 100, 61, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP
    CONTROL         "", 535, "Static", SS_BITMAP | SS_CENTERIMAGE, 18, 17, 60, 22
    DEFPUSHBUTTON   "OK", IDOK, 76, 80, 50, 14
    PUSHBUTTON      "Abbrechen", IDCANCEL, 142, 80, 50, 14
END
)";

std::vector<std::pair<int, WORD>>& Notes()
{
    static std::vector<std::pair<int, WORD>> n;
    return n;
}

INT_PTR CALLBACK NotingProc(HWND dlg, UINT m, WPARAM w, LPARAM)
{
    if (m == WM_INITDIALOG) return TRUE;
    if (m != WM_COMMAND) return FALSE;
    Notes().push_back({LOWORD(w), HIWORD(w)});
    if (LOWORD(w) == IDOK || LOWORD(w) == IDCANCEL) EndDialog(dlg, LOWORD(w));
    return TRUE;
}
} // namespace

// Controls are laid out in dialog units of the dialog's font: 6 x 13 pixels per 4 x 8 units at 8 points.
TEST_F(UserTest, DialogLayoutInDialogUnits)
{
    HWND owner = Make(WS_POPUP | WS_VISIBLE, RECT{100, 100, 600, 400});
    HWND dlg = ferolt::win32::CreateDialogFromText(kDialog, owner, NotingProc, 0);
    ASSERT_NE(dlg, nullptr);
    struct Case
    {
        int id;
        RECT expected; // dialog client coordinates
    };
    const Case cases[] = {
        {520, {75, 11, 177, 31}}, // each of x, y, width and height rounded on its own
        {IDOK, {114, 130, 189, 153}},
        {535, {27, 28, 117, 64}},
    };
    for (const Case& c : cases)
    {
        RECT r;
        GetWindowRect(GetDlgItem(dlg, c.id), &r);
        MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&r), 2);
        EXPECT_TRUE(EqualRect(&r, &c.expected))
            << c.id << ": " << r.left << "," << r.top << "," << r.right << "," << r.bottom;
    }
    RECT client;
    GetClientRect(dlg, &client);
    EXPECT_EQ(client.right, 300);
    EXPECT_EQ(client.bottom, 163);
    RECT units{0, 0, 4, 8};
    MapDialogRect(dlg, &units);
    EXPECT_EQ(units.right, 6);
    EXPECT_EQ(units.bottom, 13);
    char caption[32];
    GetWindowTextA(dlg, caption, sizeof caption);
    EXPECT_STREQ(caption, "Größe");
    // The first tab stop has the focus after WM_INITDIALOG returned TRUE.
    EXPECT_EQ(GetDlgCtrlID(GetFocus()), 520);
    HFONT font = reinterpret_cast<HFONT>(SendDlgItemMessageA(dlg, 520, WM_GETFONT, 0, 0));
    LOGFONTA lf{};
    ASSERT_TRUE(GetObjectA(font, sizeof lf, &lf));
    EXPECT_STREQ(lf.lfFaceName, "MS Shell Dlg");
    DestroyWindow(dlg);
}

TEST_F(UserTest, ComboBoxMessages)
{
    HWND owner = Make(WS_POPUP | WS_VISIBLE, RECT{0, 0, 300, 200});
    HWND dlg = ferolt::win32::CreateDialogFromText(kDialog, owner, NotingProc, 0);
    HWND combo = GetDlgItem(dlg, 522);
    struct Step
    {
        UINT msg;
        WPARAM wParam;
        const char* text;
        LRESULT expected;
    };
    const Step steps[] = {
        {CB_GETCURSEL, 0, nullptr, CB_ERR},
        {CB_ADDSTRING, 0, "Bitmap (bmp)", 0},
        {CB_ADDSTRING, 0, "JPEG (jpg)", 1},
        {CB_SETCURSEL, 1, nullptr, 1},
        {CB_GETCURSEL, 0, nullptr, 1},
        {CB_SETCURSEL, 5, nullptr, CB_ERR}, // out of range clears the selection
        {CB_GETCURSEL, 0, nullptr, CB_ERR},
        {CB_SETCURSEL, 0, nullptr, 0},
        {CB_GETCOUNT, 0, nullptr, 2},
        {CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), "jpeg (JPG)", 1},
        {CB_DELETESTRING, 0, nullptr, 1},
        {CB_GETCURSEL, 0, nullptr, CB_ERR}, // the selected item went
        {CB_GETLBTEXTLEN, 7, nullptr, CB_ERR},
    };
    for (const Step& s : steps)
        EXPECT_EQ(SendMessageA(combo, s.msg, s.wParam, reinterpret_cast<LPARAM>(s.text)), s.expected)
            << s.msg;
    SendMessageA(combo, CB_SETCURSEL, 0, 0);
    char text[32];
    GetWindowTextA(combo, text, sizeof text);
    EXPECT_STREQ(text, "JPEG (jpg)"); // a drop-down list shows its selection

    // A combo box the user types into keeps a text of its own.
    HWND editable = CreateWindowExA(0, "ComboBox", "", WS_CHILD | CBS_DROPDOWN, 0, 0, 80, 60, dlg, nullptr,
                                    nullptr, nullptr);
    ASSERT_TRUE(SetWindowTextA(editable, "Typed"));
    EXPECT_EQ(GetWindowTextA(editable, text, sizeof text), 5);
    EXPECT_STREQ(text, "Typed");
    EXPECT_EQ(GetWindowTextLengthA(editable), 5);
    DestroyWindow(dlg);
}

TEST_F(UserTest, GetDlgItemIntParsesWholeNumbersOnly)
{
    HWND owner = Make(WS_POPUP | WS_VISIBLE, RECT{0, 0, 300, 200});
    HWND dlg = ferolt::win32::CreateDialogFromText(kDialog, owner, NotingProc, 0);
    struct Case
    {
        const char* text;
        BOOL isSigned;
        BOOL ok;
        UINT value;
    };
    const Case cases[] = {
        {"12", TRUE, TRUE, 12},
        {" -7 ", TRUE, TRUE, static_cast<UINT>(-7)},
        {"-7", FALSE, FALSE, 0},
        {"x", TRUE, FALSE, 0},
        {"", TRUE, FALSE, 0},
        {"4294967295", FALSE, TRUE, 4294967295u},
        {"4294967296", FALSE, FALSE, 0},
        {"2147483648", TRUE, FALSE, 0},
    };
    for (const Case& c : cases)
    {
        SetDlgItemTextA(dlg, 521, c.text);
        BOOL ok = 2;
        UINT v = GetDlgItemInt(dlg, 521, &ok, c.isSigned);
        EXPECT_EQ(ok, c.ok) << c.text;
        EXPECT_EQ(v, c.value) << c.text;
    }
    DestroyWindow(dlg);
}

// Focus moves send EN_KILLFOCUS; Enter presses the default button, Escape cancels, Tab moves on.
TEST_F(UserTest, DialogKeyboardAndNotifications)
{
    HWND owner = Make(WS_POPUP | WS_VISIBLE, RECT{0, 0, 300, 200});
    backend->RunPending();
    struct Case
    {
        UINT key;
        INT_PTR result;
    };
    for (const Case& c : {Case{VK_RETURN, IDOK}, Case{VK_ESCAPE, IDCANCEL}})
    {
        Notes().clear();
        int focusAfterTab = 0;
        backend->AnswerDialog({HeadlessBackend::Focus(520),
                               [&](HWND, ferolt::backend::ModalLoop&) { backend->KeyPress(VK_TAB); },
                               [&](HWND, ferolt::backend::ModalLoop&)
                               {
                                   focusAfterTab = GetDlgCtrlID(GetFocus());
                                   backend->KeyPress(c.key);
                               }});
        INT_PTR r = ferolt::win32::DialogBoxFromText(kDialog, owner, NotingProc, 0);
        EXPECT_EQ(r, c.result);
        EXPECT_EQ(focusAfterTab, 521);
        bool killed = false;
        for (auto& [id, code] : Notes())
            killed = killed || (id == 520 && code == EN_KILLFOCUS);
        EXPECT_TRUE(killed);
        std::pair<int, WORD> pressed{static_cast<int>(c.result), BN_CLICKED};
        EXPECT_NE(std::find(Notes().begin(), Notes().end(), pressed), Notes().end());
    }
    // Typing reaches the focused edit through WM_CHAR.
    std::string typed;
    backend->AnswerDialog({HeadlessBackend::Focus(521),
                           [&](HWND, ferolt::backend::ModalLoop&)
                           {
                               for (UINT k : {UINT('4'), UINT('2'), UINT(VK_BACK), UINT('7')})
                                   backend->KeyPress(k);
                           },
                           [&](HWND d, ferolt::backend::ModalLoop&)
                           {
                               char buf[16];
                               GetDlgItemTextA(d, 521, buf, sizeof buf);
                               typed = buf;
                           },
                           HeadlessBackend::Click(IDCANCEL)});
    EXPECT_EQ(ferolt::win32::DialogBoxFromText(kDialog, owner, NotingProc, 0), IDCANCEL);
    EXPECT_EQ(typed, "47");
}

TEST_F(UserTest, StaticsReportClicksOnlyWithNotify)
{
    HWND owner = Make(WS_POPUP | WS_VISIBLE, RECT{0, 0, 300, 200});
    HWND dlg = ferolt::win32::CreateDialogFromText(kDialog, owner, NotingProc, 0);
    HWND pic = GetDlgItem(dlg, 535);
    Notes().clear();
    ferolt::win32::host::ControlClicked(pic);
    EXPECT_TRUE(Notes().empty());
    SetWindowLongA(pic, GWL_STYLE, GetWindowLongA(pic, GWL_STYLE) | SS_NOTIFY);
    ferolt::win32::host::ControlClicked(pic);
    EXPECT_EQ(Notes(), (std::vector<std::pair<int, WORD>>{{535, STN_CLICKED}}));
    HBITMAP bm = CreateBitmap(2, 2, 1, 32, nullptr);
    EXPECT_EQ(SendMessageA(pic, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bm)), 0);
    EXPECT_EQ(SendMessageA(pic, STM_GETIMAGE, IMAGE_BITMAP, 0), reinterpret_cast<LRESULT>(bm));
    DestroyWindow(dlg);
    DeleteObject(bm);
}

// Broken descriptions are refused whole; nothing crashes or half-loads.
TEST_F(UserTest, DescriptionsThatDoNotParse)
{
    const char* menus[] = {
        "POPUP \"a\" BEGIN MENUITEM \"x\" 5 END", // missing comma
        "POPUP \"a\" BEGIN MENUITEM \"x\", 5",    // unterminated
        "POPUP \"a\" BEGIN MENUITEM \"unterminated, 5 END",
        "MENUITEM \"x\", NOSUCHNAME",
        "",
    };
    for (const char* m : menus)
    {
        HMENU h = ferolt::win32::LoadMenuFromText(m);
        if (*m)
        {
            EXPECT_EQ(h, nullptr) << m;
        }
        else
        {
            DestroyMenu(h); // an empty menu is a menu
        }
    }
    std::string deep;
    for (int i = 0; i < 40; ++i)
        deep += "POPUP \"p\" BEGIN ";
    EXPECT_EQ(ferolt::win32::LoadMenuFromText(deep), nullptr);

    const char* dialogs[] = {
        "DIALOG 0, 0, 10\nBEGIN\nEND",
        "DIALOG 0, 0, 10, 10\nSTYLE NOSUCHSTYLE\nBEGIN\nEND",
        "DIALOG 0, 0, 10, 10\nBEGIN\nEDITTEXT 1, 2, 3\nEND",
        "DIALOG 0, 0, 10, 10\nBEGIN\nCONTROL \"\", 1, \"NoSuchClass\", 0, 1, 1, 1, 1\nEND",
        "DIALOG 0, 0, 10, 10\nBEGIN\n",
    };
    for (const char* d : dialogs)
        EXPECT_EQ(ferolt::win32::CreateDialogFromText(d, nullptr, NotingProc, 0), nullptr) << d;
    EXPECT_EQ(ferolt::win32::DialogBoxFromText(dialogs[0], nullptr, NotingProc, 0), -1);
}

TEST_F(UserTest, MenuEditing)
{
    HMENU bar = ferolt::win32::LoadMenuFromText(
        "POPUP \"K\"\nBEGIN\n  MENUITEM \"Sonne\", 527\n  MENUITEM \"Gegensonne\", 528, CHECKED\nEND\n");
    ASSERT_NE(bar, nullptr);
    HMENU p = GetSubMenu(bar, 0);
    EXPECT_EQ(GetMenuItemCount(p), 2);
    EXPECT_EQ(GetMenuState(p, 528, MF_BYCOMMAND) & MF_CHECKED, static_cast<UINT>(MF_CHECKED));
    EXPECT_EQ(CheckMenuItem(p, 528, MF_UNCHECKED), static_cast<DWORD>(MF_CHECKED));
    EXPECT_EQ(CheckMenuItem(p, 999, MF_CHECKED), static_cast<DWORD>(-1));
    EnableMenuItem(p, 527, MF_GRAYED);
    EXPECT_EQ(GetMenuState(p, 527, MF_BYCOMMAND) & MF_GRAYED, static_cast<UINT>(MF_GRAYED));
    HMENU sub = CreatePopupMenu();
    AppendMenuA(sub, MF_STRING, 600, "Sichtpunkt");
    EXPECT_TRUE(InsertMenuA(p, 0, MF_BYPOSITION | MF_POPUP, reinterpret_cast<UINT_PTR>(sub), "Sichtpunkte"));
    EXPECT_EQ(GetSubMenu(p, 0), sub);
    EXPECT_EQ(GetMenuItemID(p, 1), 527u);
    char buf[32];
    GetMenuStringA(p, 0, buf, sizeof buf, MF_BYPOSITION);
    EXPECT_STREQ(buf, "Sichtpunkte");
    EXPECT_FALSE(InsertMenuA(p, 0, MF_BYPOSITION | MF_POPUP, reinterpret_cast<UINT_PTR>(p), "self"));
    EXPECT_TRUE(DestroyMenu(bar));
    EXPECT_FALSE(IsMenu(sub)); // submenus go with their menu
}

TEST_F(UserTest, Windows1252ToScreenText)
{
    struct Case
    {
        std::string cp1252;
        std::string utf8;
    };
    const Case cases[] = {
        {"Haus", "Haus"},         {"H\xF6he", "Höhe"}, {"\x80 5", "€ 5"}, {"\x93zitiert\x94", "“zitiert”"},
        {"\x81", "\xEF\xBF\xBD"}, // undefined in the code page
    };
    for (const Case& c : cases)
    {
        EXPECT_EQ(ferolt::win32::Cp1252ToUtf8(c.cp1252), c.utf8);
        if (c.cp1252 != "\x81")
        {
            EXPECT_EQ(ferolt::win32::Utf8ToCp1252(c.utf8), c.cp1252);
        }
    }
    EXPECT_EQ(ferolt::win32::Utf8ToCp1252("\xE2\x82"), "??"); // cut short
    EXPECT_EQ(ferolt::win32::Utf8ToCp1252("日"), "?");
}
