#include "TestSupport.h"
#include "log/LogStatement.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <iomanip>
#include <set>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

using OrnUtil::CLog;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::MatchesRegex;
using namespace testing_support;

namespace OrnUtil {
// Logs through the library's idiom, as a class of the library would. Its class text is longer
// than any buffer the line's prefix is gathered in.
template <typename T>
class CProbe {
public:
    virtual ~CProbe() = default;
    void Trace(TLogLevel level, int& evaluated) {
        ORN_LOG(level, "OrnUtil::CProbe::Trace") << "value " << ++evaluated;
    }
    void FromFile() { ORN_LOG_FILE(WARN, "CProbe::FromFile") << "Using proxy " << 3; }
};
using CLongProbe = CProbe<std::make_integer_sequence<int, 80>>;
} // namespace OrnUtil

namespace {

const std::string TIME = "[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}";

std::string Now() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    char text[16];
    std::strftime(text, 10, "%T.", std::localtime(&now.tv_sec));
    return text + std::to_string(1000 + now.tv_nsec / 1000000).substr(1);
}

// Digits grouped by thousands: a locale that one line could leave to the next.
struct Thousands : std::numpunct<char> {
    std::string do_grouping() const override { return "\3"; }
};

TEST(LogNames, LevelsAreFoundByContainmentAndSubsystemsByTheWholeName) {
    EXPECT_EQ(CLog::LevelToString(WARN) + CLog::LevelToString(static_cast<TLogLevel>(8)) +
                  CLog::SubSysToString(FLASH) + CLog::SubSysToString(static_cast<TLogSubSys>(8)),
              " WARN   Invalid LevelFLASHInvalid SubSys");
    CapturedLog log;
    EXPECT_THAT((std::vector<int>{CLog::LevelFromString("DEBUG1"), CLog::LevelFromString("DEBUG"),
                                  CLog::LevelFromString("ARN"), CLog::LevelFromString("")}),
                ElementsAre(DEBUG1, DEBUG, WARN, ERROR));
    EXPECT_THAT((std::vector<int>{CLog::SubSysFromString("OTX"), CLog::SubSysFromString("OTXLOG"),
                                  CLog::SubSysFromString("TEST")}),
                ElementsAre(OTX, OTXLOG, TEST));
    EXPECT_EQ(CLog::LevelFromString("APP") + CLog::SubSysFromString("AP"), DEBUG + APP);
    EXPECT_THAT(log.Lines(), ElementsAre(MatchesRegex(TIME + " WARN   .*'APP'.*"),
                                         MatchesRegex(TIME + " WARN   Unknown subsystem 'AP'.*")));
}

TEST(Logger, ALineIsTheTimeTheLevelAndAMessageThatNoOtherLineShapes) {
    CapturedLog log(WEB);
    const std::string before = Now();
    CLog(WEB).Get(NOTICE, WEB) << "hello " << 42;
    const std::string after = Now();
    CLog(WEB).QGet(INFO, WEB).exceptions(std::ios::badbit);
    const int word = std::ios_base::xalloc();
    {
        CLog failing(WEB); // a stream that fails takes the line's newline with it
        failing.Get(static_cast<TLogLevel>(9), WEB)
            << std::hex << std::setprecision(2) << std::setfill('*') << 255
            << static_cast<const char*>(nullptr) << std::setw(9);
    }
    CLog(WEB).QGet(ERROR, WEB) << 255 << ' ' << 1234567 << ' ' << 3.14159 << std::setw(3) << 7;
    static int erased = 0;
    { // a word of either kind, or a callback, keeps a stream from the next line, as a locale does
        CLog first(WEB), second(WEB), third(WEB);
        first.QGet(INFO, WEB).iword(word) = 1;
        second.QGet(INFO, WEB).pword(word) = &log;
        third.QGet(INFO, WEB).register_callback(
            [](std::ios_base::event event, std::ios_base&, int) {
                erased += event == std::ios_base::erase_event;
            },
            0);
    }
    EXPECT_EQ(erased, 1) << "the stream with a callback is gone";
    {
        CLog plain(WEB);
        plain.QGet(INFO, WEB).imbue(std::locale(std::locale(), new Thousands));
    }
    {
        CLog empty(WEB);
        std::ostringstream& line = empty.QGet(INFO, WEB);
        EXPECT_EQ(
            line.iword(word) + (line.pword(word) != nullptr) + (line.getloc() != std::locale()), 0);
    }
    CLog(WEB).QGet(INFO, WEB) << "cut" << '\0' << "lost"; // written up to the NUL, as "%s" is
    EXPECT_THAT(log.Lines(),
                ElementsAre(MatchesRegex(TIME + " NOTICE hello 42"), "",
                            MatchesRegex(TIME + "Invalid Levelff255 1234567 3\\.14159  7"), "", "",
                            "", "", "", "cut"));
    const std::string stamp = log.Lines()[0].substr(0, 12);
    EXPECT_TRUE((before <= stamp && stamp <= after) || after < before) << stamp << " " << before;
}

