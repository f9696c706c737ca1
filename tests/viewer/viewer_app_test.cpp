// Start-up and shut-down of the viewer, run headless in this process: the registry hive, the XDG data
// directory and the temporary directory point into a fresh folder per test, the clock is manual, and a
// scripted backend acts as the user while the application's own message loop runs.
#include "engine/core/material.h"
#include "engine/engine_api.h"
#include "platform/backends/headless/headless_backend.h"
#include "platform/win32/gdi_dc.h"
#include "platform/win32/kernel_hooks.h"
#include "platform/win32/user_host.h"
#include "platform/win32/winreg.h"
#include "tests/support/animation_writer.h"
#include "tests/support/default_gradient.h"
#include "tests/support/environment_record_writer.h"
#include "tests/support/geometry_block_encoder.h"
#include "tests/support/object_file_writer.h"
#include "tests/support/sample_object_file.h"
#include "tests/support/viewer_program_folder.h"
#include "viewer/tolvex_control.h"
#include "viewer/viewer_app.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using ferolt::test::Bytes;

namespace
{
// Acts as the user: each time the loop waits for input, the next step runs with the viewer's window.
// When the steps are used up the window is closed, so a test never hangs on a window left open.
class ScriptedBackend : public ferolt::backend::HeadlessBackend
{
public:
    using Step = std::function<void(HWND window)>;
    std::deque<Step> steps;
    bool closedByScriptEnd = false;
    int windowsCreated = 0;

    void WindowCreated(HWND hwnd, const ferolt::backend::WindowState& state) override
    {
        if (!state.parent && state.title == "Ferolt") ++windowsCreated;
        HeadlessBackend::WindowCreated(hwnd, state);
    }

    void WaitForEvents(int timeoutMs) override
    {
        HWND window = ::FindWindowA(nullptr, "Ferolt");
        if (window && !steps.empty())
        {
            Step step = std::move(steps.front());
            steps.pop_front();
            step(window);
            return;
        }
        if (window && steps.empty() && ++idleWaits_ > kIdleWaitLimit)
        {
            closedByScriptEnd = true;
            ferolt::win32::host::CloseRequested(window);
            return;
        }
        HeadlessBackend::WaitForEvents(timeoutMs);
    }

private:
    static constexpr int kIdleWaitLimit = 50;
    int idleWaits_ = 0;
};

Bytes ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const fs::path& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes Footer(uint32_t offset, uint32_t size, uint32_t magic = kEmbeddedObjectMagic)
{
    ferolt::test::ByteWriter w;
    w.U32(offset).U32(size).U32(magic);
    return w.Data();
}

std::optional<std::string> RegistryString(HKEY root, const char* path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
    char buffer[4096] = {};
    DWORD type = 0, size = sizeof(buffer);
    LSTATUS status = RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ) return std::nullopt;
    return std::string(buffer);
}

std::optional<DWORD> RegistryDword(HKEY root, const char* path, const char* name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
    DWORD value = 0, type = 0, size = sizeof(value);
    LSTATUS status = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_DWORD) return std::nullopt;
    return value;
}

void SetPlacementValue(const char* name, DWORD value)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Quarzel Software GmbH\\Ferolt", 0, nullptr, 0,
                              KEY_READ | KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    RegCloseKey(key);
}

constexpr const char* kPlacementKey = "Software\\Quarzel Software GmbH\\Ferolt";

class ViewerStartTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "_" + info->name();
        for (char& c : name)
            if (c == '/') c = '_';
        // No object appended unless a test says so: the stand-in executable carries none.
        folder_.emplace("ferolt_viewer_" + std::to_string(::getpid()) + "_" + name);
        root_ = folder_->Root();
        hive_ = folder_->Hive();
        ferolt::hooks::InstallManualClock(1000);
    }

    void TearDown() override
    {
        ferolt::hooks::RemoveManualClock();
        ferolt::hooks::ResetMissingModules();
        folder_.reset();
    }

    // One start of the program with these arguments; the backend's steps play the user.
    int Start(ScriptedBackend& backend, std::vector<std::string> args = {})
    {
        (void)backend;
        ferolt::viewer::ResetProcessStateForTests();
        std::vector<std::string> all = {"ferolt"};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        return AfxWinMain(static_cast<int>(all.size()), argv.data());
    }

    std::vector<fs::path> TemporaryObjects() const
    {
        std::vector<fs::path> found;
        for (const auto& entry : fs::directory_iterator(root_ / "tmp"))
            if (entry.path().extension() == ".tolvex") found.push_back(entry.path());
        return found;
    }

    std::optional<ferolt::test::ViewerProgramFolder> folder_;
    fs::path root_;
    std::string hive_;
};

CTolvexControl3D* ViewerWindow(HWND hwnd)
{
    return dynamic_cast<CTolvexControl3D*>(CWnd::FromHandlePermanent(hwnd));
}

// ---------------------------------------------------------------------------------------------------

