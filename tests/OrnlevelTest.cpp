#include "TestSupport.h"

#include <cstring>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace testing_support;
using testing::HasSubstr;

namespace {

class OrnlevelTest : public testing::Test {
protected:
    TempDir m_Dir;
    ScopedEnv m_AppData{"APPDATA", m_Dir.Path()};
    std::string m_File = m_Dir / "Marlek/ORN/DEBUG.CFG";

    int32_t Word(int index) {
        const std::string bytes = ReadFile(m_File);
        int32_t word = 0;
        std::memcpy(&word, bytes.data() + 4 * index, 4);
        return word;
    }
};

TEST_F(OrnlevelTest, WithoutArgumentsCreatesTheFileAndListsEverySubsystem) {
    const RunResult result = RunTool("ornlevel", {});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(ReadFile(m_File).size(), 32u);
    EXPECT_THAT(result.out, HasSubstr(m_File));
    for (const char* line : {"APP     WARN\n", "OTXLOG  WARN\n", "TEST    WARN\n"})
        EXPECT_THAT(result.out, HasSubstr(line));
}

TEST_F(OrnlevelTest, WritesTheFinestLevelsThatApplicationsCannot) {
    EXPECT_EQ(RunTool("ornlevel", {"flash", "debug3"}).exitCode, 0);
    EXPECT_EQ(Word(6), DEBUG3);
    EXPECT_EQ(Word(0), WARN);

    // A running process sees the word at its next statement, uncapped.
    ASSERT_TRUE(OrnUtil::CLog::Init(""));
    EXPECT_EQ(RunTool("ornlevel", {"APP", "Debug2"}).exitCode, 0);
    EXPECT_EQ(OrnUtil::CLog::ReportingLevel(APP), DEBUG2);
    OrnUtil::CLog::Shutdown();

    const RunResult all = RunTool("ornlevel", {"ALL", "error"});
    EXPECT_EQ(all.exitCode, 0);
    for (int subsys = 0; subsys < 8; ++subsys)
        EXPECT_EQ(Word(subsys), ERROR);
    EXPECT_THAT(all.out, HasSubstr("FLASH   ERROR\n"));
}

TEST_F(OrnlevelTest, UnknownNamesExitWithTwoAndListTheValidOnes) {
    const RunResult subsys = RunTool("ornlevel", {"FLAS", "INFO"});
    EXPECT_EQ(subsys.exitCode, 2);
    EXPECT_THAT(subsys.err, HasSubstr("APP WEB OTXLOG OTX ODX PDU FLASH TEST all"));
    const RunResult level = RunTool("ornlevel", {"APP", "DEBUG4"});
    EXPECT_EQ(level.exitCode, 2);
    EXPECT_THAT(level.err, HasSubstr("ERROR WARN NOTICE INFO DEBUG DEBUG1 DEBUG2 DEBUG3"));
    EXPECT_EQ(RunTool("ornlevel", {"APP"}).exitCode, 2);
    EXPECT_EQ(ReadFile(m_File), "") << "nothing is created on a usage error";
}

TEST_F(OrnlevelTest, LeavesALongerFileWholeAndShowsWordsThatAreNoLevel) {
    std::string content(40, '\0');
    const int32_t words[10] = {-1, 9, 1, 1, 1, 1, 1, 1, 77, 78};
    std::memcpy(content.data(), words, sizeof words);
    ASSERT_EQ(std::system(("mkdir -p " + m_Dir.Path() + "/Marlek/ORN").c_str()), 0);
    WriteFile(m_File, content);

    const RunResult shown = RunTool("ornlevel", {});
    EXPECT_THAT(shown.out, HasSubstr("APP     -1 (not a level: shows nothing)"));
    EXPECT_THAT(shown.out, HasSubstr("WEB     9 (not a level: shows everything)"));
    EXPECT_EQ(RunTool("ornlevel", {"OTX", "INFO"}).exitCode, 0);
    EXPECT_EQ(ReadFile(m_File).size(), 40u);
    EXPECT_EQ(ReadFile(m_File).substr(32), content.substr(32));
}

TEST_F(OrnlevelTest, AnUnusableFolderExitsWithOne) {
    WriteFile(m_Dir / "plain-file", "");
    ScopedEnv appData("APPDATA", m_Dir / "plain-file");
    const RunResult result = RunTool("ornlevel", {});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_THAT(result.err, HasSubstr("Not a directory"));
}

TEST_F(OrnlevelTest, HelpExplainsTheFileAndTheFinerLevels) {
    const RunResult help = RunTool("ornlevel", {"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_THAT(help.out, HasSubstr("DEBUG.CFG"));
    EXPECT_THAT(help.out, HasSubstr("DEBUG1 to DEBUG3"));
}

} // namespace
