#pragma once
// The application object and the services of start-up and shut-down: file-type registration, the
// stored window placement, the DirectX question and the object appended to the executable.
#include "platform/mfc/afxwin.h"

#include <cstdint>
#include <string>

class InternetControlApp : public CWinApp
{
public:
    InternetControlApp();

    // Starts GDI+ and the engine, registers the file type and reads the command line; no window.
    BOOL InitInstance() override;
    // Shows the start file in the main window until the window is gone; the exit code is always 1.
    int Run() override;
    int ExitInstance() override;

    CCommandLineInfo m_cmdInfo;
    ULONG_PTR m_gdiplusToken = 0;
};

extern InternetControlApp theApp;

extern RECT g_rcMainWindow;
extern bool g_bDirectXMissing;
extern bool g_bPlacementChanged;
extern bool g_bPlacementLoaded;

// The footer that ends an executable carrying an object file: offset, size, magic (u32 each).
constexpr uint32_t kEmbeddedObjectMagic = 0x717A5631;
constexpr uint32_t kEmbeddedFooterSize = 12;

void RegisterFileAssociation();
void LoadWindowPlacement();
void SaveWindowPlacement();
void ShowDirectXMissing();
// True when `executable` (empty: this program) ends with an object; it is copied to a new temporary
// file named in `outputPath`, which stays after the program ends.
bool ExtractEmbeddedObject(const CString& executable, CString& outputPath);
void __stdcall IgnoreGdiplusDebugEvent(int level, const char* message);

// Delay-load failures of a missing library or procedure, answered by the D3DX probe's guard.
constexpr DWORD kDelayLoadModuleNotFound = 0xC06D007E;
constexpr DWORD kDelayLoadProcNotFound = 0xC06D007F;
constexpr int kExceptionExecuteHandler = 1;
constexpr int kExceptionContinueSearch = 0;
int DelayLoadExceptionFilter(DWORD exceptionCode);

namespace ferolt::viewer
{
// The module file name of this program, as the registration and the embedded object read it.
std::string ExecutablePath();
// Tests: another file stands for the executable (empty: the real one).
void SetExecutablePathForTests(const std::string& path);
// Tests: the process-wide state back to its values at program start, for a further start.
void ResetProcessStateForTests();

// The freedesktop side of the registration: a MIME type for "*.tolvex", the icons and a desktop entry
// that opens such files with `executable`, under $XDG_DATA_HOME (else ~/.local/share). The desktop
// databases are updated when their tools are installed; nothing here fails the program.
void RegisterDesktopFileType(const std::string& executable);
// The installed desktop entry with its Exec line naming `executable`; empty without the resources.
std::string DesktopEntryFor(const std::string& executable);
// True when a desktop entry is present and differs from the one for `executable` (the program moved).
bool DesktopEntryIsStale(const std::string& executable);
// The Exec line's program argument: quoted and escaped as the desktop entry format asks.
std::string DesktopExecQuote(const std::string& path);
} // namespace ferolt::viewer