TEST_F(ViewerStartTest, FirstStartRegistersTypeAndPlacementSurvivesARestart)
{
    RECT created{};
    {
        ScriptedBackend backend;
        int cursorsLoaded = 0, whitePixels = -1, clientPixels = 0;
        backend.steps.push_back(
            [&](HWND w)
            {
                GetWindowRect(w, &created);
                // No scene: the client area is painted white.
                std::vector<uint32_t> pixels;
                int width = 0, height = 0;
                backend.ReadPixels(w, &pixels, &width, &height);
                whitePixels = static_cast<int>(std::count_if(
                    pixels.begin(), pixels.end(), [](uint32_t p) { return (p & 0xFFFFFF) == 0xFFFFFF; }));
                clientPixels = width * height;
                if (CTolvexControl3D* viewer = ViewerWindow(w))
                    for (HCURSOR cursor : viewer->m_hCursors)
                        cursorsLoaded += cursor != nullptr;
            });
        backend.steps.push_back(
            [](HWND w)
            {
                RECT client{50, 60, 550, 460};
                ferolt::win32::host::WindowMovedByUser(w, client);
            });
        backend.steps.push_back([](HWND w) { ferolt::win32::host::CloseRequested(w); });
        EXPECT_EQ(Start(backend), 0);
        EXPECT_FALSE(backend.closedByScriptEnd);
        EXPECT_EQ(backend.windowsCreated, 1);
        EXPECT_TRUE(backend.messageBoxes().empty());
        EXPECT_EQ(cursorsLoaded, CTolvexControl3D::kCursorCount); // the arrow and the 15 resource cursors
        EXPECT_GT(clientPixels, 0);
        EXPECT_EQ(whitePixels, clientPixels);
    }
    // Nothing stored: the default 300 x 225, centred on the 1920 x 1080 screen.
    EXPECT_EQ(created.right - created.left, 300);
    EXPECT_EQ(created.bottom - created.top, 225);
    EXPECT_EQ(created.left, (1920 - 300) / 2);

    ferolt::hooks::ReloadRegistry();
    std::string exe = (root_ / "ferolt").string();
    struct Expected
    {
        const char* key;
        std::string value;
    } strings[] = {
        {".tolvex", "tolvex_file"},
        {"tolvex_file", "Quarzel 3D-Objekt"},
        {"tolvex_file\\DefaultIcon", exe},
        {"tolvex_file\\shell\\Open\\command", "\"" + exe + "\" \"%1\""},
    };
    for (const Expected& e : strings)
        EXPECT_EQ(RegistryString(HKEY_CLASSES_ROOT, e.key), e.value) << e.key;
    EXPECT_EQ(RegistryDword(HKEY_CLASSES_ROOT, "tolvex_file", "BrowserFlags"), 8u);
    EXPECT_EQ(RegistryDword(HKEY_CLASSES_ROOT, "tolvex_file", "EditFlags"), 0u);
    EXPECT_TRUE(fs::exists(root_ / "data/mime/packages/ferolt-tolvex.xml"));
    fs::path desktop = root_ / "data/applications/ferolt.desktop";
    ASSERT_TRUE(fs::exists(desktop));

    // The window rectangle of the resize, saved at exit.
    std::optional<DWORD> position = RegistryDword(HKEY_CURRENT_USER, kPlacementKey, "Position");
    std::optional<DWORD> size = RegistryDword(HKEY_CURRENT_USER, kPlacementKey, "Size");
    ASSERT_TRUE(position && size);
    RECT saved{static_cast<LONG>(*position & 0xFFFF), static_cast<LONG>(*position >> 16), 0, 0};
    saved.right = saved.left + static_cast<LONG>(*size & 0xFFFF);
    saved.bottom = saved.top + static_cast<LONG>(*size >> 16);
    EXPECT_GT(saved.right - saved.left, 500 - 1);
    EXPECT_GT(saved.bottom - saved.top, 400 - 1);

    // A second start: the window comes back where it was left, nothing is registered again (the
    // removed desktop entry stays away) and, without a resize, the hive is not written.
    fs::remove(desktop);
    Bytes hiveBefore = ReadFile(hive_);
    RECT restored{};
    {
        ScriptedBackend backend;
        backend.steps.push_back([&](HWND w) { GetWindowRect(w, &restored); });
        backend.steps.push_back([](HWND w) { ferolt::win32::host::CloseRequested(w); });
        EXPECT_EQ(Start(backend), 0);
    }
    EXPECT_TRUE(EqualRect(&restored, &saved));
    EXPECT_FALSE(fs::exists(desktop));
    EXPECT_EQ(ReadFile(hive_), hiveBefore);
}

