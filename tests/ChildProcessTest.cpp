#include "TestSupport.h"
#include "system/CommandLine.h"

#include <OrnUtil/System.h>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <set>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using OrnUtil::CloseChildProcess;
using OrnUtil::CreateChildProcess;
using OrnUtil::SplitCommandLine;
using OrnUtil::TerminateChildProcess;
using OrnUtil::WaitChildProcess;
using testing::ElementsAre;
using testing::IsEmpty;
using namespace testing_support;

namespace {

using Args = std::vector<std::string>;

std::string ReadAll(int fd) {
    std::string text;
    char buffer[4096];
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) != 0) {
        if (got > 0)
            text.append(buffer, static_cast<size_t>(got));
        else if (errno != EINTR)
            break;
    }
    return text;
}

void WriteAll(int fd, const std::string& text) {
    ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
}

// A started child with the parent's ends of its pipes; everything is closed at the end.
struct Started {
    bool ok = false;
    int in = -1, out = -1, err = -1;
    void* process = nullptr;

    Started(const std::string& program, const std::string& arguments) {
        ok = CreateChildProcess(program, arguments, in, out, err, process, false);
    }
    ~Started() {
        CloseInput();
        for (int fd : {out, err})
            if (fd >= 0)
                close(fd);
        if (process != nullptr) {
            TerminateChildProcess(process);
            int code;
            WaitChildProcess(process, -1, code);
            CloseChildProcess(process);
        }
    }
    void CloseInput() {
        if (in >= 0)
            close(in);
        in = -1;
    }
    int Wait() {
        int code = -1000;
        EXPECT_TRUE(WaitChildProcess(process, -1, code));
        return code;
    }
};

std::string Probe() {
    return HelperPath("child_probe");
}

// What the probe received as argv, argv[0] included.
Args ArgsSeenByChild(const std::string& program, const std::string& arguments) {
    Started child(program, arguments);
    EXPECT_TRUE(child.ok);
    const std::string output = ReadAll(child.out);
    EXPECT_EQ(child.Wait(), 0);
    Args args;
    for (size_t start = 0, end; (end = output.find('\0', start)) != std::string::npos;
         start = end + 1)
        args.push_back(output.substr(start, end - start));
    return args;
}

std::set<int> DescriptorsSeenByChild(const std::string& output) {
    std::set<int> fds;
    std::istringstream lines(output);
    for (int fd; lines >> fd;)
        fds.insert(fd);
    return fds;
}

// True when this process has no child at all, running or ended and unreaped.
bool HasNoChildren() {
    return waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD;
}

