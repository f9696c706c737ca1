// CString.
#include "platform/mfc/afx.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

namespace
{
TEST(CString, OperationsAsATable)
{
    struct Case
    {
        const char* what;
        std::function<CString()> run;
        const char* expected;
    } cases[] = {
        {"MakeUpper ASCII only", [] { return CString("wood\xC3\xA4.jpg").MakeUpper(); }, "WOOD\xC3\xA4.JPG"},
        {"MakeLower", [] { return CString("C:\\DATA\\Wood.JPG").MakeLower(); }, "c:\\data\\wood.jpg"},
        {"Left", [] { return CString("abcdef").Left(2); }, "ab"},
        {"Left past end", [] { return CString("abc").Left(10); }, "abc"},
        {"Left negative", [] { return CString("abc").Left(-1); }, ""},
        {"Mid", [] { return CString("abcdef").Mid(2, 3); }, "cde"},
        {"Mid to end", [] { return CString("abcdef").Mid(4); }, "ef"},
        {"Mid negative start", [] { return CString("abcdef").Mid(-2, 3); }, "abc"},
        {"Mid past end", [] { return CString("abc").Mid(5, 2); }, ""},
        {"Right", [] { return CString("abcdef").Right(2); }, "ef"},
        {"Right past start", [] { return CString("ab").Right(5); }, "ab"},
        {"Format",
         []
         {
             CString s;
             s.Format("%s v%d.%d %05.2f %c", "Ferolt", 1, 1, 3.14159, 'x');
             return s;
         },
         "Ferolt v1.1 03.14 x"},
        {"Format long",
         []
         {
             CString s;
             s.Format("%s", std::string(5000, 'z').c_str());
             return CString(std::to_string(s.GetLength()).c_str());
         },
         "5000"},
        {"AppendFormat",
         []
         {
             CString s("n=");
             s.AppendFormat("%u", 42u);
             return s;
         },
         "n=42"},
        {"operator+", [] { return CString("a") + "b" + CString("c") + 'd'; }, "abcd"},
        {"const char* + CString", [] { return "x" + CString("y"); }, "xy"},
        {"+=",
         []
         {
             CString s("C:\\DATA");
             s += '\\';
             s += "WOOD.JPG";
             return s;
         },
         "C:\\DATA\\WOOD.JPG"},
        {"Replace",
         []
         {
             CString s("a.tmp.tmp");
             s.Replace(".tmp", ".chm");
             return s;
         },
         "a.chm.chm"},
        {"Trim", [] { return CString("  x y \t\r\n").Trim(); }, "x y"},
        {"TrimLeft chars", [] { return CString("\\\\name").TrimLeft('\\'); }, "name"},
        {"Delete and Insert",
         []
         {
             CString s("abcdef");
             s.Delete(1, 2);
             s.Insert(0, "X");
             return s;
         },
         "Xadef"},
        {"null pointer is empty", [] { return CString(static_cast<LPCSTR>(nullptr)); }, ""},
        {"repeat", [] { return CString('-', 3); }, "---"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        EXPECT_STREQ(static_cast<LPCSTR>(c.run()), c.expected);
    }
}

TEST(CString, FindAndCompare)
{
    CString s("C:\\MODELS>TEX\\WOOD.JPG");
    struct Case
    {
        int found, expected;
    } cases[] = {
        {s.Find('>'), 9},       {s.Find("\\"), 2},         {s.Find("\\", 3), 13}, {s.Find("none"), -1},
        {s.Find('C', 1), -1},   {s.Find('x', 100), -1},    {s.Find("J", -1), -1}, {s.ReverseFind('\\'), 13},
        {s.FindOneOf(".>"), 9}, {CString().Find('a'), -1},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(cases[i].found, cases[i].expected) << "case " << i;

    EXPECT_TRUE(CString("ABC") == "ABC");
    EXPECT_TRUE(CString("ABC") != CString("abc"));
    EXPECT_EQ(CString("ABC").CompareNoCase("abc"), 0);
    EXPECT_LT(CString("ABC").Compare("ABD"), 0);
    EXPECT_TRUE(CString("a") < CString("b"));
    EXPECT_EQ(s.GetLength(), 22);
    EXPECT_FALSE(s.IsEmpty());
    EXPECT_EQ(s[0], 'C');
    EXPECT_EQ(s.GetAt(100), '\0') << "out of range reads nothing";
}

TEST(CString, GetBufferAndReleaseBuffer)
{
    CString s("old");
    char* buffer = s.GetBuffer(260);
    EXPECT_STREQ(buffer, "old");
    strcpy(buffer, "C:\\Temp\\qelso1A2B.tmp");
    s.ReleaseBuffer();
    EXPECT_STREQ(s, "C:\\Temp\\qelso1A2B.tmp");
    EXPECT_EQ(s.GetLength(), 21);
    buffer = s.GetBuffer(4);
    s.ReleaseBuffer(3);
    EXPECT_STREQ(s, "C:\\");
    // A buffer filled without a zero stops at its own end.
    buffer = s.GetBufferSetLength(2);
    buffer[0] = 'a';
    buffer[1] = 'b';
    s.ReleaseBuffer();
    EXPECT_STREQ(s, "ab");
}

TEST(CString, LoadStringFromTheStringTable)
{
    CString s("unchanged");
    EXPECT_FALSE(s.LoadString(9999));
    EXPECT_STREQ(s, "unchanged");
    ASSERT_TRUE(s.LoadString(525));
    EXPECT_STREQ(s, "Bitmap (bmp)");
    CString fromId(MAKEINTRESOURCE(101));
    EXPECT_STREQ(fromId, "DirectX fehlt");
}
} // namespace
