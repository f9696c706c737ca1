// The framework's window classes over the headless backend: message maps, dialogs with data
// exchange, controls, menus from resources, the file dialog and the application object.
#include "platform/backends/headless/headless_backend.h"
#include "platform/mfc/afxwin.h"
#include "platform/win32/kernel_hooks.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

using ferolt::backend::HeadlessBackend;

namespace
{
class TestApp : public CWinApp
{
public:
    TestApp() : CWinApp("Ferolt") {}
} theApp;

// A window with a command range, a registered message and a few handlers.
const UINT g_ping = RegisterWindowMessageA("FeroltPing");

class RangeWnd : public CWnd
{
public:
    std::vector<UINT> commands;
    int pings = 0;
    int paints = 0;
    RECT clip{};
    bool destroyed = false;

protected:
    afx_msg void OnRange(UINT id) { commands.push_back(id); }
    afx_msg LRESULT OnPing(WPARAM w, LPARAM) { return static_cast<LRESULT>(++pings + w); }
    afx_msg void OnPaint()
    {
        CPaintDC dc(this);
        dc.GetClipBox(&clip);
        ++paints;
    }
    afx_msg void OnDestroy()
    {
        destroyed = true;
        CWnd::OnDestroy();
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(RangeWnd, CWnd)
ON_COMMAND_RANGE(500, 550, OnRange)
ON_COMMAND_RANGE(600, 799, OnRange)
ON_REGISTERED_MESSAGE(g_ping, OnPing)
ON_WM_PAINT()
ON_WM_DESTROY()
END_MESSAGE_MAP()

// The size dialog: two fields that keep the aspect when one of them loses the focus.
class SizeDlg : public CDialog
{
public:
    SizeDlg(int w, int h) : CDialog(519), m_nWidth(w), m_nHeight(h), m_fAspect(static_cast<float>(h) / w) {}
    int m_nWidth;
    int m_nHeight;
    int m_nFormat = 1;
    int m_nOversampling = 1;
    float m_fAspect;
    int killFocus = 0;
    bool keepAspect = true;
    CComboBox m_formats;
    CComboBox m_aa;

protected:
    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog(); // binds the lists
        m_formats.AddString("Bitmap (bmp)");
        m_formats.AddString("JPEG (jpg)");
        m_aa.AddString("Ohne Kantenglättung");
        m_aa.AddString("Einfache Kantenglättung");
        m_aa.AddString("Doppelte Kantenglättung");
        UpdateData(FALSE);
        return TRUE;
    }
    void DoDataExchange(CDataExchange* dx) override
    {
        DDX_Control(dx, 522, m_formats);
        DDX_Control(dx, 523, m_aa);
        DDX_Text(dx, 520, m_nWidth);
        DDX_Text(dx, 521, m_nHeight);
        DDX_CBIndex(dx, 522, m_nFormat);
        DDX_CBIndex(dx, 523, m_nOversampling);
    }
    afx_msg void OnKillFocusWidth()
    {
        ++killFocus;
        if (!keepAspect) return;
        UpdateData(TRUE);
        m_nHeight = static_cast<int>(m_nWidth * m_fAspect);
        UpdateData(FALSE);
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(SizeDlg, CDialog)
ON_EN_KILLFOCUS(520, OnKillFocusWidth)
END_MESSAGE_MAP()

class InfoDlg : public CDialog
{
public:
    InfoDlg() : CDialog(534) {}
    CStatic m_picture;
    CStatic m_version;
    CBitmap m_bitmap;
    int clicks = 0;
    CFont m_link;
    LOGFONTA linkFont{};

protected:
    BOOL OnInitDialog() override
    {
        BOOL r = CDialog::OnInitDialog();
        if (m_bitmap.LoadBitmap(539)) m_picture.SetBitmap(m_bitmap);
        GetDlgItem(535)->ModifyStyle(0, SS_NOTIFY);
        GetDlgItem(537)->ModifyStyle(0, SS_NOTIFY);
        LOGFONTA lf{};
        GetDlgItem(537)->GetFont()->GetLogFont(&lf);
        lf.lfUnderline = TRUE;
        m_link.CreateFontIndirect(&lf);
        GetDlgItem(537)->SetFont(&m_link);
        GetDlgItem(537)->GetFont()->GetLogFont(&linkFont);
        m_version.SetWindowText("Ferolt v1.1.0.0");
        return r;
    }
    void DoDataExchange(CDataExchange* dx) override
    {
        DDX_Control(dx, 535, m_picture);
        DDX_Control(dx, 536, m_version);
    }
    afx_msg HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor)
    {
        HBRUSH brush = CDialog::OnCtlColor(dc, wnd, ctlColor);
        if (wnd->GetDlgCtrlID() == 537) dc->SetTextColor(RGB(0, 0, 255)); // links are blue
        return brush;
    }
    afx_msg void OnLinkClicked()
    {
        ++clicks;
        ShellExecuteA(m_hWnd, "open", "https://example.org/", nullptr, nullptr, SW_SHOWNORMAL);
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(InfoDlg, CDialog)
ON_WM_CTLCOLOR()
ON_STN_CLICKED(537, OnLinkClicked)
ON_STN_CLICKED(535, OnLinkClicked)
END_MESSAGE_MAP()

class MfcUiTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ferolt::hooks::InstallManualClock(5000);
        backend = std::make_unique<HeadlessBackend>();
        owner.CreateEx(0, AfxRegisterWndClass(0), "Ferolt", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                       RECT{0, 0, 400, 300}, nullptr, 0);
        backend->RunPending();
    }
    void TearDown() override
    {
        if (owner.m_hWnd) owner.DestroyWindow();
        backend->RunPending();
        EXPECT_EQ(backend->unanswered(), 0);
        backend.reset();
        ferolt::hooks::RemoveManualClock();
    }
    std::unique_ptr<HeadlessBackend> backend;
    RangeWnd owner;
};
} // namespace

TEST_F(MfcUiTest, ApplicationObject)
{
    EXPECT_EQ(AfxGetApp(), &theApp);
    EXPECT_STREQ(AfxGetApp()->m_pszAppName, "Ferolt");
    EXPECT_EQ(AfxGetInstanceHandle(), theApp.m_hInstance);
}

// Commands reach the range handlers with their id; ids outside every range are not handled.
TEST_F(MfcUiTest, CommandRangesAndRegisteredMessages)
{
    struct Case
    {
        UINT id;
        bool handled;
    };
    const Case cases[] = {{500, true}, {550, true}, {551, false}, {599, false},
                          {600, true}, {799, true}, {800, false}};
    for (const Case& c : cases)
    {
        owner.commands.clear();
        owner.PostMessage(WM_COMMAND, MAKEWPARAM(c.id, 0), 0);
        backend->RunPending();
        EXPECT_EQ(owner.commands, c.handled ? std::vector<UINT>{c.id} : std::vector<UINT>{}) << c.id;
    }
    EXPECT_EQ(owner.SendMessage(g_ping, 10, 0), 11);
}

TEST_F(MfcUiTest, PaintDcClipBoxAndCloseDetachesTheObject)
{
    RECT part{10, 20, 30, 40};
    owner.InvalidateRect(&part, FALSE);
    backend->RunPending();
    EXPECT_TRUE(EqualRect(&owner.clip, &part));
    HWND h = owner.m_hWnd;
    owner.PostMessage(WM_CLOSE);
    backend->RunPending();
    EXPECT_TRUE(owner.destroyed);
    EXPECT_EQ(owner.m_hWnd, nullptr); // the loop of the application ends on this
    EXPECT_FALSE(IsWindow(h));
    MSG m;
    EXPECT_FALSE(PeekMessageA(&m, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

TEST_F(MfcUiTest, CenterWindowOnTheMonitorOffTheOrigin)
{
    ferolt::win32::host::SetVirtualScreen({{RECT{0, 0, 1920, 1080}, {}}, {RECT{-1280, 0, 0, 1024}, {}}});
    owner.MoveWindow(-1200, 10, 400, 300);
    owner.CenterWindow();
    CRect r;
    owner.GetWindowRect(&r);
    EXPECT_EQ(r.left, -1280 + (1280 - 400) / 2);
    EXPECT_EQ(r.top, (1024 - 300) / 2);
    ferolt::win32::host::SetVirtualScreen({{RECT{0, 0, 1920, 1080}, {}}});
}

// "12" is taken; text that is not a whole number shows "Enter an integer.", the dialog stays
// open and the field has the focus again.
TEST_F(MfcUiTest, IntegerExchangeAcceptsOrRefuses)
{
    struct Case
    {
        const char* text;
        bool accepted;
        int value;
    };
    const Case cases[] = {
        {"12", true, 12},
        {" -3 ", true, -3},
        {"x", false, 0},
        {"", false, 0},
        {"1x", false, 0},
        {"99999999999", false, 0},
        {"2147483647", true, 2147483647},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.text);
        size_t boxes = backend->messageBoxes().size();
        int focusAfterRefusal = 0;
        std::vector<HeadlessBackend::DialogStep> steps{HeadlessBackend::SetText(520, c.text),
                                                       HeadlessBackend::Click(IDOK)};
        if (!c.accepted)
        {
            backend->AnswerMessageBox(IDOK);
            steps.push_back(
                [&](HWND dlg, ferolt::backend::ModalLoop&)
                {
                    focusAfterRefusal = GetDlgCtrlID(GetFocus());
                    EXPECT_TRUE(IsWindowVisible(dlg)); // still open
                    HWND edit = GetDlgItem(dlg, 520);
                    ferolt::win32::host::EditChanged(edit, "7");
                });
            steps.push_back(HeadlessBackend::Click(IDOK));
        }
        backend->AnswerDialog(steps);
        SizeDlg dlg(800, 600);
        dlg.keepAspect = false;
        EXPECT_EQ(dlg.DoModal(), IDOK);
        EXPECT_EQ(dlg.m_nHeight, 600);
        if (c.accepted)
        {
            EXPECT_EQ(dlg.m_nWidth, c.value);
            EXPECT_EQ(backend->messageBoxes().size(), boxes);
        }
        else
        {
            ASSERT_EQ(backend->messageBoxes().size(), boxes + 1);
            EXPECT_EQ(backend->messageBoxes().back().text, "Enter an integer.");
            EXPECT_EQ(focusAfterRefusal, 520);
            EXPECT_EQ(dlg.m_nWidth, 7);
        }
    }
}

TEST_F(MfcUiTest, KillFocusKeepsTheAspectAndListsExchangeIndices)
{
    int heightShown = 0;
    int formatShown = -2;
    backend->AnswerDialog(
        {HeadlessBackend::SetText(520, "1000"), HeadlessBackend::Focus(521),
         [&](HWND dlg, ferolt::backend::ModalLoop&)
         {
             BOOL ok = FALSE;
             heightShown = static_cast<int>(GetDlgItemInt(dlg, 521, &ok, TRUE));
             formatShown = static_cast<int>(SendDlgItemMessageA(dlg, 522, CB_GETCURSEL, 0, 0));
         },
         HeadlessBackend::Select(522, 0), HeadlessBackend::Select(523, 2), HeadlessBackend::Click(IDOK)});
    SizeDlg dlg(800, 600);
    ASSERT_EQ(dlg.DoModal(), IDOK);
    EXPECT_GE(dlg.killFocus, 1);
    EXPECT_EQ(heightShown, 750);
    EXPECT_EQ(formatShown, 1); // "JPEG (jpg)" at the start
    EXPECT_EQ(dlg.m_nWidth, 1000);
    EXPECT_EQ(dlg.m_nHeight, 750);
    EXPECT_EQ(dlg.m_nFormat, 0);
    EXPECT_EQ(dlg.m_nOversampling, 2);

    backend->AnswerDialog({HeadlessBackend::SetText(520, "5"), HeadlessBackend::Click(IDCANCEL)});
    SizeDlg cancelled(800, 600);
    EXPECT_EQ(cancelled.DoModal(), IDCANCEL);
}

TEST_F(MfcUiTest, InfoDialogBitmapUnderlinedLinkAndClicks)
{
    InfoDlg* seen = nullptr;
    uint32_t topLeft = 0, bottomLeft = 0;
    std::string version;
    LOGFONTA shownLinkFont{}; // the font the backend was told about, not only the one the layer keeps
    COLORREF linkColor = 0, versionColor = 0;
    backend->AnswerDialog({[&](HWND dlg, ferolt::backend::ModalLoop& loop)
                           {
                               HWND pic = GetDlgItem(dlg, 535);
                               loop.Pump(); // paints the picture
                               RECT r;
                               GetClientRect(pic, &r);
                               int x = (r.right - 4) / 2, y = (r.bottom - 2) / 2;
                               topLeft = backend->Pixel(pic, x, y);
                               bottomLeft = backend->Pixel(pic, x, y + 1);
                               char buf[64];
                               GetDlgItemTextA(dlg, 536, buf, sizeof buf);
                               version = buf;
                               auto link = backend->Window(GetDlgItem(dlg, 537));
                               if (link) GetObjectA(link->font, sizeof shownLinkFont, &shownLinkFont);
                               if (link) linkColor = link->textColor;
                               if (auto v = backend->Window(GetDlgItem(dlg, 536)))
                                   versionColor = v->textColor;
                           },
                           HeadlessBackend::Click(537), HeadlessBackend::Click(535),
                           HeadlessBackend::Click(IDOK)});
    InfoDlg dlg;
    seen = &dlg;
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(seen->clicks, 2);
    EXPECT_EQ(topLeft, 0xFFFF0000u);
    EXPECT_EQ(bottomLeft, 0xFF0000FFu);
    EXPECT_EQ(shownLinkFont.lfUnderline, TRUE);
    EXPECT_EQ(linkColor, RGB(0, 0, 255));
    EXPECT_EQ(versionColor, GetSysColor(COLOR_WINDOWTEXT));
    EXPECT_EQ(version, "Ferolt v1.1.0.0");
    EXPECT_EQ(dlg.linkFont.lfUnderline, TRUE);
    EXPECT_STREQ(dlg.linkFont.lfFaceName, "MS Shell Dlg");
    ASSERT_EQ(backend->shellOpened().size(), 2u);
    EXPECT_EQ(backend->shellOpened()[0], "https://example.org/");
}

TEST_F(MfcUiTest, ContextMenuFromResourcesPostsTheCommandAfterClosing)
{
    HMENU bar = LoadMenuA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(2001));
    ASSERT_NE(bar, nullptr);
    HMENU popup = GetSubMenu(bar, 0);
    ASSERT_NE(popup, nullptr);
    HMENU views = CreatePopupMenu();
    AppendMenuA(views, MF_STRING, 600, "Sichtpunkt");
    ASSERT_TRUE(
        InsertMenuA(popup, 0, MF_BYPOSITION | MF_POPUP, reinterpret_cast<UINT_PTR>(views), "Sichtpunkte"));
    CheckMenuItem(popup, 501, MF_CHECKED);
    EnableMenuItem(popup, 510, MF_GRAYED);

    std::vector<ferolt::backend::MenuItemModel> shown;
    backend->AnswerMenu(
        [&](const std::vector<ferolt::backend::MenuItemModel>& items, ferolt::backend::ModalLoop&)
        {
            shown = items;
            return 600u;
        });
    POINT at{50, 60};
    owner.ClientToScreen(&at);
    EXPECT_TRUE(TrackPopupMenu(popup, 0, at.x, at.y, 0, owner.m_hWnd, nullptr));
    EXPECT_TRUE(owner.commands.empty()); // not yet: it is posted
    backend->RunPending();
    EXPECT_EQ(owner.commands, std::vector<UINT>{600});

    ASSERT_EQ(shown.size(), 5u);
    EXPECT_EQ(shown[0].text, "Sichtpunkte");
    EXPECT_TRUE(shown[0].popup);
    EXPECT_EQ(shown[1].text, "Darstellung");
    ASSERT_EQ(shown[1].submenu.size(), 4u);
    EXPECT_TRUE(shown[1].submenu[1].checked);
    EXPECT_TRUE(shown[1].submenu[2].separator);
    EXPECT_TRUE(shown[1].submenu[3].grayed);
    EXPECT_EQ(shown[1].submenu[3].text, "Nachtansicht\tF3");
    EXPECT_TRUE(shown[4].grayed); // "Info..." is greyed in the resource

    // A greyed command cannot be chosen; dismissing chooses nothing.
    for (UINT answer : {533u, 0u})
    {
        backend->AnswerMenu(answer);
        EXPECT_FALSE(TrackPopupMenu(popup, 0, at.x, at.y, 0, owner.m_hWnd, nullptr));
        backend->RunPending();
        EXPECT_EQ(owner.commands, std::vector<UINT>{600});
    }
    DestroyMenu(bar);
}

TEST_F(MfcUiTest, MessageBoxYesNo)
{
    for (int answer : {IDYES, IDNO})
    {
        backend->AnswerMessageBox(answer);
        EXPECT_EQ(AfxMessageBox("Installieren?", MB_YESNO), answer);
    }
    backend->AnswerMessageBox(IDOK); // not a button of MB_YESNO: the default answer
    EXPECT_EQ(AfxMessageBox("Installieren?", MB_YESNO), IDNO);
    EXPECT_EQ(backend->messageBoxes().back().caption, "Ferolt");
}

TEST_F(MfcUiTest, FileDialogsExtensionFilterAndOverwritePrompt)
{
    std::string dir = testing::TempDir();
    std::string existing = dir + "ferolt_mfcui_existing.jpg";
    std::ofstream(existing) << "x";

    // Open: the filter's '|' become pairs; a name without extension gets the default one.
    backend->AnswerFileDialog(dir + "scene");
    CFileDialog open(TRUE, "tolvex", nullptr, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT,
                     "Objektdateien|*.tolvex|Alle Dateien|*.*||");
    ASSERT_EQ(open.DoModal(), IDOK);
    EXPECT_EQ(std::string(open.GetPathName()), dir + "scene.tolvex");
    EXPECT_EQ(std::string(open.GetFileExt()), "tolvex");
    const auto& req = backend->fileDialogs().back();
    ASSERT_EQ(req.filters.size(), 2u);
    EXPECT_EQ(req.filters[1].patterns, "*.*");
    EXPECT_FALSE(req.save);

    // Save over an existing file: "No" asks again, the second answer is taken.
    backend->AnswerFileDialog(existing);
    backend->AnswerMessageBox(IDNO);
    backend->AnswerFileDialog(dir + "fresh.bmp");
    CFileDialog save(FALSE, "jpg");
    ASSERT_EQ(save.DoModal(), IDOK);
    EXPECT_EQ(std::string(save.GetPathName()), dir + "fresh.bmp");

    backend->AnswerFileDialog(existing);
    backend->AnswerMessageBox(IDYES);
    CFileDialog again(FALSE, "jpg");
    ASSERT_EQ(again.DoModal(), IDOK);
    EXPECT_EQ(std::string(again.GetPathName()), existing);

    backend->AnswerFileDialog(std::nullopt);
    CFileDialog cancelled(FALSE, "jpg");
    EXPECT_EQ(cancelled.DoModal(), IDCANCEL);
    std::remove(existing.c_str());
}

TEST_F(MfcUiTest, WaitCursorNestsAndRestores)
{
    HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
    SetCursor(arrow);
    owner.BeginWaitCursor();
    owner.BeginWaitCursor();
    EXPECT_EQ(GetCursor(), LoadCursorA(nullptr, IDC_WAIT));
    owner.EndWaitCursor();
    EXPECT_EQ(GetCursor(), LoadCursorA(nullptr, IDC_WAIT));
    owner.EndWaitCursor();
    EXPECT_EQ(GetCursor(), arrow);
}

TEST_F(MfcUiTest, HelpAndShellReachTheBackendAndReturnAtOnce)
{
    EXPECT_NE(HtmlHelpA(owner.m_hWnd, "/tmp/qelso1.chm", HH_DISPLAY_TOPIC, 0), nullptr);
    EXPECT_EQ(backend->helpFiles(), std::vector<std::string>{"/tmp/qelso1.chm"});
    EXPECT_GT(reinterpret_cast<uintptr_t>(
                  ShellExecuteA(nullptr, nullptr, "https://example.org/x", nullptr, nullptr, SW_HIDE)),
              32u);
    EXPECT_LE(reinterpret_cast<uintptr_t>(ShellExecuteA(nullptr, nullptr, "", nullptr, nullptr, SW_HIDE)),
              32u);
}
