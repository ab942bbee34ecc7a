#include "TestSupport.h"
#include "log/LogStatement.h"

#include <OrnUtil/Log.h>
#include <cstring>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <sys/stat.h>
#include <thread>

using OrnUtil::CLog;
using testing::MatchesRegex;
using namespace testing_support;

namespace OrnUtil {
// Logs through the library's idiom, as a class of the library would.
class CProbe {
public:
    virtual ~CProbe() = default;
    void Send(int error) { ORN_LOG(WARN, "OrnUtil::CProbe::Send") << "WSASend: " << error; }
    void Trace(TLogLevel level, int& evaluated) {
        ORN_LOG(level, "OrnUtil::CProbe::Trace") << "value " << ++evaluated;
    }
    void FromFile() { ORN_LOG_FILE(WARN, "CProbe::FromFile") << "Using proxy " << 3; }
};
class CDerivedProbe : public CProbe {};
} // namespace OrnUtil

namespace {

// gtest's regular expressions are POSIX extended ones: no \d.
const char* const TIME = "[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}";

std::string Header(const char* level) {
    return std::string(TIME) + level;
}

// Each test maps a level file of its own.
class LevelFileTest : public testing::Test {
protected:
    TempDir m_Dir;
    ScopedEnv m_AppData{"APPDATA", m_Dir.Path()};
    std::string m_File = m_Dir / "Marlek/ORN/DEBUG.CFG";

    void TearDown() override { CLog::Shutdown(); }

