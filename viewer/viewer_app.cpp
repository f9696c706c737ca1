// The application object: start-up, the message loop and shut-down.
#include "viewer/viewer_app.h"

#include "engine/engine_api.h"
#include "platform/d3dx9/d3dx9mesh.h"
#include "platform/gdiplus/gdiplus.h"
#include "platform/win32/builtin_modules.h"
#include "platform/win32/user_shell.h"
#include "viewer/tolvex_control.h"
#include "viewer/viewer_resource.h"

#include <cstdio>
#include <mutex>

InternetControlApp theApp;

RECT g_rcMainWindow = {0, 0, 300, 225};
bool g_bDirectXMissing = false;
bool g_bPlacementChanged = false;
bool g_bPlacementLoaded = false;

namespace
{
std::string g_executableOverride;

// D3DX is bound on first use, as a delay-loaded library would be: its absence (or a missing entry
// point) shows at the probe instead of keeping the program from starting.
constexpr const char* kD3DXModule = "d3dx9_42.dll";

void RegisterD3DXModule()
{
    static std::once_flag once;
    std::call_once(once,
                   []
                   {
                       ferolt::win32::RegisterBuiltinModule(
                           kD3DXModule, {ferolt::win32::Export("D3DXCreateMeshFVF", &D3DXCreateMeshFVF)});
                   });
}

using CreateMeshFVFProc = HRESULT(WINAPI*)(DWORD, DWORD, DWORD, DWORD, LPDIRECT3DDEVICE9, LPD3DXMESH*);

// The delay-load helper's view of the first call: the exception code it would raise, 0 when bound.
DWORD BindD3DX(CreateMeshFVFProc* proc)
{
    RegisterD3DXModule();
    HMODULE module = ::LoadLibraryA(kD3DXModule);
    if (!module) return kDelayLoadModuleNotFound;
    *proc = reinterpret_cast<CreateMeshFVFProc>(::GetProcAddress(module, "D3DXCreateMeshFVF"));
    return *proc ? 0 : kDelayLoadProcNotFound;
}

HRESULT ProbeD3DX()
{
    CreateMeshFVFProc create = nullptr;
    DWORD code = BindD3DX(&create);
    // Binding raises only the two codes that the guard's filter takes: the probe has failed.
    if (code != 0) return DelayLoadExceptionFilter(code) == kExceptionExecuteHandler ? E_FAIL : E_UNEXPECTED;
    create(0, 0, 0, 0, nullptr, nullptr);
    return S_OK;
}
} // namespace

int DelayLoadExceptionFilter(DWORD exceptionCode)
{
    return exceptionCode == kDelayLoadModuleNotFound || exceptionCode == kDelayLoadProcNotFound
               ? kExceptionExecuteHandler
               : kExceptionContinueSearch;
}

void __stdcall IgnoreGdiplusDebugEvent(int, const char*) {}

InternetControlApp::InternetControlApp() : CWinApp(nullptr) {}

BOOL InternetControlApp::InitInstance()
{
    m_hInstance = ::GetModuleHandleA(nullptr);

    Gdiplus::GdiplusStartupInput input;
    input.GdiplusVersion = 1;
    input.DebugEventCallback = reinterpret_cast<void*>(&IgnoreGdiplusDebugEvent);
    Gdiplus::GdiplusStartup(&m_gdiplusToken, &input, nullptr);

    if (LRStart(nullptr) < 0)
        g_bDirectXMissing = true;
    else if (FAILED(ProbeD3DX()))
        g_bDirectXMissing = true;

    RegisterFileAssociation();
    ParseCommandLine(m_cmdInfo);
    return TRUE;
}

int InternetControlApp::Run()
{
    // Only a window that the user closed counts as success: a missing engine, a window that could not
    // be made and a start file that closed the window report failure.
    int exitCode = 1;
    {
        CTolvexControl3D window;
        CString extracted;
        RECT ownerRect{0, 0, 0, 0};

        if (g_bDirectXMissing)
        {
            ShowDirectXMissing();
        }
        else
        {
            CString startFile;
            if (ExtractEmbeddedObject(CString(), extracted))
                startFile = extracted;
            else
                startFile = m_cmdInfo.m_strFileName;
            if (!startFile.IsEmpty()) window.SetFile(startFile);

            LoadWindowPlacement();
            LPCSTR windowClass = AfxRegisterWndClass(0, nullptr, nullptr, nullptr);
            if (window.CreateEx(0, windowClass, "Ferolt", 0x10CF0000, g_rcMainWindow, nullptr, 0, nullptr))
            {
                if (!g_bPlacementLoaded) window.CenterWindow(nullptr);
                ownerRect = g_rcMainWindow;
                window.m_pOwnerRect = &ownerRect;
                // Only the window's end ends the loop: a quit message does not.
                while (window.m_hWnd)
                    PumpMessage();
                if (!::EqualRect(&ownerRect, &g_rcMainWindow))
                {
                    g_rcMainWindow = ownerRect;
                    g_bPlacementChanged = true;
                }
                if (window.m_startFailure == CTolvexControl3D::LoadFailure::None)
                    exitCode = 0;
                else
                    std::fprintf(stderr, "ferolt: %s: %s\n", startFile.GetString(),
                                 CTolvexControl3D::LoadFailureText(window.m_startFailure));
            }
        }
        ExitInstance();
    }
    return exitCode;
}

int InternetControlApp::ExitInstance()
{
    if (g_bPlacementChanged) SaveWindowPlacement();
    LRStop();
    Gdiplus::GdiplusShutdown(m_gdiplusToken);
    m_gdiplusToken = 0;
    CWinApp::ExitInstance();
    return 0;
}

void ShowDirectXMissing()
{
    if (AfxMessageBox(IDS_DIRECTX_MISSING, MB_YESNO) != IDYES) return;
    CString address;
    address.LoadString(IDS_DIRECTX_DOWNLOAD);
    ::ShellExecuteA(nullptr, nullptr, address, nullptr, nullptr, SW_HIDE);
}

namespace ferolt::viewer
{
std::string ExecutablePath()
{
    if (!g_executableOverride.empty()) return g_executableOverride;
    // Longer than the original's 260 characters: a cut path would register a wrong command.
    char path[4096] = {};
    DWORD length = ::GetModuleFileNameA(nullptr, path, sizeof(path));
    return length > 0 && length < sizeof(path) ? std::string(path, length) : std::string();
}

void SetExecutablePathForTests(const std::string& path)
{
    g_executableOverride = path;
}

void ResetProcessStateForTests()
{
    g_rcMainWindow = {0, 0, 300, 225};
    g_bDirectXMissing = false;
    g_bPlacementChanged = false;
    g_bPlacementLoaded = false;
    theApp.m_cmdInfo.m_strFileName = CString();
}
} // namespace ferolt::viewer
