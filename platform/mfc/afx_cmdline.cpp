// Command-line parsing.
#include "platform/mfc/afx_cmdline.h"

#include <strings.h>

void CCommandLineInfo::ParseParam(const char* param, BOOL flag, BOOL last)
{
    if (flag)
        ParseParamFlag(param);
    else
        ParseParamNotFlag(param);
    ParseLast(last);
}

void CCommandLineInfo::ParseParamFlag(const char* param)
{
    if (strcasecmp(param, "pt") == 0)
        m_nShellCommand = FilePrintTo;
    else if (strcasecmp(param, "p") == 0)
        m_nShellCommand = FilePrint;
    else if (strcasecmp(param, "Register") == 0 || strcasecmp(param, "Regserver") == 0)
        m_nShellCommand = AppRegister;
    else if (strcasecmp(param, "Unregister") == 0 || strcasecmp(param, "Unregserver") == 0)
        m_nShellCommand = AppUnregister;
    else if (strcasecmp(param, "dde") == 0)
        m_nShellCommand = FileDDE;
    else if (strcasecmp(param, "Embedding") == 0)
    {
        m_bRunEmbedded = TRUE;
        m_bShowSplash = FALSE;
    }
    else if (strcasecmp(param, "Automation") == 0)
    {
        m_bRunAutomated = TRUE;
        m_bShowSplash = FALSE;
    }
}

void CCommandLineInfo::ParseParamNotFlag(const char* param)
{
    if (m_strFileName.IsEmpty())
        m_strFileName = param;
    else if (m_nShellCommand == FilePrintTo && m_strPrinterName.IsEmpty())
        m_strPrinterName = param;
    else if (m_nShellCommand == FilePrintTo && m_strDriverName.IsEmpty())
        m_strDriverName = param;
    else if (m_nShellCommand == FilePrintTo && m_strPortName.IsEmpty())
        m_strPortName = param;
}

void CCommandLineInfo::ParseLast(BOOL last)
{
    if (last && m_nShellCommand == FileNew && !m_strFileName.IsEmpty()) m_nShellCommand = FileOpen;
}

namespace ferolt::mfc
{
void ParseCommandLine(CCommandLineInfo& info, int argc, const char* const* argv)
{
    bool filesOnly = false;
    for (int i = 1; i < argc; ++i)
    {
        const char* argument = argv[i] ? argv[i] : "";
        bool last = i + 1 == argc;
        if (!filesOnly && argument[0] == '-' && argument[1] == '-' && argument[2] == '\0')
        {
            filesOnly = true;
            if (last) info.ParseParam("", FALSE, TRUE); // nothing follows: only ends the command line
            continue;
        }
        bool flag = !filesOnly && argument[0] == '-' && argument[1] != '\0';
        const char* text = argument;
        if (flag) text += argument[1] == '-' ? 2 : 1;
        info.ParseParam(text, flag ? TRUE : FALSE, last ? TRUE : FALSE);
    }
}
} // namespace ferolt::mfc