    std::string Words(std::initializer_list<int32_t> words) {
        std::string bytes;
        for (int32_t word : words)
            bytes.append(reinterpret_cast<const char*>(&word), 4);
        return bytes;
    }
    void Prepare(const std::string& content) {
        ASSERT_EQ(std::system(("mkdir -p " + m_Dir.Path() + "/Marlek/ORN").c_str()), 0);
        WriteFile(m_File, content);
    }
};

TEST(LogLevels, TextsArePaddedAndOutOfRangeValuesHaveFixedTexts) {
    EXPECT_EQ(CLog::LevelToString(WARN), " WARN   ");
    EXPECT_EQ(CLog::LevelToString(DEBUG3), " DEBUG3 ");
    for (int32_t level = ERROR; level <= DEBUG3; ++level)
        EXPECT_EQ(CLog::LevelToString(static_cast<TLogLevel>(level)).size(), 8u);
    EXPECT_EQ(CLog::LevelToString(static_cast<TLogLevel>(8)), "Invalid Level");
    EXPECT_EQ(CLog::LevelToString(static_cast<TLogLevel>(-1)), "Invalid Level");
    EXPECT_EQ(CLog::SubSysToString(FLASH), "FLASH");
    EXPECT_EQ(CLog::SubSysToString(static_cast<TLogSubSys>(8)), "Invalid SubSys");
    EXPECT_EQ(CLog::SubSysToString(static_cast<TLogSubSys>(0x7fffffff)), "Invalid SubSys");
}

TEST(LogLevels, LevelsAreFoundByContainmentAndSubsystemsByTheWholeName) {
    CapturedLog log;
    EXPECT_EQ(CLog::LevelFromString("DEBUG1"), DEBUG1);
    EXPECT_EQ(CLog::LevelFromString("DEBUG"), DEBUG);
    EXPECT_EQ(CLog::LevelFromString("DEBUG2"), DEBUG2);
    EXPECT_EQ(CLog::LevelFromString("ERR"), ERROR);
    EXPECT_EQ(CLog::LevelFromString("ARN"), WARN);
    EXPECT_EQ(CLog::LevelFromString(" WARN"), WARN);
    EXPECT_EQ(CLog::LevelFromString(""), ERROR);
    EXPECT_EQ(CLog::LevelFromString(" "), ERROR);
    EXPECT_EQ(CLog::SubSysFromString("OTX"), OTX);
    EXPECT_EQ(CLog::SubSysFromString("OTXLOG"), OTXLOG);
    EXPECT_EQ(CLog::SubSysFromString("TEST"), TEST);
    EXPECT_EQ(log.Text(), "") << "a name that is found is not warned about";
}

TEST(LogLevels, UnknownNamesAreWarnedAboutWhateverTheLevelAndGiveTheDefault) {
    TempDir dir;
    ScopedEnv appData("APPDATA", dir.Path());
    ASSERT_TRUE(CLog::Init(""));
    ASSERT_TRUE(CLog::ReportingLevel(APP, ERROR)); // the warnings ignore the level
    CapturedLog log;
    EXPECT_EQ(CLog::LevelFromString("debug"), DEBUG);
    EXPECT_EQ(CLog::SubSysFromString("AP"), APP);
    EXPECT_EQ(CLog::SubSysFromString(std::string("APP\0X", 5)), APP);
    EXPECT_THAT(
        log.Lines(),
        testing::ElementsAre(
            MatchesRegex(Header(" WARN   ") +
                         "Unknown logging level 'debug'\\. Using DEBUG level as default\\."),
            MatchesRegex(Header(" WARN   ") +
                         "Unknown subsystem 'AP'\\. Using APP subsystem as default\\."),
            // the line is written up to the NUL, as a "%s" write does
            MatchesRegex(Header(" WARN   ") + "Unknown subsystem 'APP")));
    CLog::Shutdown();
}

TEST(Logger, LinesCarryTimeAndLevelOrNothingAtAll) {
    CapturedLog log(WEB);
    CLog(WEB).Get(NOTICE, WEB) << "hello " << 42;
    CLog(WEB).QGet(ERROR, WEB) << "bare";
    { CLog empty(WEB); }
    CLog(WEB).Get(static_cast<TLogLevel>(9), WEB) << "x";
    EXPECT_THAT(log.Lines(),
                testing::ElementsAre(MatchesRegex(Header(" NOTICE ") + "hello 42"), "bare", "",
                                     MatchesRegex(std::string(TIME) + "Invalid Levelx")));
}

TEST(Logger, TheFirstStreamStaysUntilSetPipeReplacesIt) {
    EXPECT_EQ(CLog::SetPipe(ODX, stdout), nullptr);
    CapturedLog log(ODX);
    CLog(ODX, stderr).Get(WARN, ODX) << "to the captured stream";
    EXPECT_THAT(log.Text(), testing::HasSubstr("to the captured stream"));
    EXPECT_EQ(CLog::SetPipe(ODX, stdout), log.Stream());
    CLog::SetPipe(ODX, log.Stream()); // for the capture's own restore

    EXPECT_EQ(CLog::SetPipe(static_cast<TLogSubSys>(8), stdout), nullptr);
    CLog(static_cast<TLogSubSys>(8)).Get(WARN, APP) << "a subsystem outside the table is dropped";
}

TEST(Logger, ClearTruncatesFileStreamsAndIgnoresPipes) {
    TempDir dir;
    FILE* file = std::fopen((dir / "app.log").c_str(), "w");
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    FILE* pipeStream = fdopen(pipeFds[1], "w");
    CLog::SetPipe(TEST, file);
    CLog::SetPipe(PDU, pipeStream);
    CLog(TEST).Get(WARN, TEST) << "some text";
    ASSERT_GT(ReadFile(dir / "app.log").size(), 0u);
    CLog::Clear();
    EXPECT_EQ(ReadFile(dir / "app.log").size(), 0u);
    CLog::SetPipe(TEST, nullptr);
    CLog::SetPipe(PDU, nullptr);
    std::fclose(file);
    std::fclose(pipeStream);
    close(pipeFds[0]);
}

TEST(LoggingIdiom, WritesThreadClassLineAndFunctionOfTheDynamicType) {
    CapturedLog log;
    OrnUtil::CDerivedProbe probe;
    probe.Send(32);
    probe.FromFile();
    EXPECT_THAT(
        log.Lines(),
        testing::ElementsAre(MatchesRegex(Header(" WARN   ") +
                                          "[0-9a-f]+:class OrnUtil::CDerivedProbe:[0-9]+:"
                                          "OrnUtil::CProbe::Send:WSASend: 32"),
                             MatchesRegex(Header(" WARN   ") +
                                          "LogTest\\.cpp:[0-9]+:CProbe::FromFile:Using proxy 3")));
    const std::string tid = log.Lines()[0].substr(20);
    char hex[16];
    std::snprintf(hex, sizeof hex, "%x:", static_cast<unsigned>(gettid()));
    EXPECT_EQ(tid.rfind(hex, 0), 0u) << "the kernel's thread id, in lower-case hex";
}

TEST(LoggingIdiom, ASuppressedStatementEvaluatesNothing) {
    CapturedLog log;
    OrnUtil::CProbe probe;
    int evaluated = 0;
    probe.Trace(NOTICE, evaluated); // unmapped: WARN
    EXPECT_EQ(evaluated, 0);
    EXPECT_EQ(log.Text(), "");
    probe.Trace(ERROR, evaluated);
    EXPECT_EQ(evaluated, 1);
    if (false)
        ORN_LOG_FILE(ERROR, "x") << "the macro is one statement";
    else
        evaluated = 7;
    EXPECT_EQ(evaluated, 7);
}

TEST(LoggingIdiom, LinesFromManyThreadsStayWhole) {
    CapturedLog log;
    constexpr int THREADS = 8, LINES = 10000;
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t)
        threads.emplace_back([t] {
            OrnUtil::CProbe probe;
            for (int i = 0; i < LINES; ++i)
                probe.Send(t * LINES + i);
        });
    for (auto& thread : threads)
        thread.join();
    const std::regex line(Header(" WARN   ") +
                          "[0-9a-f]+:class OrnUtil::CProbe:[0-9]+:OrnUtil::CProbe::Send:"
                          "WSASend: ([0-9]+)");
    std::vector<bool> seen(THREADS * LINES);
    size_t whole = 0;
    for (const std::string& text : log.Lines()) {
        std::smatch match;
        if (std::regex_match(text, match, line) && !seen.at(std::stoul(match[1].str()))) {
            seen[std::stoul(match[1].str())] = true;
            ++whole;
        }
    }
    EXPECT_EQ(log.Lines().size(), size_t{THREADS * LINES});
    EXPECT_EQ(whole, size_t{THREADS * LINES});
}