TEST(Logger, EachSubsystemKeepsTheFirstStreamItIsGivenUntilSetPipe) {
    TempDir dir;
    FILE* file = std::fopen((dir / "odx.log").c_str(), "w");
    CLog(ODX, file).QGet(WARN, ODX) << "to the file";
    CLog(ODX, stdout).QGet(WARN, ODX) << "and again";
    EXPECT_EQ(ReadFile(dir / "odx.log"), "to the file\nand again\n");
    CLog::Clear();
    EXPECT_EQ(ReadFile(dir / "odx.log"), "");
    EXPECT_EQ(CLog::SetPipe(ODX, nullptr), file);
    CLog(static_cast<TLogSubSys>(8)).Get(WARN, APP) << "a subsystem outside the table is dropped";
    std::fclose(file);
}

TEST(LoggingIdiom, WritesThreadClassLineAndFunctionOrNothingAtAll) {
    CapturedLog log;
    OrnUtil::CLongProbe probe;
    int evaluated = 0;
    probe.Trace(NOTICE, evaluated); // above WARN, the level without a file: not evaluated
    probe.Trace(WARN, evaluated);
    probe.FromFile();
    // Made before the logger's objects of the thread, it logs once they are gone.
    struct AtExit {
        int evaluated = 1;
        ~AtExit() { OrnUtil::CLongProbe().Trace(WARN, evaluated); }
    };
    std::thread([] {
        thread_local AtExit last;
        OrnUtil::CLongProbe().Trace(ERROR, last.evaluated);
    }).join();
    const std::string longClass = OrnUtil::className(typeid(probe).name());
    EXPECT_EQ(OrnUtil::className("not mangled") + OrnUtil::className(nullptr), "not mangled");
    char thread[16];
    std::snprintf(thread, sizeof thread, "%x:", static_cast<unsigned>(gettid()));
    const std::string other = TIME + "[A-Z ]{8}[0-9a-f]+:" + longClass + ":[0-9]+:";
    EXPECT_THAT(log.Lines(),
                ElementsAre(MatchesRegex(TIME + " WARN   " + thread + longClass +
                                         ":[0-9]+:OrnUtil::CProbe::Trace:value 1"),
                            MatchesRegex(TIME + " WARN   LogTest\\.cpp:[0-9]+:CProbe::FromFile:"
                                                "Using proxy 3"),
                            MatchesRegex(other + "OrnUtil::CProbe::Trace:value 2"),
                            MatchesRegex(other + "OrnUtil::CProbe::Trace:value 3")));
}

// Each test maps a level file of its own.
class LevelFile : public testing::Test {
protected:
    TempDir m_Dir;
    ScopedEnv m_AppData{"APPDATA", m_Dir.Path()};
    std::string m_File = m_Dir / "Marlek/ORN/DEBUG.CFG";

    void TearDown() override { CLog::Shutdown(); }
    // A process may queue itself a SIGBUS as only the kernel sends it to others.
    static void QueueBusError(int code, const void* address = nullptr) {
        siginfo_t info{};
        info.si_signo = SIGBUS;
        info.si_code = code;
        info.si_addr = const_cast<void*>(address);
        syscall(SYS_rt_sigqueueinfo, getpid(), SIGBUS, &info);
    }
    // Where the file is mapped, from the process's own map.
    const void* MappedAt() const {
        std::ifstream maps("/proc/self/maps");
        for (std::string line; std::getline(maps, line);)
            if (line.size() > m_File.size() &&
                line.compare(line.size() - m_File.size(), m_File.size(), m_File) == 0)
                return reinterpret_cast<const void*>(std::stoull(line, nullptr, 16));
        return nullptr;
    }
    static std::string Words(std::initializer_list<int32_t> words) {
        return std::string(reinterpret_cast<const char*>(words.begin()), 4 * words.size());
    }
};

