#include "TestSupport.h"

#include <OrnUtil/System.h>
#include <csignal>
#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <future>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace OrnUtil;
using namespace testing_support;
using testing::ElementsAre;
using Strings = std::vector<std::string>;

namespace {

// Runs `work` on a thread of its own, whose identifier stays in use until the caller joins it.
std::thread FinishedThread(std::function<void()> work) {
    std::packaged_task<void()> task(std::move(work));
    std::future<void> done = task.get_future();
    std::thread thread(std::move(task));
    done.wait();
    return thread;
}

TEST(ThreadGroup, MembersJoinThroughAnyMemberAndTheSmallestKeyDecides) {
    const std::thread::id a = std::this_thread::get_id();
    ThreadGroup::CreateThreadGroup();
    std::thread b = FinishedThread([a] { ThreadGroup::AddThreadToGroup(a); });
    std::thread c = FinishedThread([&b] { ThreadGroup::AddThreadToGroup(b.get_id()); });
    ThreadGroup::AddThreadToGroup(c.get_id()); // listed twice; leaving removes the first
    ThreadGroup::RemoveThreadFromGroup();
    EXPECT_THAT(ThreadGroup::GetThreadGroupIds(), ElementsAre(b.get_id(), c.get_id(), a));
    std::thread d = FinishedThread(ThreadGroup::CreateThreadGroup);
    ThreadGroup::AddThreadToGroup(d.get_id()); // in two groups: the smaller key decides
    EXPECT_EQ(ThreadGroup::GetThreadGroupId(a), std::min(a, d.get_id()));
    ThreadGroup::DeleteThreadGroup(a);
    EXPECT_EQ(ThreadGroup::GetThreadGroupId(b.get_id()), std::thread::id());
    for (std::thread* thread : {&b, &c, &d})
        thread->join();
}

class CPlugin : public CLoadLibrary {
public:
    int (*m_Answer)() = nullptr;
    int m_Binds = 0, m_Unbinds = 0;
    int Bind() override {
        m_Answer = reinterpret_cast<int (*)()>(dlsym(m_hModule, "PluginAnswer"));
        return 6 + ++m_Binds;
    }
    void Unbind() override { ++m_Unbinds; }
};

TEST(LoadLibrary, LoadsBindsAndUnloadsThePluginAndRefusesWhatIsNoLibrary) {
    auto mapped = [] { return ReadFile("/proc/self/maps").find(TEST_PLUGIN) != std::string::npos; };
    auto plugin = std::make_unique<CPlugin>();
    for (const char* path : {__FILE__, "", static_cast<const char*>(nullptr)})
        EXPECT_EQ(plugin->Load(path), 1);
    plugin->Unload();                        // nothing loaded: no Unbind
    EXPECT_EQ(plugin->Load(TEST_PLUGIN), 7); // what Bind returns
    EXPECT_TRUE(plugin->IsLoaded() && mapped() && plugin->m_Answer() == 42);
    EXPECT_EQ(plugin->Load(TEST_PLUGIN), 1); // loaded already: no Bind
    plugin->Unload();
    EXPECT_FALSE(plugin->IsLoaded() || mapped());
    EXPECT_EQ(std::make_pair(plugin->m_Binds, plugin->m_Unbinds), std::make_pair(1, 1));
    EXPECT_EQ(plugin->Load(TEST_PLUGIN), 8);
    plugin.reset(); // closes the library without Unbind, which no override could answer now
    EXPECT_FALSE(mapped());
}

TEST(Names, SplitFileNamesStringsAndURLs) {
    // The path, then its name and extension; "kept" marks one left alone, with a false result.
    const Strings files[] = {{"report.tar.gz", "report.tar", "gz"}, {"d.d/f", "d", "d/f"},
                             {".profile", "", "profile"},           {"end.", "end", ""},
                             {"readme", "readme", "kept"},          {"", "", "kept"}};
    for (const Strings& c : files) {
        Strings split{c[0], "old", "kept"};
        EXPECT_EQ(SplitFileName(c[0], split[1], split[2]), c[2] != "kept");
        EXPECT_EQ(split, c);
    }
    EXPECT_THAT(SplitString(",a,,b", ','), ElementsAre("", "a", "", "b"));
    EXPECT_THAT(SplitString("a;b c,", {';', ' '}), ElementsAre("a", "b", "c,"));
    // The text ends at its first NUL byte, even for a NUL delimiter.
    EXPECT_THAT(SplitString(std::string("a,b\0,c", 6), ','), ElementsAre("a", "b"));
    EXPECT_THAT(SplitString(std::string("\0b", 2), '\0'), ElementsAre(""));
    EXPECT_THAT(SplitString("x\xffy", '\xff'), ElementsAre("x", "y"));
    // The URL, then its scheme, host, path and file; "?" marks a part left alone.
    const Strings urls[] = {
        {"HTTP://h:80/dir/sub/page.html", "http://", "h:80/", "dir/sub/", "page.html"},
        {"://h/q?a=b/", "://", "h/", "q?a=b/", ""},
        {"http://h//x", "http://", "h/", "p?/", "x"},
        {"http://h", "http://", "h?/", "p?/", "h"},
        {"file:///C:/dir/f.txt", "file://", "", "C:/dir/", "f.txt"},
        {"no scheme/here", "s?", "h?", "p?", "f?"},
    };
    for (const Strings& c : urls) {
        Strings split{c[0], "s?", "h?", "p?", "f?"};
        EXPECT_EQ(SplitURL(c[0], split[1], split[2], split[3], split[4]), c[1] != "s?");
        EXPECT_EQ(split, c);
    }
}

TEST(Names, ExpandEnvStringsReplacesSetVariablesOnly) {
    ScopedEnv set("ORN_SET", "value"), empty("ORN_EMPTY", ""), lower("orn_set", "lower");
    ScopedEnv unset("ORN_UNSET", std::nullopt);
    EXPECT_EQ(ExpandEnvStrings("a %ORN_SET% b%ORN_SET%%orn_set%[%ORN_EMPTY%]"),
              "a value bvaluelower[]");
    EXPECT_EQ(ExpandEnvStrings(std::string("%ORN_SET%\0%ORN_SET%", 19)),
              "value"); // ends at the NUL
    for (const char* kept : {"%ORN_UNSET%ORN_SET%", "%%", "5% of %ORN_SET%", "%ORN_SET=v%", ""})
        EXPECT_EQ(ExpandEnvStrings(kept), kept);
}

TEST(MakeDirectory, MakesEveryMissingLevelAndStopsAtTheFirstThatFails) {
    TempDir dir;
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path()); // where relative paths start
    WriteFile("file", "");
    // A name that exists counts as made, whatever it names.
    for (const std::string& path : Strings{"a/b", "a/b", "/", "", "d\\\\e//f/", dir.Path() + "//g",
                                           "file", std::string("\0/x", 3)})
        EXPECT_TRUE(MakeDirectory(path)) << path;
    for (const char* path : {"made/../file/deeper", "file/sub"})
        EXPECT_FALSE(MakeDirectory(path)) << path;
    for (const char* made : {"a/b", "d/e/f", "g", "made"})
        EXPECT_TRUE(std::filesystem::is_directory(made)) << made;
    std::filesystem::current_path(previous);
}