TEST(ClassName, DemanglesToClassAndNamespace) {
    EXPECT_EQ(OrnUtil::className(typeid(OrnUtil::CHex).name()), "class OrnUtil::CHex");
    EXPECT_EQ(OrnUtil::className("not a mangled name"), "not a mangled name");
    EXPECT_EQ(OrnUtil::className(nullptr), "");
}

TEST_F(LevelFileTest, BeforeInitEverySubsystemReportsWarnAndCannotBeSet) {
    EXPECT_EQ(CLog::ReportingLevel(APP), WARN);
    EXPECT_EQ(CLog::ReportingLevel(static_cast<TLogSubSys>(-1)), WARN);
    EXPECT_FALSE(CLog::ReportingLevel(APP, DEBUG));
}

TEST_F(LevelFileTest, InitCreatesAPrivateFileOfWarnWordsOnce) {
    ASSERT_TRUE(CLog::Init("ignored"));
    EXPECT_EQ(ReadFile(m_File), Words({1, 1, 1, 1, 1, 1, 1, 1}));
    struct stat info {};
    ASSERT_EQ(stat(m_File.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    WriteFile(m_File + ".other", "");
    ASSERT_TRUE(CLog::ReportingLevel(WEB, INFO));
    EXPECT_TRUE(CLog::Init("")) << "a second Init keeps the mapping";
    EXPECT_EQ(CLog::ReportingLevel(WEB), INFO);
}

TEST_F(LevelFileTest, ShortFilesAreExtendedWithWarnWordsLongOnesLeftAlone) {
    Prepare(Words({3, 4, 5}));
    ASSERT_TRUE(CLog::Init(""));
    EXPECT_EQ(ReadFile(m_File), Words({3, 4, 5, 1, 1, 1, 1, 1}));
    EXPECT_EQ(CLog::ReportingLevel(OTXLOG), DEBUG1);
    CLog::Shutdown();

    const std::string longer = Words({7, 6, 5, 4, 3, 2, 1, 0, 9, 9});
    Prepare(longer);
    ASSERT_TRUE(CLog::Init(""));
    EXPECT_EQ(ReadFile(m_File), longer);
    EXPECT_EQ(CLog::ReportingLevel(APP), DEBUG3);
    EXPECT_EQ(CLog::ReportingLevel(TEST), ERROR);
    CLog::Shutdown();

    Prepare(Words({2}) + "xy"); // a torn word is kept, the new words follow it
    ASSERT_TRUE(CLog::Init(""));
    EXPECT_EQ(ReadFile(m_File), Words({2}) + "xy" + Words({1, 1, 1, 1, 1, 1, 1}));
}

TEST_F(LevelFileTest, LevelsAreStoredInPlaceAndCappedAtDebug) {
    ASSERT_TRUE(CLog::Init(""));
    EXPECT_TRUE(CLog::ReportingLevel(FLASH, DEBUG3));
    EXPECT_EQ(CLog::ReportingLevel(FLASH), DEBUG);
    EXPECT_EQ(ReadFile(m_File).substr(24, 4), Words({4}));
    EXPECT_FALSE(CLog::ReportingLevel(APP, static_cast<TLogLevel>(8)));
    EXPECT_FALSE(CLog::ReportingLevel(APP, static_cast<TLogLevel>(-1)));
    EXPECT_FALSE(CLog::ReportingLevel(static_cast<TLogSubSys>(8), WARN));
    EXPECT_EQ(ReadFile(m_File), Words({1, 1, 1, 1, 1, 1, 4, 1}));
}

TEST_F(LevelFileTest, WordsOutsideTheLevelsAreComparedNotIndexed) {
    Prepare(Words({-1, 8, 0x7fffffff, 1, 1, 1, 1, 1}));
    ASSERT_TRUE(CLog::Init(""));
    EXPECT_EQ(CLog::LevelToString(CLog::ReportingLevel(APP)), "Invalid Level");
    EXPECT_EQ(CLog::LevelToString(CLog::ReportingLevel(OTXLOG)), "Invalid Level");
    CapturedLog log;
    OrnUtil::CProbe probe;
    int evaluated = 0;
    probe.Trace(ERROR, evaluated); // APP at -1 silences even ERROR
    EXPECT_EQ(evaluated, 0);
    EXPECT_TRUE(CLog::ReportingLevel(APP, DEBUG));
    probe.Trace(DEBUG, evaluated);
    EXPECT_EQ(evaluated, 1);
    EXPECT_THAT(log.Text(), testing::HasSubstr("value 1"));
}

TEST_F(LevelFileTest, AnUnusableFolderFailsWithTheSystemsReason) {
    WriteFile(m_Dir / "plain-file", "");
    ScopedEnv appData("APPDATA", m_Dir / "plain-file");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(CLog::Init(""));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              std::string("CLog failed to initialise - ") + std::strerror(ENOTDIR) + "\n");
    EXPECT_EQ(CLog::ReportingLevel(APP), WARN);
    EXPECT_FALSE(CLog::ReportingLevel(APP, INFO));
}

TEST_F(LevelFileTest, TheFolderFallsBackFromAppDataToXdgToHome) {
    ScopedEnv noAppData("APPDATA", std::string());
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", m_Dir / "xdg");
        ASSERT_TRUE(CLog::Init(""));
        CLog::Shutdown();
        EXPECT_EQ(ReadFile(m_Dir / "xdg/Marlek/ORN/DEBUG.CFG").size(), 32u);
    }
    ScopedEnv noXdg("XDG_CONFIG_HOME", std::nullopt);
    ScopedEnv home("HOME", m_Dir / "home");
    ASSERT_TRUE(CLog::Init(""));
    EXPECT_EQ(ReadFile(m_Dir / "home/.config/Marlek/ORN/DEBUG.CFG").size(), 32u);
}