TEST_F(LevelFile, InitMapsTheFileExtendedToEightWordsAndLevelsAreStoredThereCapped) {
    ASSERT_TRUE(CLog::Init("ignored"));
    EXPECT_TRUE(CLog::Init("")) << "a second Init keeps the mapping";
    struct stat info {};
    EXPECT_EQ(stat(m_File.c_str(), &info) == 0 ? info.st_mode & 0777 : 0, 0600u);
    EXPECT_FALSE(CLog::ReportingLevel(APP, static_cast<TLogLevel>(8)) ||
                 CLog::ReportingLevel(static_cast<TLogSubSys>(8), WARN));
    const std::string longer = Words({-1, 8, 9, 1, 1, 1, 1, 1, 9, 9}); // as any program wrote it
    const std::tuple<std::string, std::string, TLogSubSys, int32_t> cases[] = {
        {"", Words({1, 1, 1, 1, 1, 1, 1, 1}), TEST, WARN},
        {Words({3, 4, 5}), Words({3, 4, 5, 1, 1, 1, 1, 1}), OTXLOG, DEBUG1},
        {Words({2}) + "xy", Words({2}) + "xy" + Words({1, 1, 1, 1, 1, 1, 1}), APP, NOTICE},
        {longer, longer, APP, -1},
    };
    for (const auto& [before, after, subsys, level] : cases) {
        CLog::Shutdown();
        WriteFile(m_File, before);
        ASSERT_TRUE(CLog::Init(""));
        EXPECT_EQ(CLog::ReportingLevel(subsys), level);
        EXPECT_TRUE(CLog::ReportingLevel(subsys, DEBUG3));
        EXPECT_EQ(ReadFile(m_File),
                  after.substr(0, 4 * subsys) + Words({DEBUG}) + after.substr(4 * subsys + 4));
    }
    CLog::Shutdown();
    EXPECT_EQ(CLog::ReportingLevel(TEST), WARN);
    EXPECT_FALSE(CLog::ReportingLevel(TEST, INFO));
}

TEST_F(LevelFile, AnEmptyFolderVariableIsPassedOver) {
    ScopedEnv appData("APPDATA", ""), config("XDG_CONFIG_HOME", m_Dir.Path());
    ASSERT_TRUE(CLog::Init(""));
    EXPECT_EQ(ReadFile(m_File).size(), 32u);
}

TEST_F(LevelFile, AFileThatCannotServeHoldsNothingAfterShutdown) {
    testing::internal::CaptureStderr();
    const size_t open = OpenDescriptors();
    ASSERT_TRUE(CLog::Init(""));
    CLog::Shutdown();
    CLog::Shutdown();
    EXPECT_EQ(OpenDescriptors(), open);
    // A file that cannot be mapped (here descriptor 0) stays open, unannounced, until Shutdown.
    close(0);
    ASSERT_EQ(unlink(m_File.c_str()), 0);
    ASSERT_EQ(mkfifo(m_File.c_str(), 0600), 0);
    EXPECT_FALSE(CLog::Init(""));
    EXPECT_FALSE(CLog::Init(""));
    EXPECT_EQ(OpenDescriptors(), open);
    CLog::Shutdown();
    ScopedEnv appData("APPDATA", "/dev/null");
    EXPECT_FALSE(CLog::Init(""));
    EXPECT_EQ(OpenDescriptors(), open - 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              std::string("CLog failed to initialise - ") + std::strerror(ENOTDIR) + "\n");
}