TEST(CommandLine, SplitsAtBlanksWithQuotesGroupingAndBackslashesEscapingOnlyQuotes) {
    EXPECT_THAT(SplitCommandLine(""), IsEmpty());
    EXPECT_THAT(SplitCommandLine("prog"), ElementsAre("prog"));
    EXPECT_THAT(SplitCommandLine("prog  a\t b "), ElementsAre("prog", "a", "b"));
    EXPECT_THAT(SplitCommandLine("prog \"a b\" c"), ElementsAre("prog", "a b", "c"));
    EXPECT_THAT(SplitCommandLine("prog a\"b c\"d"), ElementsAre("prog", "ab cd"));
    EXPECT_THAT(SplitCommandLine("prog \"\" x"), ElementsAre("prog", "", "x"));
    EXPECT_THAT(SplitCommandLine("prog \"open to the end "),
                ElementsAre("prog", "open to the end "));
    EXPECT_THAT(SplitCommandLine("prog ; | $(id) `id` * 'a b' a\nb"),
                ElementsAre("prog", ";", "|", "$(id)", "`id`", "*", "'a", "b'", "a\nb"));
    // Backslashes escape only a quote.
    EXPECT_THAT(SplitCommandLine(R"(prog a\b a\\b a\)"),
                ElementsAre("prog", R"(a\b)", R"(a\\b)", R"(a\)"));
    EXPECT_THAT(SplitCommandLine(R"(prog \"a\")"), ElementsAre("prog", R"("a")"));
    EXPECT_THAT(SplitCommandLine(R"(prog a\\\"b)"), ElementsAre("prog", R"(a\"b)"));
    EXPECT_THAT(SplitCommandLine(R"(prog a\\\\"b c")"), ElementsAre("prog", R"(a\\b c)"));
    EXPECT_THAT(SplitCommandLine(R"(prog "a\"b c")"), ElementsAre("prog", R"(a"b c)"));
    // A doubled quote inside quotes is a literal quote that ends the group.
    EXPECT_THAT(SplitCommandLine(R"(prog "a""b")"), ElementsAre("prog", R"(a"b)"));
    EXPECT_THAT(SplitCommandLine(R"(prog "a""b c")"), ElementsAre("prog", R"(a"b)", "c"));
    EXPECT_THAT(SplitCommandLine(R"(prog """" x)"), ElementsAre("prog", R"(" x)"));
    EXPECT_THAT(SplitCommandLine(R"(prog """ x)"), ElementsAre("prog", R"(")", "x"));
    // The program has no escapes and ends at its closing quote.
    EXPECT_THAT(SplitCommandLine(R"("C:\Program Files\x.exe" -v)"),
                ElementsAre(R"(C:\Program Files\x.exe)", "-v"));
    EXPECT_THAT(SplitCommandLine(R"(C:\dir\x.exe a)"), ElementsAre(R"(C:\dir\x.exe)", "a"));
    EXPECT_THAT(SplitCommandLine(R"("prog"x y)"), ElementsAre("prog", "x", "y"));
    EXPECT_THAT(SplitCommandLine(R"(pro"g a" b)"), ElementsAre(R"(pro"g)", "a b"));
    EXPECT_THAT(SplitCommandLine(R"("unclosed prog)"), ElementsAre("unclosed prog"));
    EXPECT_THAT(SplitCommandLine(" x"), ElementsAre("", "x"));
}

TEST(ChildProcess, ArgumentsReachTheChildAsSplitWithoutAShell) {
    const std::string probe = Probe();
    EXPECT_THAT(ArgsSeenByChild(probe, "args ; | \"$(touch x)\" `id` * 'q' \"two words\" "
                                       "a\\\"b \"\" > /dev/null && exit 3"),
                ElementsAre(probe, "args", ";", "|", "$(touch x)", "`id`", "*", "'q'", "two words",
                            "a\"b", "", ">", "/dev/null", "&&", "exit", "3"));
    EXPECT_THAT(ArgsSeenByChild(probe, "args %PATH% $HOME ~"),
                ElementsAre(probe, "args", "%PATH%", "$HOME", "~"));
    // The program may be quoted, and the arguments may hold NUL-free text of any length.
    const std::string longArgument(100000, 'x');
    EXPECT_THAT(ArgsSeenByChild("\"" + probe + "\"", "args " + longArgument),
                ElementsAre(probe, "args", longArgument));
    // The command line ends at a NUL byte, as the C string it was.
    EXPECT_THAT(ArgsSeenByChild(probe, std::string("args a\0b", 8)),
                ElementsAre(probe, "args", "a"));
}

TEST(ChildProcess, AProgramWithoutSlashIsLookedForOnPath) {
    ScopedEnv path("PATH", "/nonexistent:" + HelperPath(""));
    EXPECT_THAT(ArgsSeenByChild("child_probe", "args x"), ElementsAre("child_probe", "args", "x"));
}

TEST(ChildProcess, FailedStartGivesNullHandleAndPipesAtTheirEnd) {
    TempDir dir;
    WriteFile(dir / "text", "not a program\n");
    for (const auto& [program, arguments] :
         std::vector<std::pair<std::string, std::string>>{{"/nonexistent/program", "a b"},
                                                          {"no-such-program-here", ""},
                                                          {dir / "text", ""},
                                                          {dir.Path(), ""},
                                                          {"", ""},
                                                          {"", "args"}}) {
        SCOPED_TRACE("program '" + program + "'");
        int in = -1, out = -1, err = -1;
        void* process = &in;
        EXPECT_FALSE(CreateChildProcess(program, arguments, in, out, err, process, true));
        EXPECT_EQ(process, nullptr);
        char byte;
        EXPECT_EQ(read(out, &byte, 1), 0);
        EXPECT_EQ(read(err, &byte, 1), 0);
        // Nobody reads the input pipe: a write would fail (poll shows the error without one).
        pollfd input{in, POLLOUT, 0};
        ASSERT_EQ(poll(&input, 1, 0), 1);
        EXPECT_NE(input.revents & POLLERR, 0);
        for (int fd : {in, out, err}) {
            EXPECT_GT(fd, 2);
            EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
            close(fd);
        }
    }
    EXPECT_TRUE(HasNoChildren());
}

TEST(ChildProcess, ExchangesOverItsStandardStreamsAndGivesItsExitCode) {
    Started child(Probe(), "echo 7");
    ASSERT_TRUE(child.ok);
    ASSERT_NE(child.process, nullptr);
    WriteAll(child.in, "first\nsecond\n");
    int code = -1000;
    // It waits for the end of its input, so it cannot have ended yet, nor end in a short wait.
    EXPECT_FALSE(WaitChildProcess(child.process, 0, code));
    EXPECT_FALSE(WaitChildProcess(child.process, 20, code));
    EXPECT_EQ(code, -1000);
    child.CloseInput();
    EXPECT_EQ(ReadAll(child.out), "out:first\nout:second\n");
    EXPECT_EQ(ReadAll(child.err), "err:first\nerr:second\n");
    EXPECT_TRUE(WaitChildProcess(child.process, 60000, code));
    EXPECT_EQ(code, 7);
    // Asked again, the same answer, however asked.
    EXPECT_EQ(child.Wait(), 7);
    EXPECT_TRUE(WaitChildProcess(child.process, 0, code));
    EXPECT_EQ(code, 7);
    EXPECT_FALSE(TerminateChildProcess(child.process));
}

TEST(ChildProcess, SignalsGive128PlusTheSignalAndANullHandleIsRefused) {
    Started raised(Probe(), "raise " + std::to_string(SIGTERM));
    EXPECT_EQ(raised.Wait(), 128 + SIGTERM);

    Started blocked(Probe(), "block");
    EXPECT_TRUE(TerminateChildProcess(blocked.process));
    EXPECT_EQ(blocked.Wait(), 128 + SIGKILL);

    // A termination from another thread ends a wait without limit.
    Started waited(Probe(), "block");
    std::thread killer([&waited] { EXPECT_TRUE(TerminateChildProcess(waited.process)); });
    EXPECT_EQ(waited.Wait(), 128 + SIGKILL);
    killer.join();

    // No process, nothing to wait for or end.
    int code = -1000;
    EXPECT_FALSE(WaitChildProcess(nullptr, -1, code));
    EXPECT_EQ(code, -1000);
    EXPECT_FALSE(TerminateChildProcess(nullptr));
    CloseChildProcess(nullptr);
}

TEST(ChildProcess, NoZombieRemainsAfterWaitingOrClosing) {
    {
        Started child(Probe(), "echo");
        child.CloseInput();
        EXPECT_EQ(child.Wait(), 0);
        EXPECT_TRUE(HasNoChildren());
    }
    {
        // Closed while it runs: it goes on, and once it has ended the next call reaps it.
        Started child(Probe(), "echo");
        CloseChildProcess(child.process);
        child.process = nullptr;
        WriteAll(child.in, "still served\n");
        child.CloseInput();
        EXPECT_EQ(ReadAll(child.out), "out:still served\n");
        siginfo_t info{};
        ASSERT_EQ(waitid(P_ALL, 0, &info, WEXITED | WNOWAIT), 0); // ended, not reaped
        int code;
        EXPECT_FALSE(WaitChildProcess(nullptr, 0, code));
        EXPECT_TRUE(HasNoChildren());
    }
    {
        // Closed after it ended, without a wait.
        Started child(Probe(), "echo");
        child.CloseInput();
        siginfo_t info{};
        ASSERT_EQ(waitid(P_ALL, 0, &info, WEXITED | WNOWAIT), 0);
        CloseChildProcess(child.process);
        child.process = nullptr;
        EXPECT_TRUE(HasNoChildren());
    }
}

TEST(ChildProcess, ChildrenInheritOnlyTheirStandardStreams) {
    int leaky[2];
    ASSERT_EQ(pipe(leaky), 0); // without close-on-exec, as an application may open one
    Started child(Probe(), "fds");
    std::set<int> seen = DescriptorsSeenByChild(ReadAll(child.out));
    EXPECT_EQ(child.Wait(), 0);
    EXPECT_EQ(seen.count(0) + seen.count(1) + seen.count(2), 3u);
    EXPECT_EQ(seen.count(leaky[0]) + seen.count(leaky[1]), 0u);
    close(leaky[0]);
    close(leaky[1]);

    // Nor do other children inherit the library's pipes.
    Started held(Probe(), "block");
    ASSERT_TRUE(held.ok);
    // Started without the library, by a spawn that passes on every inheritable descriptor.
    const RunResult other = testing_support::Run({Probe(), "fds"});
    ASSERT_EQ(other.exitCode, 0);
    seen = DescriptorsSeenByChild(other.out);
    for (int fd : {held.in, held.out, held.err})
        EXPECT_EQ(seen.count(fd), 0u) << "descriptor " << fd;
}

TEST(ChildProcess, ChildrenStartedFromManyThreadsEachSeeTheEndOfTheirOwnInput) {
    // A child that inherited another's input pipe would keep it open and never see its end.
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int round = 0; round < 5; ++round) {
                Started child(Probe(), "echo " + std::to_string(t + round));
                ASSERT_TRUE(child.ok);
                WriteAll(child.in, "thread " + std::to_string(t) + "\n");
                child.CloseInput();
                EXPECT_EQ(ReadAll(child.out), "out:thread " + std::to_string(t) + "\n");
                EXPECT_EQ(child.Wait(), t + round);
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_TRUE(HasNoChildren());
}

} // namespace
