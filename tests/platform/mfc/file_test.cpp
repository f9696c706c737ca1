// CFile and CMemFile.
#include "platform/mfc/afx_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace
{
class Files : public ::testing::Test
{
protected:
    void SetUp() override
    {
        path_ =
            (fs::temp_directory_path() / ("ferolt_cfile_" + std::to_string(GetCurrentProcessId()) + "_" +
                                          ::testing::UnitTest::GetInstance()->current_test_info()->name()))
                .string();
    }
    void TearDown() override { fs::remove(path_); }
    std::string path_;
};

TEST_F(Files, WriteSeekReadThroughCFile)
{
    {
        CFile file(path_.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary);
        file.Write("header", 6);
        file.Write("-body", 5);
        EXPECT_EQ(file.GetLength(), 11u);
        file.Close();
    }
    CFile file;
    ASSERT_TRUE(file.Open(path_.c_str(), CFile::modeRead | CFile::shareDenyWrite));
    EXPECT_EQ(file.Seek(-4, CFile::end), 7u);
    char buffer[16] = {};
    EXPECT_EQ(file.Read(buffer, sizeof(buffer)), 4u);
    EXPECT_STREQ(buffer, "body");
    EXPECT_EQ(file.Read(buffer, sizeof(buffer)), 0u) << "end of file";
    file.SeekToBegin();
    EXPECT_EQ(file.GetPosition(), 0u);
    EXPECT_EQ(file.GetFileName(), CString(fs::path(path_).filename().string()));
    try
    {
        file.Seek(-1, CFile::begin);
        ADD_FAILURE() << "a seek before the start must throw";
    }
    catch (CFileException* e)
    {
        EXPECT_EQ(e->m_cause, CFileException::badSeek);
        e->Delete();
    }
}

TEST_F(Files, OpenFailuresReportTheCause)
{
    struct Case
    {
        std::string path;
        UINT flags;
        int cause;
    } cases[] = {
        {path_ + ".missing", CFile::modeRead, CFileException::fileNotFound},
        {"/nonexistent_dir_for_ferolt/x", CFile::modeCreate | CFile::modeWrite, CFileException::badPath},
        {fs::temp_directory_path().string(), CFile::modeRead, CFileException::accessDenied},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.path);
        CFile file;
        CFileException error;
        EXPECT_FALSE(file.Open(c.path.c_str(), c.flags, &error));
        EXPECT_EQ(error.m_cause, c.cause);
        EXPECT_EQ(file.m_hFile, CFile::hFileNull);
        try
        {
            CFile thrown(c.path.c_str(), c.flags);
            ADD_FAILURE() << "the constructor must throw";
        }
        catch (CFileException* e)
        {
            EXPECT_EQ(e->m_cause, c.cause);
            char message[256];
            EXPECT_TRUE(e->GetErrorMessage(message, sizeof(message)));
            e->Delete();
        }
    }
}

TEST(MemFile, GrowsReadsSeeksAndDetaches)
{
    CMemFile file(4);
    file.Write("abcdef", 6);
    EXPECT_EQ(file.GetLength(), 6u);
    EXPECT_EQ(file.Seek(2, CFile::begin), 2u);
    char buffer[8] = {};
    EXPECT_EQ(file.Read(buffer, 3), 3u);
    EXPECT_STREQ(buffer, "cde");
    EXPECT_EQ(file.Seek(10, CFile::begin), 10u) << "seeking past the end is allowed";
    EXPECT_EQ(file.Read(buffer, 3), 0u);
    file.Write("Z", 1);
    EXPECT_EQ(file.GetLength(), 11u);
    file.SeekToBegin();
    char all[11];
    ASSERT_EQ(file.Read(all, sizeof(all)), 11u);
    EXPECT_EQ(std::string(all, 11), std::string("abcdef\0\0\0\0Z", 11)) << "the gap reads as zeros";
    try
    {
        file.Seek(-1, CFile::begin);
        ADD_FAILURE() << "a seek before the start must throw";
    }
    catch (CFileException* e)
    {
        EXPECT_EQ(e->m_cause, CFileException::badSeek);
        e->Delete();
    }
    file.SetLength(3);
    EXPECT_EQ(file.GetLength(), 3u);
    EXPECT_EQ(file.GetPosition(), 3u);
    BYTE* bytes = file.Detach();
    EXPECT_EQ(memcmp(bytes, "abc", 3), 0);
    free(bytes);
    EXPECT_EQ(file.GetLength(), 0u);
}

TEST(MemFile, AttachedFixedBufferCannotGrow)
{
    BYTE storage[4] = {'w', 'x', 'y', 'z'};
    CMemFile file(storage, sizeof(storage));
    EXPECT_EQ(file.GetLength(), 4u);
    char buffer[4];
    EXPECT_EQ(file.Read(buffer, 4), 4u);
    file.SeekToBegin();
    file.Write("AB", 2);
    EXPECT_EQ(storage[0], 'A');
    CMemoryException* thrown = nullptr;
    try
    {
        file.Write("12345", 5);
    }
    catch (CMemoryException* e)
    {
        thrown = e;
        e->Delete(); // static: not freed
    }
    EXPECT_NE(thrown, nullptr);
    EXPECT_EQ(file.GetLength(), 4u);
    EXPECT_EQ(storage[2], 'y') << "nothing written on failure";
}
} // namespace