TEST_F(LevelFileTest, ShutdownFallsBackToWarnAndInitMapsAgain) {
    ASSERT_TRUE(CLog::Init(""));
    ASSERT_TRUE(CLog::ReportingLevel(APP, INFO));
    CLog::Shutdown();
    EXPECT_EQ(CLog::ReportingLevel(APP), WARN);
    EXPECT_FALSE(CLog::ReportingLevel(APP, INFO));
    ASSERT_TRUE(CLog::Init(""));
    EXPECT_EQ(CLog::ReportingLevel(APP), INFO);
}

TEST_F(LevelFileTest, ALevelSetInOneProcessIsSeenByAnotherAtItsNextStatement) {
    ASSERT_TRUE(CLog::Init(""));
    Child peer({HelperPath("level_peer")});
    ASSERT_EQ(peer.Receive(), "ready");
    peer.Send("statement");
    EXPECT_EQ(peer.Receive(), "hidden");

    ASSERT_TRUE(CLog::ReportingLevel(APP, INFO));
    peer.Send("statement");
    EXPECT_EQ(peer.Receive(), "shown");

    peer.Send("set 0");
    EXPECT_EQ(peer.Receive(), "1");
    EXPECT_EQ(CLog::ReportingLevel(APP), ERROR);
    CapturedLog log;
    OrnUtil::CProbe probe;
    int evaluated = 0;
    probe.Trace(WARN, evaluated);
    EXPECT_EQ(evaluated, 0) << "this process's statements follow the other's change";
    EXPECT_EQ(peer.Wait(), 0);
}

