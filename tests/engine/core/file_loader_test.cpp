// The built-in file loader: which file a requested name reads, under which resolved name, and which
// requests it refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "engine/core/file_loader.h"
#include "tests/support/temp_tree.h"

namespace
{
using ferolt::test::TempTree;

std::string Upper(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    return s;
}

struct Answer
{
    int result = 99;
    std::string bytes;
    std::string resolved;
};

// One request through the loader's callback, with the data given back as the registry would.
Answer Ask(const char* name, const char* searchPath, const std::string& current, BYTE subdirectories)
{
    std::string path = searchPath ? searchPath : "";
    std::string dir = current;
    LMK::FileLoaderContextStruct_TYP context{searchPath ? path.data() : nullptr,
                                             current.empty() ? nullptr : dir.data(), subdirectories};
    LMK::LoaderRequestStruct_TYP request{name, &context};
    void* data = reinterpret_cast<void*>(1);
    void* resolved = reinterpret_cast<void*>(1);
    DWORD size = 7, cookie = 7;
    Answer a;
    a.result = LMK::FileLoaderLoad(&request, &data, &size, &resolved, &cookie);
    if (a.result == 0)
    {
        a.bytes.assign(static_cast<const char*>(data), size);
        a.resolved = static_cast<const char*>(resolved);
        LMK::FileLoaderRelease(&context, data, resolved, cookie, nullptr);
    }
    else
    {
        EXPECT_EQ(data, nullptr);
        EXPECT_EQ(resolved, nullptr);
    }
    return a;
}

TEST(FileLoader, RequestsFindTheirFiles)
{
    TempTree tree;
    tree.Write("data/wood.jpg", "wood");
    tree.Write("a/other.txt", "a");
    tree.Write("b/Sub/Deep/name.bin", "deep");
    tree.Write("b/empty.bin", std::string());
    tree.MakeDirectory("data/folder.x");
    const std::string data = Upper(tree.Path("data"));
    const std::string a = Upper(tree.Path("a")), b = Upper(tree.Path("b"));
    const std::string both = a + ";" + b;
    const struct
    {
        const char* name;
        std::string request;
        const char* searchPath;
        std::string current;
        BYTE subdirectories;
        int result;
        std::string bytes;
        std::string resolved;
    } cases[] = {
        // Without a search path only the bare name is looked for in the current directory.
        {"bare_name_in_current", "maps\\Wood.jpg", nullptr, data, 0, 0, "wood", data + ">WOOD.JPG"},
        {"slashes_too", "maps/Wood.jpg", nullptr, data, 0, 0, "wood", data + ">WOOD.JPG"},
        {"no_current_directory", "wood.jpg", nullptr, "", 0, -1, "", ""},
        {"full_path_not_opened_where_it_points", tree.Path("a/other.txt"), nullptr, data, 0, -1, "", ""},
        {"star_refused", "*wood.jpg", nullptr, data, 0, -1, "", ""},
        {"blank_refused", " ", nullptr, data, 0, -1, "", ""},
        {"empty_rest", "X>", nullptr, data, 0, -1, "", ""},
        {"directory_refused", "folder.x", nullptr, data, 0, -1, "", ""},
        {"search_path_entry", "other.txt", both.c_str(), "", 0, 0, "a", a + ">OTHER.TXT"},
        {"empty_file", "empty.bin", both.c_str(), "", 0, -2, "", ""},
        {"subdirectories_off", "name.bin", both.c_str(), "", 0, -1, "", ""},
        // Directory names keep their case on disk; the registry upper-cases resolved names.
        {"subdirectories_second_pass", "name.bin", both.c_str(), "", 1, 0, "deep",
         b + ">Sub\\Deep\\NAME.BIN"},
        // A resolved name comes back to the same file through its search directory.
        {"resolved_name_again", b + ">SUB\\DEEP\\NAME.BIN", both.c_str(), "", 0, 0, "deep",
         b + ">SUB\\DEEP\\NAME.BIN"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        const Answer answer = Ask(c.request.c_str(), c.searchPath, c.current, c.subdirectories);
        EXPECT_EQ(answer.result, c.result);
        EXPECT_EQ(answer.bytes, c.bytes);
        EXPECT_EQ(answer.resolved, c.resolved);
    }
}

TEST(FileLoader, NullRequestIsRefused)
{
    void* data = nullptr;
    DWORD size = 0;
    EXPECT_EQ(LMK::FileLoaderLoad(nullptr, &data, &size, nullptr, nullptr), -1);
    LMK::LoaderRequestStruct_TYP request{nullptr, nullptr};
    EXPECT_EQ(LMK::FileLoaderLoad(&request, &data, &size, nullptr, nullptr), -1);
}
} // namespace
