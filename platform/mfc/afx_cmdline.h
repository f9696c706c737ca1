#pragma once
// The framework's command-line record and its parsing. On Linux an argument starting with '/' is a path;
// flags start with '-' ("-x", "--name"); after "--" every argument is a file. The first file argument
// becomes m_strFileName.
#include "platform/mfc/afx_object.h"
#include "platform/mfc/afx_string.h"

class CCommandLineInfo : public CObject
{
public:
    enum
    {
        FileNew = 0,
        FileOpen = 1,
        FilePrint = 2,
        FilePrintTo = 3,
        FileDDE = 4,
        AppRegister = 5,
        AppUnregister = 6,
        RestartByRestartManager = 7,
        FileNothing = -1,
    };

    CCommandLineInfo() = default;
    // One argument: pszParam without its leading '-' when it is a flag. bLast marks the final argument.
    virtual void ParseParam(const char* param, BOOL flag, BOOL last);

    BOOL m_bShowSplash = TRUE;
    BOOL m_bRunEmbedded = FALSE;
    BOOL m_bRunAutomated = FALSE;
    BOOL m_bRegisterPerUser = FALSE;
    int m_nShellCommand = FileNew;
    CString m_strFileName;
    CString m_strPrinterName;
    CString m_strDriverName;
    CString m_strPortName;

protected:
    void ParseParamFlag(const char* param);
    void ParseParamNotFlag(const char* param);
    void ParseLast(BOOL last);
};

namespace ferolt::mfc
{
// What CWinApp::ParseCommandLine does, over the program's arguments (argv[0] is the program and skipped).
void ParseCommandLine(CCommandLineInfo& info, int argc, const char* const* argv);
} // namespace ferolt::mfc
