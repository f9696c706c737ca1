#pragma once
// The viewer's files in a fresh folder, for the tests and benchmarks that run the whole program in their
// own process: the registry hive, the XDG data directory and the temporary directory point into it, and a
// stand-in of 64 bytes with no object appended is the program's executable. All of it is put back when
// the folder goes. Header only, so that the fixture writers need not link the viewer.
#include "platform/win32/kernel_hooks.h"
#include "viewer/viewer_app.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>

namespace ferolt::test
{
class ViewerProgramFolder
{
public:
    // `name` is the folder's name under the temporary directory; a folder left there by an earlier run
    // is removed first.
    explicit ViewerProgramFolder(const std::string& name)
        : root_(std::filesystem::temp_directory_path() / name), hive_((root_ / "registry.hive").string()),
          oldDataHome_(Variable("XDG_DATA_HOME")), oldTmpDir_(Variable("TMPDIR"))
    {
        std::filesystem::remove_all(root_);
        std::filesystem::create_directories(root_ / "data");
        std::filesystem::create_directories(root_ / "tmp");
        hooks::SetRegistryHivePath(hive_.c_str());
        setenv("XDG_DATA_HOME", (root_ / "data").c_str(), 1);
        setenv("TMPDIR", (root_ / "tmp").c_str(), 1);
        viewer::SetExecutablePathForTests(Executable().string());
        std::ofstream(Executable(), std::ios::binary) << std::string(64, '\x90');
    }
    ~ViewerProgramFolder()
    {
        viewer::SetExecutablePathForTests("");
        hooks::SetRegistryHivePath(nullptr);
        PutBack("XDG_DATA_HOME", oldDataHome_);
        PutBack("TMPDIR", oldTmpDir_);
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    ViewerProgramFolder(const ViewerProgramFolder&) = delete;
    ViewerProgramFolder& operator=(const ViewerProgramFolder&) = delete;

    const std::filesystem::path& Root() const { return root_; }
    const std::string& Hive() const { return hive_; }
    std::filesystem::path Executable() const { return root_ / "ferolt"; }

private:
    static std::optional<std::string> Variable(const char* name)
    {
        const char* value = std::getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    }
    static void PutBack(const char* name, const std::optional<std::string>& value)
    {
        if (value)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);
    }

    std::filesystem::path root_;
    std::string hive_;
    std::optional<std::string> oldDataHome_, oldTmpDir_;
};
} // namespace ferolt::test
