// Runs a libFuzzer entry point once on each file named on the command line, or on every file under
// a folder named there, so fuzz targets build and replay their corpus without libFuzzer.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace
{
bool RunFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
    {
        std::fprintf(stderr, "cannot open %s\n", path.c_str());
        return false;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Named first, so that the input that brings a sanitizer report down is the last one printed.
    std::fprintf(stderr, "%s\n", path.c_str());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return true;
}
} // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
    {
        const std::filesystem::path arg = argv[i];
        std::error_code error;
        if (!std::filesystem::is_directory(arg, error))
        {
            if (!RunFile(arg)) return 1;
            continue;
        }
        std::vector<std::filesystem::path> files;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(arg, error))
            if (entry.is_regular_file()) files.push_back(entry.path());
        std::sort(files.begin(), files.end());
        // An empty corpus replays nothing, which is a broken test rather than a passing one.
        if (error || files.empty())
        {
            std::fprintf(stderr, "no inputs under %s\n", arg.c_str());
            return 1;
        }
        for (const auto& file : files)
            if (!RunFile(file)) return 1;
        std::fprintf(stderr, "%zu inputs from %s\n", files.size(), arg.c_str());
    }
    return 0;
}
