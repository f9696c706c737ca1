// What the viewer keeps in the registry: the file-type registration and the window placement.
#include "platform/win32/gdi_dc.h"
#include "platform/win32/winresource.h"
#include "platform/win32/winreg.h"
#include "viewer/viewer_app.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

extern char** environ;

namespace
{
constexpr REGSAM kAccess = KEY_READ | KEY_WRITE;
constexpr const char* kPlacementKey = "Software\\Quarzel Software GmbH\\Ferolt";
constexpr const char* kTypeName = "tolvex_file";
constexpr const char* kTypeDescription = "Quarzel 3D-Objekt";

HKEY CreateKey(HKEY parent, const char* name)
{
    HKEY key = nullptr;
    if (::RegCreateKeyExA(parent, name, 0, nullptr, REG_OPTION_NON_VOLATILE, kAccess, nullptr, &key,
                          nullptr) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

void SetString(HKEY key, const char* name, const std::string& text)
{
    ::RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                     static_cast<DWORD>(text.size() + 1));
}

void SetDword(HKEY key, const char* name, DWORD value)
{
    ::RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

bool GetDword(HKEY key, const char* name, DWORD* value)
{
    DWORD type = 0, size = sizeof(*value);
    return ::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) ==
               ERROR_SUCCESS &&
           type == REG_DWORD && size == sizeof(*value);
}

// Registry keys under the type: false when one of them cannot be made, as registration then stops.
bool WriteTypeKeys(const std::string& executable)
{
    HKEY extension = CreateKey(HKEY_CLASSES_ROOT, ".tolvex");
    if (!extension) return false;
    SetString(extension, nullptr, kTypeName);
    ::RegCloseKey(extension);

    HKEY type = CreateKey(HKEY_CLASSES_ROOT, kTypeName);
    if (!type) return false;
    SetString(type, nullptr, kTypeDescription);
    SetDword(type, "BrowserFlags", 8);
    SetDword(type, "EditFlags", 0);
    if (HKEY icon = CreateKey(type, "DefaultIcon"))
    {
        SetString(icon, nullptr, executable);
        ::RegCloseKey(icon);
    }
    bool complete = false;
    if (HKEY shell = CreateKey(type, "shell"))
    {
        if (HKEY open = CreateKey(shell, "Open"))
        {
            if (HKEY command = CreateKey(open, "command"))
            {
                SetString(command, nullptr, "\"" + executable + "\" \"%1\"");
                ::RegCloseKey(command);
                complete = true;
            }
            ::RegCloseKey(open);
        }
        ::RegCloseKey(shell);
    }
    ::RegCloseKey(type);
    return complete;
}

std::string DataHome()
{
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && xdg[0] == '/') return xdg;
    const char* home = std::getenv("HOME");
    if (!home || !*home) return std::string();
    return std::string(home) + "/.local/share";
}

bool MakeDirectories(const std::string& path)
{
    for (size_t pos = 1; pos <= path.size(); ++pos)
    {
        if (pos < path.size() && path[pos] != '/') continue;
        std::string part = path.substr(0, pos);
        if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    return true;
}

bool WriteText(const std::string& path, const std::string& text)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}

// A file of the program's desktop integration, compiled in from resources/viewer/desktop; empty when
// the program carries none.
std::string DesktopResource(const char* name)
{
    HMODULE module = ::GetModuleHandleA(nullptr);
    HRSRC found = ::FindResourceA(module, name, "Desktop");
    if (!found) return std::string();
    DWORD size = ::SizeofResource(module, found);
    HGLOBAL loaded = ::LoadResource(module, found);
    const char* bytes = loaded ? static_cast<const char*>(::LockResource(loaded)) : nullptr;
    return bytes ? std::string(bytes, size) : std::string();
}

// Runs a desktop database tool when it is installed; its absence or failure changes nothing.
void RunTool(const char* tool, const std::string& argument)
{
    const char* argv[] = {tool, argument.c_str(), nullptr};
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return;
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    if (posix_spawnp(&pid, tool, &actions, nullptr, const_cast<char* const*>(argv), environ) == 0)
    {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR)
        {
        }
    }
    posix_spawn_file_actions_destroy(&actions);
}
// A placement saved on another screen layout can be on the screen by the rules above and still have
// the title bar, the window's only handle for moving it, off every monitor: pull the rectangle until
// the whole height of the title bar and at least kReachableTitle pixels of its width lie on the
// nearest monitor's work area.
void KeepTitleBarReachable(RECT& r)
{
    constexpr LONG kReachableTitle = 100;
    HMONITOR monitor = ::MonitorFromRect(&r, MONITOR_DEFAULTTONEAREST);
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    if (!monitor || !::GetMonitorInfoA(monitor, &info)) return;
    const RECT& area = info.rcWork;
    const LONG titleHeight = ::GetSystemMetrics(SM_CYCAPTION) + ::GetSystemMetrics(SM_CYFRAME);
    const LONG reachable = std::min(kReachableTitle, r.right - r.left);
    LONG dx = 0, dy = 0;
    if (r.top < area.top)
        dy = area.top - r.top;
    else if (r.top + titleHeight > area.bottom)
        dy = area.bottom - titleHeight - r.top;
    if (r.right < area.left + reachable)
        dx = area.left + reachable - r.right;
    else if (r.left > area.right - reachable)
        dx = area.right - reachable - r.left;
    ::OffsetRect(&r, dx, dy);
}
} // namespace

