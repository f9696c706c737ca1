#pragma once
// A temporary directory tree for tests that read files by name; removed with everything in it.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace ferolt::test
{
class TempTree
{
public:
    TempTree()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "ferolt-XXXXXX").string();
        root_ = mkdtemp(pattern.data()) ? pattern : std::string();
    }
    ~TempTree()
    {
        std::error_code ignored;
        if (!root_.empty()) std::filesystem::remove_all(root_, ignored);
    }
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    // The root, without a trailing separator.
    const std::string& Root() const { return root_; }
    std::string Path(const std::string& relative) const { return root_ + "/" + relative; }

    // Writes a file below the root, making its directories.
    void Write(const std::string& relative, const std::vector<uint8_t>& bytes) const
    {
        const std::filesystem::path path = Path(relative);
        std::filesystem::create_directories(path.parent_path());
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    void Write(const std::string& relative, const std::string& text) const
    {
        Write(relative, std::vector<uint8_t>(text.begin(), text.end()));
    }
    void MakeDirectory(const std::string& relative) const
    {
        std::filesystem::create_directories(Path(relative));
    }

private:
    std::string root_;
};
} // namespace ferolt::test
