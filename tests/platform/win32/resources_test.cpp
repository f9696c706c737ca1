// Resources embedded by ferolt_embed_resources (resources/resources.txt).
#include "platform/win32/winbase.h"

#include <gtest/gtest.h>

#include <string>

namespace
{
std::string ResourceText(LPCSTR name, LPCSTR type)
{
    HRSRC resource = FindResourceA(nullptr, name, type);
    if (!resource) return "<missing>";
    HGLOBAL loaded = LoadResource(nullptr, resource);
    const char* data = static_cast<const char*>(LockResource(loaded));
    DWORD size = SizeofResource(nullptr, resource);
    EXPECT_EQ(data[size], '\0') << "a zero follows every resource";
    return std::string(data, size);
}

TEST(Resources, FoundByIdNameAndType)
{
    struct Case
    {
        const char* what;
        LPCSTR name;
        LPCSTR type;
        std::string content;
    } cases[] = {
        {"integer type and id", MAKEINTRESOURCE(101), RT_RCDATA,
         std::string("R\0C\xFF"
                     "D",
                     5)},
        {"custom string type", MAKEINTRESOURCE(542), "HelpFile", "help pages"},
        {"type in other case", MAKEINTRESOURCE(542), "HELPFILE", "help pages"},
        {"string name any case", "DEFAULT", "fx", "technique T { pass P { } }\n"},
        {"#-number names", "#542", "HelpFile", "help pages"},
        {"bitmap without file header", MAKEINTRESOURCE(539), RT_BITMAP, "pixels"},
        {"HTML by name", "index", "HTML", "technique T { pass P { } }\n"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ResourceText(c.name, c.type), c.content);
    }
}

TEST(Resources, MissingTypeOrNameFails)
{
    EXPECT_EQ(FindResourceA(nullptr, MAKEINTRESOURCE(1), "NoSuchType"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_TYPE_NOT_FOUND);
    EXPECT_EQ(FindResourceA(nullptr, MAKEINTRESOURCE(543), "HelpFile"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
    EXPECT_EQ(FindResourceA(GetModuleHandleA("Kernel32.dll"), MAKEINTRESOURCE(542), "HelpFile"), nullptr);
    EXPECT_EQ(LoadResource(nullptr, reinterpret_cast<HRSRC>(0x1234)), nullptr);
    EXPECT_EQ(SizeofResource(nullptr, reinterpret_cast<HRSRC>(0x1234)), 0u);
}

TEST(Resources, LoadStringCopiesWholeCharacters)
{
    char buffer[64];
    struct Case
    {
        UINT id;
        int size;
        int result;
        const char* text;
    } cases[] = {
        {101, 64, 47, "Einige Komponenten fehlen.\r\nJetzt installieren?"},
        {526, 64, 5, "H\xC3\xB6he"},
        {526, 3, 1, "H"}, // the two bytes of the umlaut do not fit in two bytes with the zero
        {525, 7, 6, "Bitmap"},
        {7, 64, 5, "seven"},
        {8, 64, 0, ""},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.id);
        EXPECT_EQ(LoadStringA(nullptr, c.id, buffer, c.size), c.result);
        EXPECT_STREQ(buffer, c.text);
    }
    EXPECT_EQ(LoadStringA(nullptr, 7, nullptr, 10), 0);
}

TEST(Resources, StringTableBlocksHoldCountedUtf16)
{
    // String 526 is slot 14 of block 33 (526 / 16 + 1).
    HRSRC block = FindResourceA(nullptr, MAKEINTRESOURCE(33), RT_STRING);
    ASSERT_NE(block, nullptr);
    const auto* words = static_cast<const uint16_t*>(LockResource(LoadResource(nullptr, block)));
    size_t at = 0;
    for (int slot = 0; slot < 14; ++slot)
        at += 1 + words[at];
    ASSERT_EQ(words[at], 4);
    EXPECT_EQ(words[at + 1], u'H');
    EXPECT_EQ(words[at + 2], 0x00F6);
    EXPECT_EQ(words[at + 4], u'e');
}
} // namespace