// ornlevel, the file's editor, is a process of its own; this one sees what it sets at once.
TEST_F(LevelFile, ALevelSetInOneProcessIsSeenByAnotherAtItsNextStatement) {
    std::filesystem::create_directories(m_Dir / "Marlek/ORN");
    WriteFile(m_File, Words({-1, 9, 1, 1, 1, 1, 1, 1, 77, 78}));
    ASSERT_TRUE(CLog::Init(""));
    ASSERT_TRUE(CLog::ReportingLevel(OTXLOG, INFO));
    EXPECT_THAT(RunTool("ornlevel", {}).out,
                HasSubstr(m_File + "\nAPP     -1 (not a level: shows nothing)\n"
                                   "WEB     9 (not a level: shows everything)\nOTXLOG  INFO\n"));
    EXPECT_EQ(RunTool("ornlevel", {"flash", "Debug3"}).exitCode, 0);
    EXPECT_EQ(CLog::ReportingLevel(FLASH), DEBUG3) << "uncapped, and seen without a new Init";
    EXPECT_THAT(RunTool("ornlevel", {"ALL", "error"}).out,
                HasSubstr("FLASH   ERROR\nTEST    ERROR\n"));
    EXPECT_EQ(CLog::ReportingLevel(APP), ERROR);
    EXPECT_EQ(ReadFile(m_File).substr(32), Words({77, 78})) << "nothing past the table is touched";
}

// Shutdown leaves the table's page in place with WARN words of its own.
TEST_F(LevelFile, ALevelTestRacingShutdownReadsTheFilesLevelOrWarn) {
    ASSERT_TRUE(CLog::Init("") && CLog::ReportingLevel(FLASH, DEBUG));
    std::atomic<int> done{0}, strange{0};
    std::thread reader([&] {
        for (TLogLevel level = WARN; !done; level = CLog::ReportingLevel(FLASH))
            strange += level != WARN && level != DEBUG;
    });
    for (int round = 0; round < 2000; ++round) {
        CLog::Shutdown();
        CLog::Init("");
    }
    done = 1;
    reader.join();
    EXPECT_EQ(strange, 0);
}

// Anyone may cut the level file short (": > DEBUG.CFG"). The application's own handler, there
// before Init, sees no fault of the table, and every other one.
TEST_F(LevelFile, AFileCutShortReadsWarnUntilTheNextInitAndOtherBusErrorsGoOn) {
    static volatile sig_atomic_t seen = 0;
    struct sigaction own {};
    own.sa_handler = [](int) { seen = seen + 1; };
    own.sa_flags = SA_RESETHAND;
    sigaction(SIGBUS, &own, nullptr);
    ASSERT_TRUE(CLog::Init("") && CLog::ReportingLevel(PDU, DEBUG));
    ASSERT_EQ(truncate(m_File.c_str(), 0), 0);
    EXPECT_EQ(CLog::ReportingLevel(PDU), WARN);
    EXPECT_FALSE(CLog::ReportingLevel(PDU, INFO)) << "the table is the file's no longer";
    ASSERT_TRUE(CLog::Init("") && CLog::ReportingLevel(PDU, INFO)) << "the next Init maps it again";
    EXPECT_EQ(ReadFile(m_File), Words({1, 1, 1, 1, 1, INFO, 1, 1}));
    QueueBusError(BUS_ADRALN, MappedAt()); // whatever the kind of fault, within the table
    EXPECT_EQ(CLog::ReportingLevel(PDU), WARN);
    raise(SIGBUS);
    EXPECT_EQ(seen, 1);
}

// With no handler of the application's, a bus error outside the table takes the default action
// (or a sanitizer's, which reports and aborts). Ignored by the application, a sent one stays
// ignored while a fault that the kernel reports still kills.
TEST_F(LevelFile, ABusErrorOutsideTheTableKillsAsItWouldHaveWithoutInit) {
    const auto killedAsBefore = [](int status) {
        return WIFSIGNALED(status) || WEXITSTATUS(status) != 0;
    };
    EXPECT_EXIT((CLog::Init(""), raise(SIGBUS)), killedAsBefore, "");
    const auto ignoredThenQueued = [](int code) {
        std::signal(SIGBUS, SIG_IGN);
        CLog::Init("");
        QueueBusError(code);
        std::exit(0);
    };
    EXPECT_EXIT(ignoredThenQueued(SI_QUEUE), testing::ExitedWithCode(0), "");
    EXPECT_EXIT(ignoredThenQueued(BUS_ADRALN), killedAsBefore, "");
}

