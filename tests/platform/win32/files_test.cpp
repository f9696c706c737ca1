// Files, paths, mappings, directory search and temporary files.
#include "platform/win32/crt.h"
#include "platform/win32/paths.h"
#include "platform/win32/winbase.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace
{
// A scratch directory with a small tree of mixed-case names.
class Files : public ::testing::Test
{
protected:
    void SetUp() override
    {
        root_ = fs::temp_directory_path() / ("ferolt_files_" + std::to_string(GetCurrentProcessId()) + "_" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        fs::create_directories(root_ / "Models" / "Tex");
        Write("Models/Wood.JPG", "wood");
        Write("Models/Tex/stone.png", "stone!");
        Write("Models/readme", "no extension");
        Write("Models/a1.txt", "1");
        Write("Models/a22.txt", "22");
    }
    void TearDown() override { fs::remove_all(root_); }

    void Write(const std::string& relative, const std::string& text)
    {
        std::ofstream(root_ / relative, std::ios::binary) << text;
    }
    std::string Path(const std::string& relative) const { return (root_ / relative).string(); }
    // The scratch path written the original's way: a drive prefix, backslashes, other letter case.
    std::string WindowsPath(const std::string& relative) const
    {
        std::string text = "C:" + Path(relative);
        std::replace(text.begin(), text.end(), '/', '\\');
        return text;
    }

    fs::path root_;
};

std::string ReadAll(HANDLE file)
{
    std::string text(64, '\0');
    DWORD got = 0;
    EXPECT_TRUE(ReadFile(file, text.data(), static_cast<DWORD>(text.size()), &got, nullptr));
    text.resize(got);
    return text;
}

TEST_F(Files, MixedCaseAndBackslashPathsFindTheRealFile)
{
    struct Case
    {
        std::string path;
        std::string content;
    } cases[] = {
        {WindowsPath("MODELS\\WOOD.JPG"), "wood"},
        {WindowsPath("models\\tex\\STONE.PNG"), "stone!"},
        {Path("Models/Tex/stone.png"), "stone!"},
        {WindowsPath("Models\\.\\Wood.jpg"), "wood"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.path);
        HANDLE file = CreateFileA(c.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        EXPECT_EQ(ReadAll(file), c.content);
        CloseHandle(file);
        FILE* stream = ferolt::win32::OpenCFile(c.path.c_str(), "rb");
        ASSERT_NE(stream, nullptr);
        fclose(stream);
    }
}

TEST_F(Files, ExactCaseWinsOverAnotherCase)
{
    Write("Models/WOOD.JPG", "upper");
    EXPECT_EQ(ferolt::win32::ResolvePath(Path("Models/WOOD.JPG").c_str()), Path("Models/WOOD.JPG"));
    EXPECT_EQ(ferolt::win32::ResolvePath(Path("Models/Wood.JPG").c_str()), Path("Models/Wood.JPG"));
    // Neither spelling exactly: the smallest name in byte order.
    EXPECT_EQ(ferolt::win32::ResolvePath(Path("models/wood.jpg").c_str()), Path("Models/WOOD.JPG"));
}

TEST_F(Files, DirectoryIsRefusedWhereAFileIsExpected)
{
    std::string directory = WindowsPath("MODELS");
    HANDLE file = CreateFileA(directory.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    errno = 0;
    EXPECT_EQ(ferolt::win32::OpenCFile(directory.c_str(), "rb"), nullptr);
    EXPECT_EQ(errno, EISDIR);
    EXPECT_FALSE(DeleteFileA(directory.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(GetFileAttributesA(directory.c_str()) & FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(Files, OpenErrorsTellMissingFileFromMissingDirectory)
{
    struct Case
    {
        std::string path;
        DWORD creation;
        DWORD error;
    } cases[] = {
        {Path("Models/none.txt"), OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
        {Path("Nowhere/none.txt"), OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
        {Path("Nowhere/none.txt"), CREATE_ALWAYS, ERROR_PATH_NOT_FOUND},
        {Path("Models/Wood.JPG"), CREATE_NEW, ERROR_FILE_EXISTS},
        {"", OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.path);
        HANDLE file =
            CreateFileA(c.path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, c.creation, 0, nullptr);
        EXPECT_EQ(file, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), c.error);
    }
    EXPECT_EQ(GetFileAttributesA(Path("Models/none").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Files, WriteSeekReadRoundTrip)
{
    std::string path = WindowsPath("models\\New.bin"); // created with the name as written
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file, "0123456789", 10, &written, nullptr));
    EXPECT_EQ(written, 10u);
    EXPECT_EQ(GetFileSize(file, nullptr), 10u);
    EXPECT_EQ(SetFilePointer(file, -4, nullptr, FILE_END), 6u);
    EXPECT_EQ(ReadAll(file), "6789");
    EXPECT_EQ(SetFilePointer(file, -20, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
    LARGE_INTEGER move{}, position{};
    move.QuadPart = 2;
    ASSERT_TRUE(SetFilePointerEx(file, move, &position, FILE_BEGIN));
    EXPECT_EQ(position.QuadPart, 2);
    EXPECT_EQ(ReadAll(file), "23456789");
    LARGE_INTEGER size{};
    ASSERT_TRUE(GetFileSizeEx(file, &size));
    EXPECT_EQ(size.QuadPart, 10);
    CloseHandle(file);
    EXPECT_TRUE(fs::exists(root_ / "Models" / "New.bin"));

    HANDLE again = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    char byte;
    DWORD got = 1;
    EXPECT_FALSE(ReadFile(again, &byte, 1, &got, nullptr)) << "opened for writing only";
    EXPECT_EQ(got, 0u);
    CloseHandle(again);
    EXPECT_TRUE(DeleteFileA(path.c_str()));
    EXPECT_FALSE(DeleteFileA(path.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(Files, MappedFileShowsItsBytesAfterHandlesClose)
{
    HANDLE file = CreateFileA(WindowsPath("MODELS\\TEX\\STONE.PNG").c_str(), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    ASSERT_NE(mapping, nullptr);
    EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_READ, 0, 1, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MAPPED_ALIGNMENT);
    EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 7), nullptr) << "beyond the mapping";
    EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0), nullptr) << "read-only mapping";
    const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    ASSERT_NE(view, nullptr);
    CloseHandle(mapping);
    CloseHandle(file);
    EXPECT_EQ(std::string(static_cast<const char*>(view), 6), "stone!");
    EXPECT_TRUE(UnmapViewOfFile(view));
    EXPECT_FALSE(UnmapViewOfFile(view));

    Write("empty.bin", "");
    HANDLE empty =
        CreateFileA(Path("empty.bin").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(CreateFileMappingA(empty, nullptr, PAGE_READONLY, 0, 0, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_INVALID);
    CloseHandle(empty);
}

std::vector<std::string> FindAll(const std::string& pattern)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA data{};
    HANDLE find = FindFirstFileA(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do
        names.push_back(data.cFileName);
    while (FindNextFileA(find, &data));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    EXPECT_TRUE(FindClose(find));
    return names;
}

TEST_F(Files, FindFirstFileWildcards)
{
    using Names = std::vector<std::string>;
    struct Case
    {
        std::string pattern;
        Names names;
    } cases[] = {
        {"*.*", {".", "..", "a1.txt", "a22.txt", "readme", "Tex", "Wood.JPG"}},
        {"*", {".", "..", "a1.txt", "a22.txt", "readme", "Tex", "Wood.JPG"}},
        {"*.TXT", {"a1.txt", "a22.txt"}},
        {"a?.txt", {"a1.txt"}},
        {"a*2.*", {"a22.txt"}},
        {"wood.jpg", {"Wood.JPG"}},
        {"readme.*", {"readme"}},
        {"*.png", {}},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pattern);
        EXPECT_EQ(FindAll(WindowsPath("MODELS\\") + c.pattern), c.names);
    }
    WIN32_FIND_DATAA data{};
    HANDLE find = FindFirstFileA(Path("Models/*").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    std::set<std::string> directories;
    do
    {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            directories.insert(data.cFileName);
        else if (std::string(data.cFileName) == "a22.txt")
        {
            EXPECT_EQ(data.nFileSizeLow, 2u);
        }
    } while (FindNextFileA(find, &data));
    FindClose(find);
    EXPECT_EQ(directories, (std::set<std::string>{".", "..", "Tex"}));

    EXPECT_EQ(FindFirstFileA(Path("Models/*.png").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(FindFirstFileA(Path("Nowhere/*").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(Files, TemporaryFiles)
{
    char directory[MAX_PATH];
    DWORD length = GetTempPathA(MAX_PATH, directory);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(directory[length - 1], '/');
    EXPECT_EQ(GetTempPathA(1, directory), length + 1) << "a short buffer gets the size needed";

    char name[MAX_PATH];
    UINT number = GetTempFileNameA(Path("").c_str(), "qelso", 0, name);
    ASSERT_NE(number, 0u);
    std::string created = name;
    EXPECT_TRUE(fs::exists(created));
    EXPECT_EQ(fs::file_size(created), 0u);
    EXPECT_NE(created.find("/qel"), std::string::npos);
    EXPECT_EQ(created.substr(created.size() - 4), ".tmp");
    UINT second = GetTempFileNameA(Path("").c_str(), "qelso", 0, name);
    EXPECT_NE(second, number) << "a second call makes another file";

    EXPECT_EQ(GetTempFileNameA(Path("").c_str(), "abc", 0x1A2B, name), 0x1A2Bu);
    EXPECT_EQ(std::string(name), Path("abc1A2B.tmp"));
    EXPECT_FALSE(fs::exists(name)) << "a given number only composes the name";
    EXPECT_EQ(GetTempFileNameA(Path("Nowhere").c_str(), "abc", 0, name), 0u);

    char* unique = _tempnam(nullptr, "tolvex_tmpobj");
    ASSERT_NE(unique, nullptr);
    EXPECT_NE(std::string(unique).find("tolvex_tmpobj"), std::string::npos);
    EXPECT_FALSE(fs::exists(unique));
    free(unique);
}

TEST_F(Files, CurrentDirectoryRoundTrip)
{
    char saved[4096];
    ASSERT_GT(GetCurrentDirectoryA(sizeof(saved), saved), 0u);
    ASSERT_TRUE(SetCurrentDirectoryA(WindowsPath("MODELS\\TEX").c_str()));
    char now[4096];
    GetCurrentDirectoryA(sizeof(now), now);
    EXPECT_EQ(std::string(now), Path("Models/Tex"));
    HANDLE relative = CreateFileA("STONE.PNG", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(relative, INVALID_HANDLE_VALUE);
    CloseHandle(relative);
    EXPECT_FALSE(SetCurrentDirectoryA(Path("Models/readme").c_str()));
    ASSERT_TRUE(SetCurrentDirectoryA(saved));
    EXPECT_EQ(GetCurrentDirectoryA(1, now), strlen(saved) + 1);
}
} // namespace