// A child of the probe, started on pipes; all of it is let go at the end.
struct Started {
    int in = -1, out = -1, err = -1;
    void* process = this; // CreateChildProcess always sets it
    const bool ok;
    Started(const std::string& arguments, const std::string& program = HelperPath("child_probe"))
        : ok(CreateChildProcess(program, arguments, in, out, err, process, false)) {}
    ~Started() {
        for (int fd : {in, out, err})
            close(fd);
        TerminateChildProcess(process);
        int code;
        WaitChildProcess(process, -1, code);
        CloseChildProcess(process);
    }
};

bool HasNoChildren() {
    return waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD;
}

TEST(ChildProcess, ArgumentsAreSplitAsOnWindowsWithoutAShell) {
    const std::string probe = HelperPath("child_probe");
    const std::pair<std::string, std::string> cases[] = {
        {"  a\t b \"a b\" c a\"b c\"d \"\" x \"to end ", "[a][b][a b][c][ab cd][][x][to end ]"},
        {"; $(id) `id` * 'a b' %PATH% a\nb", "[;][$(id)][`id`][*]['a][b'][%PATH%][a\nb]"},
        // A backslash escapes only a quote; within quotes, "" is a quote that ends the group.
        {R"(a\b a\\b a\ \"a\" a\\\"b a\\\\"b c" "a\"b c")",
         R"([a\b][a\\b][a\]["a"][a\"b][a\\b c][a"b c])"},
        {R"("a""b c")", R"([a"b][c])"},
        {R"(""" x)", R"(["][x])"},
        {std::string("a\0b", 3), "[a]"}, // the command line ends at a NUL byte
    };
    for (const auto& [arguments, expected] : cases)
        EXPECT_EQ(ReadToEnd(Started("args " + arguments, probe).out), expected);
    // A quoted program ends at its quote; one without "/" is looked for on PATH.
    EXPECT_EQ(ReadToEnd(Started("x", "\"" + probe + "\"args").out), "[x]");
    ScopedEnv path("PATH", "/nonexistent:" + HelperPath(""));
    EXPECT_EQ(ReadToEnd(Started("args y", "child_probe").out), "[y]");
}