TEST_F(LevelFile, ProcessesLiveThroughALevelFileCutShortAndAppendOnlyWholeLongLines) {
    ASSERT_TRUE(CLog::Init(""));
    const std::string shared = m_Dir / "shared.log";
    std::set<std::string> whole; // every line the processes write, as written
    for (const char tag : {'a', 'b', 'c'}) {
        const std::string text(5000, tag);
        std::stringstream written;
        written << tag << OrnUtil::CHex(text.data(), 1024) << '\n' << tag << text << '\n';
        for (std::string line; std::getline(written, line);)
            whole.insert(line);
        if (fork() == 0) {
            CLog::SetPipe(APP, std::fopen(shared.c_str(), "a"));
            for (int round = 0; round < 1000; ++round)
                if (WARN <= CLog::ReportingLevel(APP)) {
                    CLog().QGet(WARN, APP) << tag << OrnUtil::CHex(text.data(), 1024);
                    CLog().QGet(WARN, APP) << tag << text;
                }
            _exit(0);
        }
    }
    // Until a child ends, without reaping it.
    for (siginfo_t ended{};
         waitid(P_ALL, 0, &ended, WEXITED | WNOHANG | WNOWAIT) == 0 && ended.si_pid == 0;) {
        ASSERT_EQ(truncate(m_File.c_str(), 0), 0);
        WriteFile(m_File, Words({WARN, WARN, WARN, WARN, WARN, WARN, WARN, WARN}));
    }
    for (int status = 0; wait(&status) > 0;)
        EXPECT_EQ(status, 0) << "killed by signal " << WTERMSIG(status);
    std::istringstream written(ReadFile(shared));
    size_t lines = 0;
    for (std::string line; std::getline(written, line);)
        lines += whole.count(line);
    EXPECT_EQ(lines, 3u * 1000 * (1 + 65)) << "each line whole, and none missing";
}

TEST_F(LevelFile, OrnlevelRefusesUnknownNamesAndAnUnusableFolder) {
    const RunResult unknown = RunTool("ornlevel", {"FLAS", "INFO"});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_THAT(unknown.err, HasSubstr(": APP WEB OTXLOG OTX ODX PDU FLASH TEST all\n"));
    EXPECT_EQ(
        RunTool("ornlevel", {"APP", "debug4"}).exitCode + RunTool("ornlevel", {"APP"}).exitCode, 4);
    ScopedEnv unusable("APPDATA", "/dev/null");
    EXPECT_EQ(RunTool("ornlevel", {}).exitCode, 1);
}

TEST(HexDump, LinesHaveOffsetSixteenCellsAndThePrintableBytesEachDumpFromZero) {
    const std::string blank(48, ' ');
    const std::pair<std::string, std::string> cases[] = {
        {"ABC", "\n| 0000 | 41 42 43 " + blank.substr(9) + " | ABC" + blank.substr(35) + " |"},
        {"\x1F\x20\x7E\x7F\x80\xFF\x0A\x1F\x20\x7E\x7F\x80\xFF\x0A\x1F\x20~",
         "\n| 0000 | 1F 20 7E 7F 80 FF 0A 1F 20 7E 7F 80 FF 0A 1F 20  | . ~..... ~.....  |"
         "\n| 0010 | 7E " +
             blank.substr(3) + " | ~" + blank.substr(33) + " |"},
    };
    for (const auto& [bytes, dump] : cases) {
        OrnUtil::CHex hex(bytes.data(), static_cast<unsigned>(bytes.size()));
        hex.Stream(bytes.data(), static_cast<unsigned>(bytes.size()));
        std::ostringstream out;
        hex.Get(out) << hex;
        EXPECT_EQ(out.str(), dump + dump + dump + dump) << bytes;
    }
    std::string row = " | " + std::string(16, 'x') + " |"; // of 'x' bytes, past the offset
    for (int cell = 0; cell < 16; ++cell)
        row.insert(0, "78 ");
    const std::string large(0x10010, 'x');
    std::ostringstream expected, out;
    for (unsigned offset = 0; offset < 2 * large.size(); offset += 16)
        expected << "\n| " << std::setw(4) << std::setfill('0') << std::uppercase << std::hex
                 << offset % large.size() << " | " << row;
    OrnUtil::CHex hex(large.data(), 0x10010);
    hex.Stream(large.data(), 0x10010);
    out << hex;
    EXPECT_EQ(out.str(), expected.str()) << "offsets of five digits push their lines right";
}

} // namespace
