// Command-line parsing.
#include "platform/mfc/afx_cmdline.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{
TEST(CommandLine, FilesFlagsAndShellCommand)
{
    struct Case
    {
        const char* what;
        std::vector<const char*> arguments; // without the program name
        const char* fileName;
        int shellCommand;
        BOOL embedded;
    } cases[] = {
        {"nothing", {}, "", CCommandLineInfo::FileNew, FALSE},
        {"absolute path is a file",
         {"/home/x/a.tolvex"},
         "/home/x/a.tolvex",
         CCommandLineInfo::FileOpen,
         FALSE},
        {"first file wins", {"/a.tolvex", "/b.tolvex"}, "/a.tolvex", CCommandLineInfo::FileOpen, FALSE},
        {"flag before file", {"-Embedding", "x.tolvex"}, "x.tolvex", CCommandLineInfo::FileOpen, TRUE},
        {"double dash flag", {"--embedding"}, "", CCommandLineInfo::FileNew, TRUE},
        {"print", {"-p", "doc.tolvex"}, "doc.tolvex", CCommandLineInfo::FilePrint, FALSE},
        {"after -- every argument is a file",
         {"--", "-weird.tolvex"},
         "-weird.tolvex",
         CCommandLineInfo::FileOpen,
         FALSE},
        {"lone dash is a file", {"-"}, "-", CCommandLineInfo::FileOpen, FALSE},
        {"unknown flag ignored", {"-zoom", "/m/a.tolvex"}, "/m/a.tolvex", CCommandLineInfo::FileOpen, FALSE},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        std::vector<const char*> argv = {"/usr/bin/ferolt"};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        CCommandLineInfo info;
        ferolt::mfc::ParseCommandLine(info, static_cast<int>(argv.size()), argv.data());
        EXPECT_STREQ(info.m_strFileName, c.fileName);
        EXPECT_EQ(info.m_nShellCommand, c.shellCommand);
        EXPECT_EQ(info.m_bRunEmbedded, c.embedded);
    }
}

// A derived record sees every argument, as the original's overridable ParseParam promises.
struct Recorder : CCommandLineInfo
{
    std::vector<std::pair<std::string, bool>> seen;
    void ParseParam(const char* param, BOOL flag, BOOL last) override
    {
        seen.emplace_back(param, flag != FALSE);
        CCommandLineInfo::ParseParam(param, flag, last);
    }
};

TEST(CommandLine, OverriddenParseParamSeesFlagsWithoutTheirDash)
{
    const char* argv[] = {"ferolt", "-x", "/tmp/a.tolvex"};
    Recorder recorder;
    ferolt::mfc::ParseCommandLine(recorder, 3, argv);
    ASSERT_EQ(recorder.seen.size(), 2u);
    EXPECT_EQ(recorder.seen[0], std::make_pair(std::string("x"), true));
    EXPECT_EQ(recorder.seen[1], std::make_pair(std::string("/tmp/a.tolvex"), false));
}
} // namespace
