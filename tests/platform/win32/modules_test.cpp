// Built-in modules and the executable's module.
#include "platform/win32/builtin_modules.h"
#include "platform/win32/kernel_hooks.h"
#include "platform/win32/winbase.h"

#include <gtest/gtest.h>

#include <string>

namespace
{
struct Modules : ::testing::Test
{
    void TearDown() override { ferolt::hooks::ResetMissingModules(); }
};

int Seven()
{
    return 7;
}

TEST_F(Modules, LoadAndLookUpByNameInAnyCase)
{
    ferolt::win32::RegisterBuiltinModule("Sample.dll", {ferolt::win32::Export("Seven", &Seven)});
    EXPECT_EQ(GetModuleHandleA("sample.dll"), nullptr) << "not loaded yet";
    for (const char* name : {"SAMPLE.DLL", "sample", "C:\\Windows\\System32\\Sample.DLL"})
    {
        SCOPED_TRACE(name);
        HMODULE module = LoadLibraryA(name);
        ASSERT_NE(module, nullptr);
        auto seven = reinterpret_cast<int (*)()>(GetProcAddress(module, "Seven"));
        ASSERT_NE(seven, nullptr);
        EXPECT_EQ(seven(), 7);
        EXPECT_EQ(GetModuleHandleA("Sample.dll"), module);
        EXPECT_EQ(GetProcAddress(module, "seven"), nullptr) << "export names are exact";
        EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
        EXPECT_TRUE(FreeLibrary(module));
    }
    EXPECT_EQ(GetModuleHandleA("Sample.dll"), nullptr);
}

TEST_F(Modules, MissingModuleAndExportGiveNull)
{
    EXPECT_EQ(LoadLibraryA("nothing_here.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(LoadLibraryA(nullptr), nullptr);

    HMODULE kernel = GetModuleHandleA("Kernel32.dll");
    ASSERT_NE(kernel, nullptr) << "always loaded";
    EXPECT_NE(GetProcAddress(kernel, "InitializeCriticalSectionAndSpinCount"), nullptr);
    ferolt::hooks::SetExportMissing("kernel32", "InitializeCriticalSectionAndSpinCount", true);
    EXPECT_EQ(GetProcAddress(kernel, "InitializeCriticalSectionAndSpinCount"), nullptr);
    ferolt::hooks::SetModuleMissing("KERNEL32.DLL", true);
    EXPECT_EQ(GetModuleHandleA("Kernel32.dll"), nullptr);
    ferolt::hooks::ResetMissingModules();
    EXPECT_NE(GetProcAddress(kernel, "InitializeCriticalSectionAndSpinCount"), nullptr);

    ferolt::win32::RegisterBuiltinModule("gone.dll", {});
    ferolt::hooks::SetModuleMissing("gone.dll", true);
    EXPECT_EQ(LoadLibraryA("gone.dll"), nullptr);
    EXPECT_EQ(GetProcAddress(reinterpret_cast<HMODULE>(0x1000), "x"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(Modules, StaticInitialiserRegistrationSurvivesStaticLinking)
{
    HMODULE module = LoadLibraryA("fixturemodule");
    ASSERT_NE(module, nullptr);
    auto answer = reinterpret_cast<int (*)()>(GetProcAddress(module, "Answer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    FreeLibrary(module);
}

TEST_F(Modules, ExecutableFileName)
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(path[0], '/');
    EXPECT_NE(std::string(path).find("win32_kernel_tests"), std::string::npos);
    char small[4];
    EXPECT_EQ(GetModuleFileNameA(GetModuleHandleA(nullptr), small, sizeof(small)), 4u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(small[3], '\0');
}
} // namespace
