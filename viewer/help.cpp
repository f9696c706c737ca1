// F1: the help file the program carries is written to a temporary file and shown in the help window.
#include <cstdio>
#include <cstring>
#include <string>

#include "viewer/tolvex_control.h"
#include "viewer/viewer_resource.h"

void CTolvexControl3D::ShowHelp()
{
    if (!AfxGetApp()) return;
    HINSTANCE instance = AfxGetInstanceHandle();
    HRSRC found = ::FindResourceA(instance, MAKEINTRESOURCEA(IDR_HELP_FILE), "HelpFile");
    HGLOBAL loaded = found ? ::LoadResource(instance, found) : nullptr;
    const DWORD size = found ? ::SizeofResource(instance, found) : 0;
    const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
    if (!bytes || size == 0) return;

    char directory[MAX_PATH] = {};
    char tempName[MAX_PATH] = {};
    if (!::GetTempPathA(MAX_PATH, directory) || !::GetTempFileNameA(directory, "qelso", 0, tempName)) return;
    // Only the extension the temporary name was given is replaced: a folder whose name holds ".tmp"
    // must stay as it is.
    std::string helpName = tempName;
    const size_t length = helpName.size();
    if (length >= 4 && helpName.compare(length - 4, 4, ".tmp") == 0) helpName.replace(length - 4, 4, ".chm");

    if (FILE* file = std::fopen(helpName.c_str(), "wb"))
    {
        const bool written = std::fwrite(bytes, size, 1, file) == 1;
        if (std::fclose(file) == 0 && written) ::HtmlHelpA(m_hWnd, helpName.c_str(), HH_DISPLAY_TOPIC, 0);
        ::DeleteFileA(helpName.c_str());
    }
    ::DeleteFileA(tempName);
}
