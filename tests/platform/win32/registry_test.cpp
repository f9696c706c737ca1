// The registry over its hive file.
#include "platform/win32/kernel_hooks.h"
#include "platform/win32/winbase.h"
#include "platform/win32/winreg.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace
{
class Registry : public ::testing::Test
{
protected:
    void SetUp() override
    {
        directory_ =
            fs::temp_directory_path() / ("ferolt_registry_" + std::to_string(GetCurrentProcessId()) + "_" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(directory_);
        hive_ = (directory_ / "sub" / "registry.hive").string();
        ferolt::hooks::SetRegistryHivePath(hive_.c_str());
    }
    void TearDown() override
    {
        ferolt::hooks::SetRegistryHivePath(nullptr);
        fs::remove_all(directory_);
    }

    static HKEY Create(HKEY root, const char* path)
    {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExA(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        return key;
    }
    static DWORD QueryDword(HKEY key, const char* name)
    {
        DWORD value = 0, type = 0, size = sizeof(value);
        EXPECT_EQ(RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size),
                  ERROR_SUCCESS);
        EXPECT_EQ(type, REG_DWORD);
        return value;
    }
    std::vector<char> HiveBytes() const
    {
        std::ifstream in(hive_, std::ios::binary);
        return std::vector<char>(std::istreambuf_iterator<char>(in), {});
    }
    void WriteHive(const std::vector<char>& bytes) const
    {
        std::ofstream(hive_, std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    fs::path directory_;
    std::string hive_;
};

TEST_F(Registry, ValuesSurviveARestart)
{
    HKEY key = Create(HKEY_CURRENT_USER, "Software\\Maker GmbH\\Viewer");
    DWORD position = 0x00640032;
    ASSERT_EQ(RegSetValueExA(key, "Position", 0, REG_DWORD, reinterpret_cast<BYTE*>(&position), 4),
              ERROR_SUCCESS);
    const char text[] = "tolvex_file";
    ASSERT_EQ(RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof(text)),
              ERROR_SUCCESS);
    const BYTE blob[] = {0, 1, 2, 0xFF};
    ASSERT_EQ(RegSetValueExA(key, "Blob", 0, REG_BINARY, blob, sizeof(blob)), ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_TRUE(fs::exists(hive_));

    ferolt::hooks::ReloadRegistry();

    HKEY again = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\maker gmbh\\VIEWER", 0, KEY_READ, &again),
              ERROR_SUCCESS);
    EXPECT_EQ(QueryDword(again, "position"), 0x00640032u);
    char buffer[32] = {};
    DWORD type = 0, size = sizeof(buffer);
    ASSERT_EQ(RegQueryValueExA(again, "", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, sizeof(text));
    EXPECT_STREQ(buffer, "tolvex_file");
    BYTE blobBack[8] = {};
    size = sizeof(blobBack);
    ASSERT_EQ(RegQueryValueExA(again, "Blob", nullptr, &type, blobBack, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_BINARY);
    ASSERT_EQ(size, sizeof(blob));
    EXPECT_EQ(memcmp(blobBack, blob, sizeof(blob)), 0);
    RegCloseKey(again);
}

TEST_F(Registry, SizeQueryAndShortBuffer)
{
    HKEY key = Create(HKEY_CLASSES_ROOT, "tolvex_file");
    const char text[] = "Quarzel 3D";
    // Written without its terminating zero: stored with one anyway.
    ASSERT_EQ(RegSetValueExA(key, "", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), 10), ERROR_SUCCESS);
    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueExA(key, nullptr, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 11u);
    char small[4];
    size = sizeof(small);
    EXPECT_EQ(RegQueryValueExA(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(small), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 11u);
    EXPECT_EQ(RegQueryValueExA(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(small), nullptr),
              static_cast<LSTATUS>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
}

TEST_F(Registry, OpenCreateDeleteAndAccess)
{
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "tolvex_file", 0, KEY_READ | KEY_WRITE, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "tolvex_file\\shell\\Open\\command", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    RegCloseKey(key);
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "TOLVEX_FILE\\Shell", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    EXPECT_EQ(RegDeleteKeyA(key, "open"), ERROR_ACCESS_DENIED) << "a key with subkeys stays";
    EXPECT_EQ(RegDeleteKeyA(key, "open\\command"), ERROR_SUCCESS);
    HKEY open = nullptr;
    ASSERT_EQ(RegOpenKeyExA(key, "Open", 0, KEY_READ, &open), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(key, "open"), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(open, "x", nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
    RegCloseKey(open);
    RegCloseKey(key);

    HKEY readOnly = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "tolvex_file", 0, KEY_READ, &readOnly), ERROR_SUCCESS);
    DWORD value = 8;
    EXPECT_EQ(RegSetValueExA(readOnly, "BrowserFlags", 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), 4),
              ERROR_ACCESS_DENIED);
    RegCloseKey(readOnly);

    key = Create(HKEY_CURRENT_USER, "Software");
    ASSERT_EQ(RegSetValueExA(key, "Gone", 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), 4), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(key, "GONE"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(key, "GONE"), ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
    EXPECT_EQ(RegCloseKey(key), static_cast<LSTATUS>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(RegOpenKeyExA(reinterpret_cast<HKEY>(0x1234), "x", 0, KEY_READ, &key),
              static_cast<LSTATUS>(ERROR_INVALID_HANDLE));
}

TEST_F(Registry, DamagedHiveIsIgnored)
{
    HKEY key = Create(HKEY_CURRENT_USER, "Software\\Viewer");
    DWORD value = 300;
    RegSetValueExA(key, "Size", 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), 4);
    RegCloseKey(key);
    const std::vector<char> good = HiveBytes();
    ASSERT_GT(good.size(), 20u);

    auto flipped = [](std::vector<char> bytes, size_t at)
    {
        bytes[at] = static_cast<char>(bytes[at] ^ 0x40);
        return bytes;
    };
    std::vector<char> hugeCount = good;
    memset(hugeCount.data() + 16, 0xFF, 4); // root count
    struct Case
    {
        const char* what;
        std::vector<char> bytes;
    } cases[] = {
        {"empty", {}},
        {"header only", std::vector<char>(good.begin(), good.begin() + 16)},
        {"truncated", std::vector<char>(good.begin(), good.end() - 3)},
        {"bad magic", flipped(good, 0)},
        {"flipped payload byte", flipped(good, good.size() - 2)},
        {"huge count", hugeCount},
        {"text", std::vector<char>{'h', 'e', 'l', 'l', 'o'}},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        WriteHive(c.bytes);
        ferolt::hooks::ReloadRegistry();
        HKEY opened = nullptr;
        EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Viewer", 0, KEY_READ, &opened),
                  ERROR_FILE_NOT_FOUND);
        EXPECT_TRUE(fs::exists(hive_ + ".damaged"));
        fs::remove(hive_ + ".damaged");
        // The registry works on: a new value is written into a fresh hive.
        HKEY fresh = Create(HKEY_CURRENT_USER, "Fresh");
        RegCloseKey(fresh);
        ferolt::hooks::ReloadRegistry();
        EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Fresh", 0, KEY_READ, &fresh), ERROR_SUCCESS);
        RegCloseKey(fresh);
    }
    WriteHive(good);
    ferolt::hooks::ReloadRegistry();
    HKEY opened = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Viewer", 0, KEY_READ, &opened), ERROR_SUCCESS);
    EXPECT_EQ(QueryDword(opened, "Size"), 300u);
    RegCloseKey(opened);
}
} // namespace
