#pragma once
// The whole viewer program run headless inside a test: a private folder for its files, the manual clock,
// and a backend that plays one script once the start file is loaded, then closes the window.
#include "platform/backends/headless/headless_backend.h"
#include "platform/win32/kernel_hooks.h"
#include "platform/win32/user_host.h"
#include "tests/support/object_file_writer.h"
#include "viewer/tolvex_control.h"
#include "viewer/viewer_app.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

namespace ferolt::test
{
// Runs one script once the viewer's window exists, then closes the window.
class OneStepBackend : public backend::HeadlessBackend
{
public:
    std::function<void(HWND)> step;
    bool ran = false;

    void WaitForEvents(int timeoutMs) override
    {
        HWND window = ::FindWindowA(nullptr, "Ferolt");
        if (window && !ran)
        {
            ran = true;
            step(window);
            if (::IsWindow(window))
                win32::host::CloseRequested(window);
            else
                ::PostMessageA(nullptr, WM_NULL, 0, 0); // the program's loop looks at its window again
            return;
        }
        HeadlessBackend::WaitForEvents(timeoutMs);
    }
};

class ViewerProgramTest : public ::testing::Test
{
protected:
    // `prefix` names the test's folder under the temporary directory.
    explicit ViewerProgramTest(std::string prefix) : prefix_(std::move(prefix)) {}

    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        root_ = std::filesystem::temp_directory_path() /
                (prefix_ + std::to_string(::getpid()) + "_" + info->name());
        std::filesystem::remove_all(root_);
        std::filesystem::create_directories(root_ / "data");
        std::filesystem::create_directories(root_ / "tmp");
        hive_ = (root_ / "registry.hive").string();
        hooks::SetRegistryHivePath(hive_.c_str());
        setenv("XDG_DATA_HOME", (root_ / "data").c_str(), 1);
        setenv("TMPDIR", (root_ / "tmp").c_str(), 1);
        viewer::SetExecutablePathForTests((root_ / "ferolt").string());
        std::ofstream(root_ / "ferolt", std::ios::binary) << std::string(64, '\x90');
        hooks::InstallManualClock(1000);
    }

    void TearDown() override
    {
        hooks::RemoveManualClock();
        viewer::SetExecutablePathForTests("");
        hooks::SetRegistryHivePath(nullptr);
        unsetenv("XDG_DATA_HOME");
        unsetenv("TMPDIR");
        std::filesystem::remove_all(root_);
    }

    void WriteFile(const std::string& name, const Bytes& bytes) const
    {
        std::ofstream(root_ / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }

    // Starts the program on a file of the test's folder; `script` runs once the first timer tick has
    // loaded it.
    void Run(const std::function<void(OneStepBackend&, HWND, CTolvexControl3D&)>& script,
             const std::string& startFile)
    {
        OneStepBackend backend;
        backend.step = [&](HWND w)
        {
            auto* viewer = dynamic_cast<CTolvexControl3D*>(CWnd::FromHandlePermanent(w));
            ASSERT_NE(viewer, nullptr);
            backend.AdvanceAndRun(CTolvexControl3D::kTimerMilliseconds, CTolvexControl3D::kTimerMilliseconds);
            ASSERT_TRUE(viewer->HasObjects());
            script(backend, w, *viewer);
        };
        viewer::ResetProcessStateForTests();
        std::string exe = "ferolt", file = (root_ / startFile).string();
        char* argv[] = {exe.data(), file.data(), nullptr};
        EXPECT_EQ(AfxWinMain(2, argv), 0); // a normal close
        EXPECT_TRUE(backend.ran);
    }

    std::filesystem::path root_;
    std::string hive_;

private:
    std::string prefix_;
};
} // namespace ferolt::test
