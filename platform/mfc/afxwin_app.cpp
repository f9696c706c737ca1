// The application object and the framework's global functions.
#include "platform/mfc/afxwin.h"

#include <vector>

namespace
{
CWinApp* g_app = nullptr;
int g_argc = 0;
char** g_argv = nullptr;

BOOL PumpOne()
{
    MSG msg;
    if (!::GetMessageA(&msg, nullptr, 0, 0)) return FALSE;
    CWinApp* app = g_app;
    // The window under the message gets the first look, as the original's pre-translation does.
    for (HWND h = msg.hwnd; h; h = ::GetParent(h))
        if (CWnd* w = CWnd::FromHandlePermanent(h))
            if (w->PreTranslateMessage(&msg)) return TRUE;
    (void)app;
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
    return TRUE;
}
} // namespace

CWinApp::CWinApp(LPCSTR appName)
{
    if (appName) appName_ = appName;
    m_pszAppName = appName_.empty() ? nullptr : appName_.c_str();
    m_bAutoDelete = FALSE;
    g_app = this;
    ferolt::mfc::SetMessagePump(PumpOne);
}

CWinApp::~CWinApp()
{
    if (g_app == this) g_app = nullptr;
}

BOOL CWinApp::InitInstance()
{
    return TRUE;
}
int CWinApp::Run()
{
    return CWinThread::Run();
}
int CWinApp::ExitInstance()
{
    return 0;
}

void CWinApp::ParseCommandLine(CCommandLineInfo& info)
{
    ferolt::mfc::ParseCommandLine(info, g_argc, g_argv);
}

HCURSOR CWinApp::LoadCursor(UINT id) const
{
    return ::LoadCursorA(m_hInstance, MAKEINTRESOURCEA(id));
}
HICON CWinApp::LoadIcon(UINT id) const
{
    return ::LoadIconA(m_hInstance, MAKEINTRESOURCEA(id));
}

void CWinApp::DoWaitCursor(int code)
{
    m_nWaitCursorCount += code;
    if (m_nWaitCursorCount < 0) m_nWaitCursorCount = 0;
    if (m_nWaitCursorCount > 0)
    {
        HCURSOR previous = ::SetCursor(::LoadCursorA(nullptr, IDC_WAIT));
        if (code > 0 && m_nWaitCursorCount == 1) m_hcurWaitCursorRestore = previous;
    }
    else if (code != 0)
    {
        ::SetCursor(m_hcurWaitCursorRestore);
    }
}

CWinApp* AfxGetApp()
{
    return g_app;
}
CWinThread* AfxGetThread()
{
    return g_app;
}
CWnd* AfxGetMainWnd()
{
    return g_app ? g_app->m_pMainWnd : nullptr;
}
HINSTANCE AfxGetInstanceHandle()
{
    return g_app ? g_app->m_hInstance : nullptr;
}
HINSTANCE AfxGetResourceHandle()
{
    return AfxGetInstanceHandle();
}

int AfxMessageBox(LPCSTR text, UINT type, UINT)
{
    CWnd* main = AfxGetMainWnd();
    HWND owner = main ? main->m_hWnd : ::GetActiveWindow();
    LPCSTR caption = g_app && g_app->m_pszAppName ? g_app->m_pszAppName : "";
    return ::MessageBoxA(owner, text, caption, type);
}

int AfxMessageBox(UINT promptId, UINT type, UINT)
{
    CString text;
    text.LoadString(promptId);
    return AfxMessageBox(static_cast<LPCSTR>(text), type, 0);
}

int AfxWinMain(int argc, char** argv)
{
    g_argc = argc;
    g_argv = argv;
    CWinApp* app = g_app;
    if (!app) return -1;
    if (!app->InitInstance()) return app->ExitInstance();
    return app->Run();
}