TEST(ChildProcess, AProgramThatCannotStartGivesNoHandleAndPipesAtTheirEnd) {
    for (const std::string& program :
         Strings{"/nonexistent/program", "no-such-program", __FILE__, "/", "", " x"}) {
        Started child("", program);
        EXPECT_FALSE(child.ok || child.process != nullptr) << program;
        for (int fd : {child.in, child.out, child.err})
            EXPECT_TRUE(fd > 2 && (fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0) << fd;
        pollfd input{child.in, POLLOUT, 0}; // nobody reads: a write would fail
        EXPECT_TRUE(poll(&input, 1, 0) == 1 && (input.revents & POLLERR) != 0);
        EXPECT_EQ(ReadToEnd(child.err) + ReadToEnd(child.out), "");
    }
    EXPECT_TRUE(HasNoChildren());
}

TEST(ChildProcess, TalksOverItsStandardStreamsOnlyAndEndsWithACodeOrASignal) {
    int leaky[2];
    ASSERT_EQ(pipe(leaky), 0); // without close-on-exec, as an application may make one
    Started child("echo 7");
    close(leaky[1]);
    pollfd end{leaky[0], POLLIN, 0}; // no writer left: the child holds none
    EXPECT_TRUE(poll(&end, 1, 0) == 1 && (end.revents & POLLHUP) != 0);
    WriteAll(child.in, "first\nsecond\n");
    int code = -1000;
    // It waits for the end of its input, so it cannot end in a short wait.
    const size_t open = OpenDescriptors();
    EXPECT_FALSE(WaitChildProcess(child.process, 20, code));
    EXPECT_EQ(OpenDescriptors(), open) << "a wait keeps nothing open";
    close(std::exchange(child.in, -1));
    // Most likely still running: the wait itself sees it end.
    EXPECT_TRUE(code == -1000 && WaitChildProcess(child.process, 60000, code) && code == 7);
    EXPECT_EQ(ReadToEnd(child.out) + ReadToEnd(child.err),
              "out:first\nout:second\nerr:first\nerr:second\n");
    EXPECT_TRUE(WaitChildProcess(child.process, 0, code) && code == 7 && HasNoChildren());
    EXPECT_FALSE(TerminateChildProcess(child.process));
    close(leaky[0]);
    Started killed("echo");
    std::thread killer([&killed] { EXPECT_TRUE(TerminateChildProcess(killed.process)); });
    EXPECT_TRUE(WaitChildProcess(killed.process, -1, code) && code == 128 + SIGKILL);
    killer.join();
    EXPECT_FALSE(WaitChildProcess(nullptr, -1, code) || TerminateChildProcess(nullptr));
}

// The caller's blocked signals stay with the caller.
TEST(ChildProcess, StartsWithNoSignalBlocked) {
    sigset_t term, previous;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &term, &previous);
    Started child("-c \"kill -TERM $$; exit 3\"", "/bin/sh");
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    int code = 0;
    EXPECT_TRUE(child.ok && WaitChildProcess(child.process, -1, code));
    EXPECT_EQ(code, 128 + SIGTERM);
}

TEST(ChildProcess, LeavesNoZombieOnceClosed) {
    // Closed while it runs, it goes on; once it has ended, the next call of any of the three
    // process functions reaps it, as closing it then does.
    int code;
    const std::function<void()> reapers[] = {[] { CloseChildProcess(nullptr); },
                                             [&code] { WaitChildProcess(nullptr, 0, code); },
                                             [] { TerminateChildProcess(nullptr); }, nullptr};
    for (const std::function<void()>& reap : reapers) {
        Started child("echo");
        if (reap)
            CloseChildProcess(std::exchange(child.process, nullptr));
        WriteAll(child.in, "served\n");
        close(std::exchange(child.in, -1));
        EXPECT_EQ(ReadToEnd(child.out), "out:served\n");
        siginfo_t info{};
        ASSERT_EQ(waitid(P_ALL, 0, &info, WEXITED | WNOWAIT), 0); // ended, not reaped
        reap ? reap() : CloseChildProcess(std::exchange(child.process, nullptr));
        EXPECT_TRUE(HasNoChildren());
    }
}

} // namespace