TEST(HexDump, LinesHaveTheClassicColumns) {
    const unsigned char bytes[] = {0x41, 0x42, 0x43};
    std::ostringstream out;
    out << OrnUtil::CHex(bytes, 3);
    EXPECT_EQ(out.str(), "\n| 0000 | 41 42 43 " + std::string(13 * 3, ' ') + " | ABC" +
                             std::string(13, ' ') + " |");
    EXPECT_EQ(out.str().size(), 79u);
}

TEST(HexDump, FullAndPartialLinesAndPrintableBoundaries) {
    unsigned char bytes[17];
    const unsigned char sample[] = {0x1F, 0x20, 0x7E, 0x7F, 0x80, 0xFF, 0x0a};
    for (unsigned i = 0; i < sizeof bytes; ++i)
        bytes[i] = sample[i % sizeof sample];
    OrnUtil::CHex hex(bytes, 16);
    std::ostringstream one;
    one << hex;
    EXPECT_EQ(one.str(),
              "\n| 0000 | 1F 20 7E 7F 80 FF 0A 1F 20 7E 7F 80 FF 0A 1F 20  | . ~..... ~.....  |");

    hex.Stream(bytes, 17);
    std::ostringstream both;
    hex.Get(both);
    hex.Get(both); // Get can be called again
    const std::string second = both.str().substr(79, 2 * 79);
    EXPECT_EQ(second.substr(0, 79), one.str()) << "each Stream starts again at offset 0000";
    EXPECT_EQ(second.substr(79),
              "\n| 0010 | 7E " + std::string(15 * 3, ' ') + " | ~" + std::string(15, ' ') + " |");
}

TEST(HexDump, EmptyAndLargeBlocks) {
    std::ostringstream empty;
    empty << OrnUtil::CHex("", 0);
    EXPECT_EQ(empty.str(), "");

    std::vector<unsigned char> large(0x10010, 0xAB);
    std::ostringstream out;
    out << OrnUtil::CHex(large.data(), static_cast<unsigned>(large.size()));
    const std::string text = out.str();
    EXPECT_EQ(text.size(), 0x1000u * 79 + 80) << "a five-digit offset widens only its own line";
    EXPECT_EQ(text.substr(0x1000 * 79, 13), "\n| 10000 | AB");
}

TEST(Identity, NameVersionAndDate) {
    EXPECT_EQ(OrnUtil::GetName(), "Utils");
    EXPECT_EQ(OrnUtil::GetVersion(), "4.0.0.51");
    EXPECT_EQ(OrnUtil::GetDate(), "Wed Jul 31 12:24:49 GMTST 2019");
}

} // namespace