namespace ferolt::viewer
{
std::string DesktopExecQuote(const std::string& path)
{
    // Inside the quotes '"', '`', '$' and '\' take a backslash; '%' is doubled for the field codes;
    // then the value's own escaping doubles every backslash.
    std::string quoted = "\"";
    for (char c : path)
    {
        if (c == '"' || c == '`' || c == '$')
            quoted += std::string("\\\\") + c;
        else if (c == '\\')
            quoted += "\\\\\\\\";
        else if (c == '%')
            quoted += "%%";
        else
            quoted += c;
    }
    return quoted + "\"";
}

std::string DesktopEntryFor(const std::string& executable)
{
    // The installed entry names the program on the path; this one names the file that runs.
    std::string entry = DesktopResource("Entry");
    size_t exec = entry.rfind("\nExec=");
    if (exec == std::string::npos) return std::string();
    size_t end = entry.find('\n', exec + 1);
    entry.replace(exec + 1, end == std::string::npos ? std::string::npos : end - exec - 1,
                  "Exec=" + DesktopExecQuote(executable) + " %f");
    return entry;
}

void RegisterDesktopFileType(const std::string& executable)
{
    std::string base = DataHome();
    if (base.empty() || executable.empty()) return;
    std::string mime = base + "/mime";
    std::string applications = base + "/applications";
    std::string mimeInfo = DesktopResource("MimeInfo");
    if (!mimeInfo.empty() && MakeDirectories(mime + "/packages") &&
        WriteText(mime + "/packages/ferolt-tolvex.xml", mimeInfo))
        RunTool("update-mime-database", mime);
    for (int size : {32, 48, 64, 128})
    {
        std::string icon = DesktopResource(("Icon" + std::to_string(size)).c_str());
        std::string folder =
            base + "/icons/hicolor/" + std::to_string(size) + "x" + std::to_string(size) + "/apps";
        if (!icon.empty() && MakeDirectories(folder)) WriteText(folder + "/ferolt.png", icon);
    }
    std::string entry = DesktopEntryFor(executable);
    if (!entry.empty() && MakeDirectories(applications) && WriteText(applications + "/ferolt.desktop", entry))
        RunTool("update-desktop-database", applications);
}

bool DesktopEntryIsStale(const std::string& executable)
{
    std::string base = DataHome();
    if (base.empty() || executable.empty()) return false;
    std::ifstream in(base + "/applications/ferolt.desktop", std::ios::binary);
    if (!in) return false; // removed by the user: it stays away
    std::string present((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string wanted = DesktopEntryFor(executable);
    return !wanted.empty() && present != wanted;
}
} // namespace ferolt::viewer

void RegisterFileAssociation()
{
    std::string executable = ferolt::viewer::ExecutablePath();
    HKEY existing = nullptr;
    if (::RegOpenKeyExA(HKEY_CLASSES_ROOT, kTypeName, 0, kAccess, &existing) == ERROR_SUCCESS)
    {
        ::RegCloseKey(existing);
        // The keys keep the first registration; the desktop entry follows the program when it moved.
        if (ferolt::viewer::DesktopEntryIsStale(executable))
            ferolt::viewer::RegisterDesktopFileType(executable);
        return;
    }
    WriteTypeKeys(executable);
    ferolt::viewer::RegisterDesktopFileType(executable);
}

void LoadWindowPlacement()
{
    g_bPlacementLoaded = false;
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, kPlacementKey, 0, kAccess, &key) != ERROR_SUCCESS) return;

    int screenWidth = 0, screenHeight = 0;
    if (HDC screen = ::GetDC(nullptr))
    {
        screenWidth = ::GetDeviceCaps(screen, HORZRES);
        screenHeight = ::GetDeviceCaps(screen, VERTRES);
        ::ReleaseDC(nullptr, screen);
    }

    RECT& r = g_rcMainWindow;
    DWORD value = 0;
    if (GetDword(key, "Position", &value))
    {
        // A position without a size keeps the current size: moving only the left and top edges
        // would give a negative width.
        LONG width = r.right - r.left, height = r.bottom - r.top;
        r.left = static_cast<LONG>(value & 0xFFFF);
        r.top = static_cast<LONG>(value >> 16);
        if (screenWidth > 0 && r.left >= screenWidth) r.left = 0;
        if (screenHeight > 0 && r.top >= screenHeight) r.top = 0;
        r.right = r.left + width;
        r.bottom = r.top + height;
        g_bPlacementLoaded = true;
    }
    if (GetDword(key, "Size", &value))
    {
        LONG width = static_cast<LONG>(value & 0xFFFF);
        LONG height = static_cast<LONG>(value >> 16);
        if (width < 300)
            width = 300;
        else if (screenWidth > 0 && width >= screenWidth)
            width = screenWidth;
        if (height < 225 || (screenHeight > 0 && height >= screenHeight))
            height = static_cast<LONG>(width * 3.0 * 0.25 + 0.5);
        r.right = r.left + width;
        r.bottom = r.top + height;
        g_bPlacementLoaded = true;
    }
    ::RegCloseKey(key);
    if (g_bPlacementLoaded) KeepTitleBarReachable(r);
}

void SaveWindowPlacement()
{
    HKEY key = CreateKey(HKEY_CURRENT_USER, kPlacementKey);
    if (!key) return;
    const RECT& r = g_rcMainWindow;
    SetDword(key, "Position",
             (static_cast<DWORD>(r.top) & 0xFFFF) << 16 | (static_cast<DWORD>(r.left) & 0xFFFF));
    SetDword(key, "Size",
             (static_cast<DWORD>(r.bottom - r.top) & 0xFFFF) << 16 |
                 (static_cast<DWORD>(r.right - r.left) & 0xFFFF));
    ::RegCloseKey(key);
}