// A start file that does not load closes the window on the first timer tick; the program shows no
// message, says on standard error which file failed and why, and reports the failure in its exit code.
TEST_F(ViewerStartTest, StartFileThatDoesNotLoadEndsTheProgramWithItsReason)
{
    using ferolt::test::kViewerContentType;
    ferolt::test::ObjectFileHeaderFields viewerHeader;
    viewerHeader.contentType = kViewerContentType;
    ferolt::test::ObjectFileWriter headerOnly(viewerHeader);
    const Bytes sample = ferolt::test::SampleObjectFile(kViewerContentType, true);
    const Bytes overLimit =
        ferolt::test::ObjectFileWriter(viewerHeader)
            .Section(ferolt::test::kSectionBzip2, 0xFFFFFFFFu, ferolt::test::Bzip2(Bytes(8, 0)))
            .Data();
    struct Case
    {
        const char* name;
        std::optional<Bytes> content; // nullopt: the file does not exist
        const char* reason;
        bool directory = false;
    } cases[] = {
        {"missing", std::nullopt, "not found"},
        {"a directory", std::nullopt, "not readable", true},
        {"empty", Bytes{}, "not an object file"},
        {"not an object file", Bytes(200, 0x5A), "not an object file"},
        {"76 bytes only", headerOnly.Data(), "damaged"},
        {"cut inside the header", Bytes(sample.begin(), sample.begin() + 50), "damaged"},
        {"cut inside its section", Bytes(sample.begin(), sample.begin() + sample.size() / 2), "damaged"},
        {"a section declaring 4 GiB", overLimit, "over a limit"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        fs::path file = root_ / "start.tolvex";
        fs::remove_all(file);
        if (c.content) WriteFile(file, *c.content);
        if (c.directory) fs::create_directory(file);
        ScriptedBackend backend;
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(Start(backend, {file.string()}), 1);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                  "ferolt: " + file.string() + ": " + c.reason + "\n");
        EXPECT_EQ(backend.windowsCreated, 1);
        EXPECT_FALSE(backend.closedByScriptEnd);
        EXPECT_TRUE(backend.messageBoxes().empty());
        EXPECT_EQ(FindWindowA(nullptr, "Ferolt"), nullptr);
    }

    // The file that does load: a normal close is a success, and nothing is said.
    fs::remove_all(root_ / "start.tolvex");
    WriteFile(root_ / "start.tolvex", sample);
    ScriptedBackend backend;
    backend.steps.push_back([](HWND w) { ferolt::win32::host::CloseRequested(w); });
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(Start(backend, {(root_ / "start.tolvex").string()}), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST_F(ViewerStartTest, EmbeddedObjectWinsOverTheCommandLineAndItsCopyStays)
{
    Bytes object = ferolt::test::ObjectFileWriter().Data();
    Bytes executable(100, 0x90);
    uint32_t offset = static_cast<uint32_t>(executable.size());
    executable.insert(executable.end(), object.begin(), object.end());
    Bytes footer = Footer(offset, static_cast<uint32_t>(object.size()));
    executable.insert(executable.end(), footer.begin(), footer.end());
    WriteFile(root_ / "ferolt", executable);
    fs::path named = root_ / "named.tolvex";
    WriteFile(named, object);

    std::string startFile;
    {
        ScriptedBackend backend;
        backend.steps.push_back(
            [&](HWND w)
            {
                if (CTolvexControl3D* viewer = ViewerWindow(w)) startFile = viewer->m_strStartFile.str();
            });
        EXPECT_EQ(Start(backend, {named.string()}), 1); // not of the viewer's content type
    }
    std::vector<fs::path> copies = TemporaryObjects();
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(startFile, copies[0].string());
    EXPECT_EQ(copies[0].filename().string().rfind("tolvex_tmpobj", 0), 0u);
    EXPECT_EQ(ReadFile(copies[0]), object);
}

// The DirectX question replaces the window; Yes hands the address of string 102 to the shell.
TEST_F(ViewerStartTest, MissingDirectXAsksInsteadOfOpeningAWindow)
{
    struct Case
    {
        const char* missingModule;
        int answer;
        bool opensAddress;
    } cases[] = {
        {"d3dx9_42.dll", IDNO, false},
        {"d3dx9_42.dll", IDYES, true},
        {"d3d9.dll", IDNO, false},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(std::string(c.missingModule) + (c.answer == IDYES ? " yes" : " no"));
        ferolt::hooks::ResetMissingModules();
        ferolt::hooks::SetModuleMissing(c.missingModule, true);
        ScriptedBackend backend;
        backend.AnswerMessageBox(c.answer);
        EXPECT_EQ(Start(backend), 1);
        EXPECT_EQ(backend.windowsCreated, 0);
        ASSERT_EQ(backend.messageBoxes().size(), 1u);
        EXPECT_EQ(backend.messageBoxes()[0].text,
                  "Einige für die Ausführung diese Viewers benötigte DirectX Komponenten fehlen auf Ihrem "
                  "System.\r\nMöchten Sie diese jetzt installieren?");
        EXPECT_EQ(backend.messageBoxes()[0].type & 0xF, static_cast<uint32_t>(MB_YESNO));
        EXPECT_EQ(backend.shellOpened().size(), c.opensAddress ? 1u : 0u);
    }
}

// ---------------------------------------------------------------------------------------------------

TEST_F(ViewerStartTest, EmbeddedObjectFooterIsCheckedAgainstTheFile)
{
    Bytes object = {1, 2, 3, 4, 5, 6, 7};
    struct Case
    {
        const char* name;
        Bytes footer;
        bool found;
    } cases[] = {
        {"object before the footer", Footer(3, 7), true},
        {"empty object", Footer(3, 0), true},
        {"no magic", Footer(3, 7, 0x12345678), false},
        {"offset past the end", Footer(500, 1), false},
        {"size past the end", Footer(3, 8), false},
        {"size reaching into the footer", Footer(3, 9), false},
        {"offset and size overflowing", Footer(0xFFFFFFF0u, 0x20), false},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        Bytes file = {0xAA, 0xBB, 0xCC};
        file.insert(file.end(), object.begin(), object.end());
        file.insert(file.end(), c.footer.begin(), c.footer.end());
        fs::path exe = root_ / "carrier";
        WriteFile(exe, file);
        for (const fs::path& p : TemporaryObjects())
            fs::remove(p);
        CString out;
        EXPECT_EQ(ExtractEmbeddedObject(CString(exe.c_str()), out), c.found);
        if (!c.found)
        {
            EXPECT_TRUE(TemporaryObjects().empty());
            continue;
        }
        uint32_t size = c.footer[4] | c.footer[5] << 8;
        EXPECT_EQ(ReadFile(out.str()), Bytes(object.begin(), object.begin() + size));
    }
    CString out;
    EXPECT_FALSE(ExtractEmbeddedObject(CString((root_ / "absent").c_str()), out));
    WriteFile(root_ / "short", Bytes{0x31, 0x56, 0x7A, 0x71});
    EXPECT_FALSE(ExtractEmbeddedObject(CString((root_ / "short").c_str()), out));
}

TEST_F(ViewerStartTest, StoredPlacementIsPulledOntoTheScreen)
{
    struct Case
    {
        const char* name;
        std::optional<DWORD> position;
        std::optional<DWORD> size;
        RECT expected;
        bool loaded;
    } cases[] = {
        {"nothing stored", std::nullopt, std::nullopt, {0, 0, 300, 225}, false},
        {"position and size", 0x00320064u, 0x01E00280u, {100, 50, 740, 530}, true},
        // A position without a size keeps the default size instead of a negative width.
        {"position only", 0x00320064u, std::nullopt, {100, 50, 400, 275}, true},
        {"too small", std::nullopt, 0x00640064u, {0, 0, 300, 225}, true},
        {"too low", std::nullopt, 0x00640320u, {0, 0, 800, 600}, true},
        {"wider than the screen", std::nullopt, 0x01F40FA0u, {0, 0, 1920, 500}, true},
        {"taller than the screen", std::nullopt, 0x0438012Cu, {0, 0, 300, 225}, true},
        // Negative left and top were stored as their low 16 bits: off the screen, back to 0.
        {"left of the primary monitor", 0xFFF6FF9Cu, 0x01E00280u, {0, 0, 640, 480}, true},
        // On the screen by the rules above, but with the title bar (22 + 4 pixels high) below the
        // screen's bottom and only 20 pixels of it left of the right edge: pulled back until the title
        // bar's height and 100 pixels of its width are on the monitor.
        {"title bar off the screen", 0x04300770u, 0x01E00280u, {1820, 1054, 2460, 1534}, true},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        fs::remove(hive_);
        ferolt::hooks::ReloadRegistry();
        if (c.position) SetPlacementValue("Position", *c.position);
        if (c.size) SetPlacementValue("Size", *c.size);
        ferolt::viewer::ResetProcessStateForTests();
        LoadWindowPlacement();
        EXPECT_TRUE(EqualRect(&g_rcMainWindow, &c.expected))
            << g_rcMainWindow.left << "," << g_rcMainWindow.top << "," << g_rcMainWindow.right << ","
            << g_rcMainWindow.bottom;
        EXPECT_EQ(g_bPlacementLoaded, c.loaded);
    }
}

// After registration the user's MIME database, as its tools write it, maps "*.tolvex" to the viewer's
// entry, and the entry runs this program. Moved, the program rewrites the entry; the hive keeps the
// first registration's command.
TEST_F(ViewerStartTest, RegistrationMapsTheFileTypeToTheRunningProgram)
{
    const auto text = [](const fs::path& path)
    {
        Bytes bytes = ReadFile(path);
        return std::string(bytes.begin(), bytes.end());
    };
    const fs::path data = root_ / "data";
    const std::string exe = (root_ / "ferolt").string();
    RegisterFileAssociation();
    EXPECT_NE(text(data / "mime/globs2").find(":application/x-tolvex:*.tolvex"), std::string::npos)
        << "update-mime-database (shared-mime-info) did not run: scripts/setup.sh installs it";
    EXPECT_NE(text(data / "applications/mimeinfo.cache").find("application/x-tolvex=ferolt.desktop;"),
              std::string::npos)
        << "update-desktop-database (desktop-file-utils) did not run: scripts/setup.sh installs it";
    for (int size : {32, 48, 64, 128})
    {
        const std::string dim = std::to_string(size) + "x" + std::to_string(size);
        Bytes png = ReadFile(data / "icons/hicolor" / dim / "apps/ferolt.png");
        ASSERT_GE(png.size(), 24u) << dim;
        EXPECT_EQ(png[19] | png[18] << 8, size) << dim; // the width in the PNG header
    }
    std::string entry = text(data / "applications/ferolt.desktop");
    EXPECT_NE(entry.find("\nExec=\"" + exe + "\" %f\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("\nIcon=ferolt\n"), std::string::npos) << entry;

    const std::string moved = (root_ / "moved" / "ferolt").string();
    ferolt::viewer::SetExecutablePathForTests(moved);
    fs::remove(data / "applications/mimeinfo.cache");
    RegisterFileAssociation();
    entry = text(data / "applications/ferolt.desktop");
    EXPECT_NE(entry.find("\nExec=\"" + moved + "\" %f\n"), std::string::npos) << entry;
    EXPECT_NE(text(data / "applications/mimeinfo.cache").find("application/x-tolvex=ferolt.desktop;"),
              std::string::npos);
    EXPECT_EQ(RegistryString(HKEY_CLASSES_ROOT, "tolvex_file\\shell\\Open\\command"),
              "\"" + exe + "\" \"%1\"");
}

TEST(ViewerDesktopEntry, ExecQuotesTheProgramPath)
{
    struct Case
    {
        std::string path;
        std::string quoted;
    } cases[] = {
        {"/usr/bin/ferolt", "\"/usr/bin/ferolt\""}, {"/opt/my viewer/ferolt", "\"/opt/my viewer/ferolt\""},
        {"/a\"b$c`d", "\"/a\\\\\"b\\\\$c\\\\`d\""}, {"/a\\b", "\"/a\\\\\\\\b\""},
        {"/100%/ferolt", "\"/100%%/ferolt\""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ferolt::viewer::DesktopExecQuote(c.path), c.quoted) << c.path;
}

// ---------------------------------------------------------------------------------------------------

LMK::Light_* FakeLight(int i)
{
    return reinterpret_cast<LMK::Light_*>(static_cast<uintptr_t>(0x1000 + 16 * i));
}

TEST(ViewerFrame, ActiveLightsFollowTheMaskAndTheNightView)
{
    struct Case
    {
        const char* name;
        uint32_t specialLights;
        uint32_t mask;
        bool night;
        std::vector<int> expected;
    } cases[] = {
        {"day: sun and scene lights", 6, 0x12, false, {1, 6, 7}},
        {"night: night sun and scene lights", 6, 0x12, true, {4, 6, 7}},
        {"all day lights", 6, 0x3F, false, {0, 1, 2, 6, 7}},
        {"no special lights: every light", 0, 0x3F, false, {0, 1, 2, 3, 4, 5, 6, 7}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        CTolvexControl3D window;
        for (int i = 0; i < 8; ++i)
            window.m_lights.push_back(FakeLight(i));
        window.m_nSpecialLights = c.specialLights;
        window.m_dwLightMask = c.mask;
        window.m_bNightView = c.night;
        std::vector<LMK::Light_*> active;
        window.CollectActiveLights(active);
        std::vector<LMK::Light_*> expected;
        for (int i : c.expected)
            expected.push_back(FakeLight(i));
        EXPECT_EQ(active, expected);
        window.m_lights.clear(); // not real lights: nothing to release
    }
}

TEST(ViewerFrame, AnimationTimeWrapsAroundTheRange)
{
    struct Case
    {
        uint32_t elapsedMs;
        float start, end, expected;
    } cases[] = {
        {5500, 0.0f, 4.0f, 1.5f}, {5500, 2.0f, 6.0f, 1.5f}, // the range's start is not added
        {4000, 0.0f, 4.0f, 0.0f}, {1234, 3.0f, 3.0f, 0.0f}, // an empty range stays at 0
        {1234, 3.0f, 1.0f, 0.0f},
    };
    for (const Case& c : cases)
        EXPECT_FLOAT_EQ(CTolvexControl3D::AnimationTime(c.elapsedMs, c.start, c.end), c.expected)
            << c.elapsedMs << " in " << c.start << ".." << c.end;
}
} // namespace

// ---------------------------------------------------------------------------------------------------

namespace
{
using ferolt::test::CubeBlock;
using ferolt::test::kViewerContentType;

// The cube placed once, its model carrying `background` as chunk 0x112 when given.
Bytes CubeObjectFile(const std::optional<Bytes>& background)
{
    const Bytes block = CubeBlock();
    const std::array<float, 16> identity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    ferolt::test::ByteWriter records;
    records.U32(static_cast<uint32_t>(block.size())).U32(1).U32(72);
    records.Raw(ferolt::test::InstanceRecord(0, 0, identity)).Raw(block);
    ferolt::test::ChunkWriter chunks;
    chunks.Chunk(8, records.Data());
    if (background)
        chunks.Chunk(7, ferolt::test::ModelChunkItem(ferolt::test::kBackgroundChunkId, 0, *background));
    ferolt::test::ObjectFileHeaderFields header;
    header.contentType = kViewerContentType;
    return ferolt::test::ObjectFileWriter(header).Bzip2Section(chunks.Data()).EndSection().Data();
}

ferolt::test::EnvironmentRecordFields PlainColour(uint32_t textureCount = 0)
{
    ferolt::test::EnvironmentRecordFields f;
    f.type = 0;
    f.colors[0] = {1.0f, 0.5f, 0.25f, 1.0f};
    f.textureCount = textureCount;
    f.texturesSlot = 0x0012F5A0; // what a 32-bit writer left in its pointer slot
    return f;
}
} // namespace

// Started with a file whose model carries a background record: the first tick loads it, the next paint
// shows the record's colour around the model. Records that cannot be read leave the default background,
// a gradient sphere from colour 0 to 1 of the default description above the horizon, 2 to 3 below.
TEST_F(ViewerStartTest, BackgroundRecordOfTheFileShowsAroundTheModel)
{
    constexpr uint32_t kRecordColour = 0xFF7F3F; // (1, 0.5, 0.25)
    constexpr uint32_t kDefaultColour = 0;       // a colour of the default gradient
    auto onGradient = [](uint32_t p) { return ferolt::test::OnDefaultGradient(p); };
    const Bytes plain = ferolt::test::BackgroundChunk(PlainColour());
    struct Case
    {
        const char* name;
        std::optional<Bytes> chunk;
        uint32_t colour;
        uint32_t type;         // of the window's description afterwards
        uint32_t textureCount; // likewise
    } cases[] = {
        {"no background chunk", std::nullopt, kDefaultColour, 1, 0},
        {"plain colour", plain, kRecordColour, 0, 0},
        {"plain colour, two texture names", ferolt::test::BackgroundChunk(PlainColour(2), "sky.png\nsea.png"),
         kRecordColour, 0, 2},
        {"names without NUL", ferolt::test::BackgroundChunk(PlainColour(2), "sky.png\nsea", false),
         kRecordColour, 0, 2},
        {"short by one byte", Bytes(plain.begin(), plain.begin() + 135), kDefaultColour, 1, 0},
        {"empty", Bytes{}, kDefaultColour, 1, 0},
        {"huge texture count", ferolt::test::BackgroundChunk(PlainColour(0xFFFFFFF0u), "sky.png"),
         kDefaultColour, 1, 0},
        {"a gradient", ferolt::test::BackgroundChunk({}), kDefaultColour, 1, 0},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        const fs::path file = root_ / "cube.tolvex";
        WriteFile(file, CubeObjectFile(c.chunk));
        ScriptedBackend backend;
        bool loaded = false, environmentMade = false;
        uint32_t corner = 0, centre = 0, type = 0xFFFF, count = 0xFFFF;
        bool slotsEmpty = false;
        backend.steps.push_back(
            [&](HWND w)
            {
                backend.AdvanceAndRun(CTolvexControl3D::kTimerMilliseconds,
                                      CTolvexControl3D::kTimerMilliseconds);
                backend.RunPending();
                CTolvexControl3D* viewer = ViewerWindow(w);
                if (!viewer) return;
                loaded = viewer->HasObjects();
                environmentMade = viewer->m_renderView.environment != nullptr;
                RECT client{};
                GetClientRect(w, &client);
                corner = backend.Pixel(w, 1, 1) & 0xFFFFFF;
                centre = backend.Pixel(w, client.right / 2, client.bottom / 2) & 0xFFFFFF;
                type = viewer->m_environmentDesc.type;
                count = viewer->m_environmentDesc.textureCount;
                // Textures do not load yet: every slot stays empty.
                slotsEmpty = count == 0 || viewer->m_environmentDesc.textures != nullptr;
                for (uint32_t i = 0; slotsEmpty && i < count; ++i)
                    slotsEmpty = viewer->m_environmentDesc.textures[i] == nullptr;
            });
        backend.steps.push_back([](HWND w) { ferolt::win32::host::CloseRequested(w); });
        EXPECT_EQ(Start(backend, {file.string()}), 0);
        EXPECT_FALSE(backend.closedByScriptEnd);
        ASSERT_TRUE(loaded);
        EXPECT_TRUE(environmentMade);
        if (c.colour == kDefaultColour)
        {
            EXPECT_TRUE(onGradient(corner)) << std::hex << corner;
            EXPECT_FALSE(onGradient(centre)) << "the model covers the middle";
        }
        else
        {
            EXPECT_EQ(corner, c.colour) << std::hex << corner;
            EXPECT_NE(centre, c.colour) << "the model covers the middle";
        }
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(count, c.textureCount);
        EXPECT_TRUE(slotsEmpty);
    }
}

// The window's texture array follows its record: replaced with the next record, freed with the window.
TEST(ViewerBackground, RecordReplacesTheDescriptionAndItsTextureArray)
{
    CTolvexControl3D window;
    EXPECT_EQ(window.m_environmentDesc.type, 1u) << "engine defaults";
    LMK::EnvironmentStruct_TYP record;
    LRInitEnvironmentStruct(&record);
    record.type = 5;
    record.textureCount = 3;
    record.overlayX = 9;
    EXPECT_TRUE(window.OnEnvironmentRecord(&record, "a\nb\nc"));
    EXPECT_EQ(window.m_environmentDesc.type, 5u);
    EXPECT_EQ(window.m_environmentDesc.overlayX, 9);
    EXPECT_EQ(window.m_environmentDesc.textureCount, 3u);
    ASSERT_NE(window.m_environmentDesc.textures, nullptr);
    record.textureCount = 0;
    record.type = 0;
    EXPECT_TRUE(window.OnEnvironmentRecord(&record, {}));
    EXPECT_EQ(window.m_environmentDesc.type, 0u);
    EXPECT_EQ(window.m_environmentDesc.textures, nullptr);
    record.textureCount = LMK::kMaxEnvironmentRecordTextures + 1;
    EXPECT_TRUE(window.OnEnvironmentRecord(&record, {}));
    EXPECT_EQ(window.m_environmentDesc.textureCount, 0u) << "a record over the bound is not taken";
    record.textureCount = 2;
    EXPECT_TRUE(window.OnEnvironmentRecord(&record, "only"));
    // The window is destroyed without ever being shown: its destructor frees the array (checked by the
    // leak checker).
}

TEST(ViewerBackground, TextureNamesComeOnePerLine)
{
    using Names = std::vector<std::string>;
    struct Case
    {
        std::string text;
        uint32_t count;
        Names names;
    } cases[] = {
        {"sky.png\nsea.png", 2, {"sky.png", "sea.png"}},
        {"only.png", 2, {"only.png", ""}}, // the second slot asks for the empty name
        {"a\nb\nc", 2, {"a", "b"}},
        {"a\n", 2, {"a", ""}},
        // A line feed at the start of what is left does not end a name.
        {"\nb", 2, {"\nb", ""}},
        {"a\n\nc", 3, {"a", "\nc", ""}},
        {"", 1, {""}},
        {"a\nb", 0, {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CTolvexControl3D::BackgroundTextureNames(c.text, c.count), c.names) << c.text;
}

// ---------------------------------------------------------------------------------------------------

namespace
{
constexpr float kPi = 3.14159265358979f;

// The cube turning about its vertical centre line and moving along x: at 1 s it has turned an eighth
// of a turn and moved by 3, at 2 s a quarter turn and 6; the clip runs 0 to 4 s.
Bytes AnimatedCubeObjectFile(const std::optional<std::array<float, 16>>& staticPlacement)
{
    const Bytes block = ferolt::test::CubeBlock(0);
    std::array<float, 16> placement = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    if (staticPlacement) placement = *staticPlacement;
    ferolt::test::ByteWriter records;
    records.U32(static_cast<uint32_t>(block.size())).U32(1).U32(72);
    records.Raw(ferolt::test::InstanceRecord(0, 0, placement)).Raw(block);
    ferolt::test::ChunkWriter chunks;
    chunks.Chunk(8, records.Data());
    if (!staticPlacement)
    {
        ferolt::test::AnimationCurveDesc position, rotation;
        position.end = rotation.end = 2.0f;
        for (int k = 0; k < 3; ++k)
        {
            position.keys.push_back({float(k), {1.0f + 3.0f * k, 1.0f, 0.0f}});
            rotation.keys.push_back({float(k), ferolt::test::RotationZ(0.25f * kPi * k)});
        }
        ferolt::test::AnimationNodeDesc node;
        node.pivot[0] = node.pivot[1] = 1.0f; // turn about the cube's vertical centre line
        node.position = position;
        node.rotation = rotation;
        ferolt::test::AnimationDesc desc;
        desc.nodes = {node};
        desc.clips = {{"turn", 0.0f, 4.0f}};
        desc.indices = {0};
        chunks.Chunk(3, ferolt::test::ByteWriter().U32(0).Raw(ferolt::test::AnimationStream(desc)).Data());
    }
    ferolt::test::ObjectFileHeaderFields header;
    header.contentType = kViewerContentType;
    return ferolt::test::ObjectFileWriter(header).Bzip2Section(chunks.Data()).EndSection().Data();
}

struct Frame
{
    std::vector<uint32_t> pixels;
    LONG width = 0, height = 0;
    POINT centroid{}; // of the pixels that are not background, in client coordinates
    size_t covered = 0;
};

// Looks straight down at the plane z = 0 around (4, 1).
void TopDownCamera(CTolvexControl3D& viewer)
{
    LMK::ViewParamsStruct_TYP& p = viewer.m_viewParams;
    const float eye[3] = {4.0f, 1.0f, 14.0f}, at[3] = {4.0f, 1.0f, 0.0f}, up[3] = {0.0f, 1.0f, 0.0f};
    const float window[4] = {-6.0f, 6.0f, 4.5f, -4.5f};
    std::copy(eye, eye + 3, p.eye);
    std::copy(at, at + 3, p.lookAt);
    std::copy(up, up + 3, p.up);
    std::copy(window, window + 4, p.window);
    std::copy(window, window + 4, p.secondWindow);
    p.zNear = 1.0f;
    p.zFar = 100.0f;
    p.orthographic = 0;
    ASSERT_EQ(LRSetViewParams(viewer.m_renderView.camera, &p), S_OK);
}

Frame Paint(ScriptedBackend& backend, HWND w)
{
    InvalidateRect(w, nullptr, FALSE);
    backend.RunPending();
    Frame f;
    RECT client{};
    GetClientRect(w, &client);
    f.width = client.right;
    f.height = client.bottom;
    const uint32_t background = backend.Pixel(w, 0, 0) & 0xFFFFFF;
    long sx = 0, sy = 0;
    for (LONG y = 0; y < f.height; ++y)
        for (LONG x = 0; x < f.width; ++x)
        {
            const uint32_t p = backend.Pixel(w, x, y) & 0xFFFFFF;
            f.pixels.push_back(p);
            // The default background is a gradient: every pixel of it counts as background.
            if (p == background || ferolt::test::OnDefaultGradient(p)) continue;
            ++f.covered;
            sx += x;
            sy += y;
        }
    if (f.covered) f.centroid = {LONG(sx / long(f.covered)), LONG(sy / long(f.covered))};
    return f;
}

size_t Differing(const Frame& a, const Frame& b)
{
    size_t n = 0;
    for (size_t i = 0; i < std::min(a.pixels.size(), b.pixels.size()); ++i)
        n += a.pixels[i] != b.pixels[i];
    return n;
}

bool PickHits(CTolvexControl3D& viewer, HWND w, POINT client)
{
    POINT screen = client;
    ClientToScreen(w, &screen);
    BYTE hit = 0;
    DWORD object = 0, subset = 0, face = 0;
    float barycentric[2], uv[2], point[3];
    DWORD value = 0;
    LMK::Material_* material = nullptr;
    if (FAILED(LRPickAtScreenPoint(&viewer.m_renderView, static_cast<DWORD>(viewer.m_objects.size()),
                                   viewer.m_objects.data(), &screen, false, &hit, &object, &subset, &face,
                                   barycentric, uv, &material, &value, point)))
        return false;
    if (material) material->Release();
    return hit != 0;
}

// Runs the viewer as `start` says and paints frames at the given milliseconds after the animations started.
using FrameCheck = std::function<void(CTolvexControl3D&, HWND, const std::vector<Frame>&)>;
std::vector<Frame> FramesOf(ScriptedBackend& backend, const std::function<int()>& start,
                            const std::vector<uint32_t>& milliseconds, const FrameCheck& check = {})
{
    std::vector<Frame> frames;
    backend.steps.push_back(
        [&](HWND w)
        {
            backend.AdvanceAndRun(CTolvexControl3D::kTimerMilliseconds, CTolvexControl3D::kTimerMilliseconds);
            backend.RunPending();
            CTolvexControl3D* viewer = ViewerWindow(w);
            ASSERT_TRUE(viewer && viewer->HasObjects());
            TopDownCamera(*viewer);
            uint32_t at = 0;
            for (uint32_t ms : milliseconds)
            {
                ferolt::hooks::AdvanceClock(ms - at);
                at = ms;
                frames.push_back(Paint(backend, w));
            }
            if (check) check(*viewer, w, frames);
        });
    backend.steps.push_back([](HWND w) { ferolt::win32::host::CloseRequested(w); });
    EXPECT_EQ(start(), 0);
    return frames;
}
} // namespace

// An animated cube through the whole viewer: the frame at 1 s is the frame of the cube placed where the
// animation puts it then (an eighth of a turn about its centre line, moved by 3), the frame at 6 s
// (2 s into the second run of the 4 s clip) the one at a quarter turn and 6; picking finds the cube
// where it is drawn, not where it was.
TEST_F(ViewerStartTest, AnimatedCubeTurnsAndPickingFollowsIt)
{
    const fs::path animated = root_ / "animated.tolvex";
    WriteFile(animated, AnimatedCubeObjectFile(std::nullopt));
    bool pickedNow = false, pickedBefore = true;
    ScriptedBackend backend;
    const std::vector<Frame> frames = FramesOf(
        backend, [&] { return Start(backend, {animated.string()}); }, {0, 1000, 6000},
        [&](CTolvexControl3D& viewer, HWND w, const std::vector<Frame>& f)
        {
            pickedNow = PickHits(viewer, w, f[2].centroid);
            pickedBefore = PickHits(viewer, w, f[0].centroid);
        });
    ASSERT_EQ(frames.size(), 3u);

    std::vector<Frame> placed;
    for (int k = 0; k < 3; ++k)
    {
        // Turned by k eighths about (1, 1), then moved by 3k along x.
        D3DXMATRIX toCentre, turn, back;
        D3DXMatrixTranslation(&toCentre, -1, -1, 0);
        D3DXMatrixRotationZ(&turn, 0.25f * kPi * k);
        D3DXMatrixTranslation(&back, 1.0f + 3.0f * k, 1, 0);
        D3DXMATRIX m = toCentre * turn * back;
        std::array<float, 16> placement;
        std::copy(&m._11, &m._11 + 16, placement.begin());
        const fs::path file = root_ / ("placed" + std::to_string(k) + ".tolvex");
        WriteFile(file, AnimatedCubeObjectFile(placement));
        ScriptedBackend still;
        placed.push_back(FramesOf(still, [&] { return Start(still, {file.string()}); }, {0}).at(0));
    }
    for (int k = 0; k < 3; ++k)
    {
        SCOPED_TRACE(k);
        ASSERT_GT(frames[k].covered, 100u);
        // Edges may round differently between the node's matrix and the test's: a few pixels.
        EXPECT_LT(Differing(frames[k], placed[k]), frames[k].covered / 50);
        for (int other = 0; other < 3; ++other)
            if (other != k)
            {
                EXPECT_GT(Differing(frames[k], placed[other]), frames[k].covered / 4) << "against " << other;
            }
    }
    EXPECT_TRUE(pickedNow);
    EXPECT_FALSE(pickedBefore);
}
