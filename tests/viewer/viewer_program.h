#pragma once
// The whole viewer program run headless inside a test: a private folder for its files, the manual clock,
// and a backend that plays one script once the start file is loaded, then closes the window.
#include "platform/backends/headless/headless_backend.h"
#include "platform/win32/kernel_hooks.h"
#include "platform/win32/user_host.h"
#include "tests/support/object_file_writer.h"
#include "tests/support/viewer_program_folder.h"
#include "viewer/tolvex_control.h"
#include "viewer/viewer_app.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
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
        folder_.emplace(prefix_ + std::to_string(::getpid()) + "_" + info->name());
        root_ = folder_->Root();
        hive_ = folder_->Hive();
        hooks::InstallManualClock(1000);
    }

    void TearDown() override
    {
        hooks::RemoveManualClock();
        folder_.reset();
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
    std::optional<ViewerProgramFolder> folder_;
};
} // namespace ferolt::test
