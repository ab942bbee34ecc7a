#include "TestSupport.h"

#include <OrnUtil/System.h>
#include <atomic>
#include <condition_variable>
#include <dlfcn.h>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using OrnUtil::ThreadGroup;
using testing::ElementsAre;
using testing::IsEmpty;
using namespace testing_support;

namespace {

using Ids = std::list<std::thread::id>;

// Runs `work` on a thread of its own, one step at a time: each Step() runs the next piece of work
// there and returns once it is done, so that tests can interleave threads in a fixed order.
class StepThread {
public:
    StepThread() : m_Thread([this] { Loop(); }) {}
    ~StepThread() {
        Step([this] { m_Stop = true; });
        m_Thread.join();
    }
    std::thread::id Id() const { return m_Thread.get_id(); }
    void Step(std::function<void()> work) {
        std::unique_lock<std::mutex> lock(m_Lock);
        m_Work = std::move(work);
        m_Changed.notify_all();
        m_Changed.wait(lock, [this] { return !m_Work; });
    }

private:
    void Loop() {
        std::unique_lock<std::mutex> lock(m_Lock);
        while (!m_Stop) {
            m_Changed.wait(lock, [this] { return static_cast<bool>(m_Work); });
            m_Work();
            m_Work = nullptr;
            m_Changed.notify_all();
        }
    }

    std::mutex m_Lock;
    std::condition_variable m_Changed;
    std::function<void()> m_Work;
    bool m_Stop = false;
    std::thread m_Thread;
};

TEST(ThreadGroup, MembersJoinTheGroupOfTheThreadTheyName) {
    const std::thread::id a = std::this_thread::get_id();
    EXPECT_EQ(ThreadGroup::GetThreadGroupId(a), std::thread::id());
    EXPECT_THAT(ThreadGroup::GetThreadGroupIds(), IsEmpty());
    ThreadGroup::CreateThreadGroup();
    EXPECT_THAT(ThreadGroup::GetThreadGroupIds(), ElementsAre(a));
    EXPECT_EQ(ThreadGroup::GetThreadGroupId(a), a);

    StepThread b, c;
    b.Step([a] { ThreadGroup::AddThreadToGroup(a); });
    c.Step([&b] { ThreadGroup::AddThreadToGroup(b.Id()); }); // naming any member joins its group
    b.Step([&] { EXPECT_THAT(ThreadGroup::GetThreadGroupIds(), ElementsAre(a, b.Id(), c.Id())); });
    EXPECT_EQ(ThreadGroup::GetThreadGroupId(c.Id()), a);

    // Founding again keeps the members; a stranger cannot join through a thread in no group.
    ThreadGroup::CreateThreadGroup();
    StepThread stranger;
    c.Step([&stranger] { ThreadGroup::AddThreadToGroup(stranger.Id()); });
    EXPECT_THAT(ThreadGroup::GetThreadGroupIds(), ElementsAre(a, b.Id(), c.Id()));

    // Joining twice lists twice; leaving removes the first occurrence only.
    b.Step([a] { ThreadGroup::AddThreadToGroup(a); });
    b.Step([] { ThreadGroup::RemoveThreadFromGroup(); });
    EXPECT_THAT(ThreadGroup::GetThreadGroupIds(), ElementsAre(a, c.Id(), b.Id()));

    // The founder leaving keeps the group under its key.
    ThreadGroup::RemoveThreadFromGroup();
    EXPECT_EQ(ThreadGroup::GetThreadGroupId(c.Id()), a);
    EXPECT_THAT(ThreadGroup::GetThreadGroupIds(), IsEmpty());
    c.Step([&] { EXPECT_THAT(ThreadGroup::GetThreadGroupIds(), ElementsAre(c.Id(), b.Id())); });

    ThreadGroup::DeleteThreadGroup(stranger.Id()); // no such group
    EXPECT_EQ(ThreadGroup::GetThreadGroupId(b.Id()), a);
    ThreadGroup::DeleteThreadGroup(a);
    EXPECT_EQ(ThreadGroup::GetThreadGroupId(b.Id()), std::thread::id());
    EXPECT_EQ(ThreadGroup::GetThreadGroupId(c.Id()), std::thread::id());
}

TEST(ThreadGroup, TheGroupWithTheSmallestKeyDecidesForAThreadInSeveral) {
    StepThread first, second, member;
    first.Step([] { ThreadGroup::CreateThreadGroup(); });
    second.Step([] { ThreadGroup::CreateThreadGroup(); });
    member.Step([&] { ThreadGroup::AddThreadToGroup(first.Id()); });
    member.Step([&] { ThreadGroup::AddThreadToGroup(second.Id()); });
    const std::thread::id smaller = std::min(first.Id(), second.Id());
    const std::thread::id larger = std::max(first.Id(), second.Id());
    EXPECT_EQ(ThreadGroup::GetThreadGroupId(member.Id()), smaller);

    // Leaving, it leaves the smaller group; then the larger one decides.
    member.Step([] { ThreadGroup::RemoveThreadFromGroup(); });
    EXPECT_EQ(ThreadGroup::GetThreadGroupId(member.Id()), larger);
    member.Step(
        [&] { EXPECT_THAT(ThreadGroup::GetThreadGroupIds(), ElementsAre(larger, member.Id())); });
    ThreadGroup::DeleteThreadGroup(larger);
    ThreadGroup::DeleteThreadGroup(smaller);
}

TEST(ThreadGroup, ManyThreadsFoundJoinAndLeaveAtOnce) {
    constexpr int GROUPS = 6;
    constexpr int MEMBERS = 5;
    constexpr int ROUNDS = 50;
    std::atomic<int> founded{0};
    std::vector<std::thread::id> founders(GROUPS);
    std::vector<std::thread> threads;
    std::atomic<bool> membersDone{false};
    std::atomic<int> membersFinished{0};
    for (int g = 0; g < GROUPS; ++g) {
        threads.emplace_back([&, g] {
            ThreadGroup::CreateThreadGroup();
            founders[g] = std::this_thread::get_id();
            ++founded;
            // The founder watches its group change under it: every copy holds it first.
            while (!membersDone) {
                const Ids ids = ThreadGroup::GetThreadGroupIds();
                ASSERT_FALSE(ids.empty());
                EXPECT_EQ(ids.front(), std::this_thread::get_id());
                EXPECT_LE(ids.size(), 1u + MEMBERS);
            }
        });
    }
    while (founded < GROUPS)
        std::this_thread::yield();
    for (int g = 0; g < GROUPS; ++g)
        for (int m = 0; m < MEMBERS; ++m)
            threads.emplace_back([&, g] {
                const std::thread::id self = std::this_thread::get_id();
                for (int round = 0; round < ROUNDS; ++round) {
                    ThreadGroup::AddThreadToGroup(founders[g]);
                    EXPECT_EQ(ThreadGroup::GetThreadGroupId(self), founders[g]);
                    ThreadGroup::RemoveThreadFromGroup();
                    EXPECT_EQ(ThreadGroup::GetThreadGroupId(self), std::thread::id());
                }
                if (++membersFinished == GROUPS * MEMBERS)
                    membersDone = true;
            });
    for (auto& thread : threads)
        thread.join();
    for (std::thread::id founder : founders) {
        EXPECT_EQ(ThreadGroup::GetThreadGroupId(founder), founder);
        ThreadGroup::DeleteThreadGroup(founder);
        EXPECT_EQ(ThreadGroup::GetThreadGroupId(founder), std::thread::id());
    }
}

int unbindCalls = 0; // also counts the calls of objects that are gone

// A binding that counts the calls the base makes to it.
class CPlugin : public CLoadLibrary {
public:
    int (*m_Answer)() = nullptr;
    int m_Binds = 0;
    int m_Unbinds = 0;
    int m_BindResult = 0;

    void* Handle() const { return m_hModule; }
    int Bind() override {
        ++m_Binds;
        m_Answer = reinterpret_cast<int (*)()>(dlsym(m_hModule, "PluginAnswer"));
        return m_BindResult;
    }
    void Unbind() override {
        ++m_Unbinds;
        ++unbindCalls;
        m_Answer = nullptr;
    }
};

bool PluginMapped() {
    return ReadFile("/proc/self/maps").find(TEST_PLUGIN) != std::string::npos;
}

TEST(LoadLibrary, LoadsBindsAndUnloadsAPluginAndADestroyedObjectUnloadsWithoutUnbind) {
    CPlugin plugin;
    EXPECT_FALSE(plugin.IsLoaded());
    plugin.Unload(); // nothing loaded: no Unbind
    EXPECT_EQ(plugin.m_Unbinds, 0);

    plugin.m_BindResult = 0;
    EXPECT_EQ(plugin.Load(TEST_PLUGIN), 0);
    EXPECT_TRUE(plugin.IsLoaded());
    EXPECT_TRUE(PluginMapped());
    ASSERT_NE(plugin.m_Answer, nullptr);
    EXPECT_EQ(plugin.m_Answer(), 42);

    // Loaded already: 1, and Bind is not called again.
    EXPECT_EQ(plugin.Load(TEST_PLUGIN), 1);
    EXPECT_EQ(plugin.m_Binds, 1);

    plugin.Unload();
    EXPECT_FALSE(plugin.IsLoaded());
    EXPECT_EQ(plugin.m_Unbinds, 1);
    EXPECT_EQ(plugin.m_Answer, nullptr);
    EXPECT_FALSE(PluginMapped());

    // Bind's result is Load's, and the library stays loaded whatever it is.
    plugin.m_BindResult = 7;
    EXPECT_EQ(plugin.Load(TEST_PLUGIN), 7);
    EXPECT_TRUE(plugin.IsLoaded());
    plugin.Unload();

    // Destroying a loaded object unloads without Unbind.
    const int unbindsBefore = unbindCalls;
    {
        CPlugin destroyed;
        ASSERT_EQ(destroyed.Load(TEST_PLUGIN), 0);
        ASSERT_TRUE(PluginMapped());
    }
    EXPECT_EQ(unbindCalls, unbindsBefore);
    EXPECT_FALSE(PluginMapped());
}

TEST(LoadLibrary, APathThatCannotLoadGivesOneWithoutBind) {
    TempDir dir;
    WriteFile(dir / "fake.so", "not a library");
    const std::string fake = dir / "fake.so";
    CPlugin plugin;
    for (const char* path : {"/nonexistent/libnothing.so", fake.c_str(), dir.Path().c_str(), "",
                             static_cast<const char*>(nullptr)}) {
        EXPECT_EQ(plugin.Load(path), 1) << (path ? path : "null");
        EXPECT_FALSE(plugin.IsLoaded());
    }
    EXPECT_EQ(plugin.m_Binds, 0);
}

TEST(LoadLibrary, LoadAndUnloadFromManyThreadsBindOncePerLoad) {
    CPlugin plugin;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&plugin] {
            for (int i = 0; i < 50; ++i) {
                plugin.Load(TEST_PLUGIN);
                plugin.Unload();
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(plugin.m_Binds, plugin.m_Unbinds);
    EXPECT_GT(plugin.m_Binds, 0);
}

TEST(Names, SplitFileNameAtTheLastDot) {
    struct Case {
        const char* path;
        bool split;
        const char* name;
        const char* extension;
    };
    for (const Case& c :
         {Case{"report.tar.gz", true, "report.tar", "gz"},
          Case{"dir.d/readme", true, "dir", "d/readme"}, Case{".profile", true, "", "profile"},
          Case{"trailing.", true, "trailing", ""}, Case{"readme", false, "readme", "kept"},
          Case{"", false, "", "kept"}}) {
        std::string name = "old", extension = "kept";
        EXPECT_EQ(OrnUtil::SplitFileName(c.path, name, extension), c.split) << c.path;
        EXPECT_EQ(name, c.name) << c.path;
        EXPECT_EQ(extension, c.extension) << c.path;
    }
}

TEST(Names, SplitStringKeepsEveryEmptyToken) {
    using OrnUtil::SplitString;
    EXPECT_THAT(SplitString("a,b,,c", ','), ElementsAre("a", "b", "", "c"));
    EXPECT_THAT(SplitString(",a,", ','), ElementsAre("", "a", ""));
    EXPECT_THAT(SplitString("", ','), ElementsAre(""));
    EXPECT_THAT(SplitString(",", ','), ElementsAre("", ""));
    EXPECT_THAT(SplitString("abc", ','), ElementsAre("abc"));
    EXPECT_THAT(SplitString("a;b c", std::set<char>{';', ' '}), ElementsAre("a", "b", "c"));
    EXPECT_THAT(SplitString("a;b", std::set<char>{}), ElementsAre("a;b"));
    // The text ends at its first NUL byte, even for a NUL delimiter.
    EXPECT_THAT(SplitString(std::string("a,b\0,c", 6), ','), ElementsAre("a", "b"));
    EXPECT_THAT(SplitString(std::string("a\0b", 3), '\0'), ElementsAre("a"));
    EXPECT_THAT(SplitString("x\xff"
                            "y",
                            '\xff'),
                ElementsAre("x", "y"));
}

TEST(Names, SplitURLIntoSchemeHostPathAndFile) {
    struct Case {
        const char* url;
        bool split;
        const char *scheme, *host, *path, *file; // "?" marks what was left as it was
    };
    for (const Case& c : {
             Case{"HTTP://host:8080/dir/sub/page.html", true, "http://", "host:8080/", "dir/sub/",
                  "page.html"},
             Case{"https://h/page", true, "https://", "h/", "p?/", "page"},
             Case{"http://h/", true, "http://", "h/", "p?/", ""},
             Case{"http://h//x", true, "http://", "h/", "p?/", "x"},
             Case{"http://h/a/", true, "http://", "h/", "a/", ""},
             Case{"http://h", true, "http://", "h?/", "p?/", "h"},
             Case{"file:///C:/dir/f.txt", true, "file://", "", "C:/dir/", "f.txt"},
             Case{"ftp://h/a:b/f", true, "ftp://", "", "a:b/", "f"},
             Case{"x://", true, "x://", "h?/", "p?/", ""},
             Case{"://h/q?a=b/c", true, "://", "h/", "q?a=b/", "c"},
             Case{"no scheme/here", false, "s?", "h?", "p?", "f?"},
             Case{"", false, "s?", "h?", "p?", "f?"},
         }) {
        SCOPED_TRACE(c.url);
        std::string scheme = "s?", host = "h?", path = "p?", file = "f?";
        EXPECT_EQ(OrnUtil::SplitURL(c.url, scheme, host, path, file), c.split);
        EXPECT_EQ(scheme, c.scheme);
        EXPECT_EQ(host, c.host);
        EXPECT_EQ(path, c.path);
        EXPECT_EQ(file, c.file);
    }
}

TEST(Names, ExpandEnvStringsReplacesSetVariablesOnly) {
    ScopedEnv set("ORN_TEST_SET", "value");
    ScopedEnv empty("ORN_TEST_EMPTY", "");
    ScopedEnv lower("orn_test_set", "lower");
    ScopedEnv unset("ORN_TEST_UNSET", std::nullopt);
    using OrnUtil::ExpandEnvStrings;
    EXPECT_EQ(ExpandEnvStrings("a %ORN_TEST_SET% b"), "a value b");
    EXPECT_EQ(ExpandEnvStrings("%ORN_TEST_SET%%ORN_TEST_SET%"), "valuevalue");
    EXPECT_EQ(ExpandEnvStrings("%orn_test_set%"), "lower");
    EXPECT_EQ(ExpandEnvStrings("[%ORN_TEST_EMPTY%]"), "[]");
    EXPECT_EQ(ExpandEnvStrings("%ORN_TEST_UNSET%/x"), "%ORN_TEST_UNSET%/x");
    EXPECT_EQ(ExpandEnvStrings("%ORN_TEST_UNSET%ORN_TEST_SET%"), "%ORN_TEST_UNSET%ORN_TEST_SET%");
    EXPECT_EQ(ExpandEnvStrings("100% sure"), "100% sure");
    EXPECT_EQ(ExpandEnvStrings("%%"), "%%");
    EXPECT_EQ(ExpandEnvStrings("50% or %ORN_TEST_SET%"), "50% or %ORN_TEST_SET%");
    EXPECT_EQ(ExpandEnvStrings("%ORN_TEST_SET=x%"), "%ORN_TEST_SET=x%");
    EXPECT_EQ(ExpandEnvStrings(""), "");
    EXPECT_EQ(ExpandEnvStrings(std::string("%ORN_TEST_SET%\0tail", 19)), "value");
}

bool IsDirectory(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

TEST(MakeDirectory, MakesEveryMissingLevelWithAnySeparators) {
    TempDir dir;
    EXPECT_TRUE(OrnUtil::MakeDirectory(dir / "a/b/c"));
    EXPECT_TRUE(IsDirectory(dir / "a/b/c"));
    EXPECT_TRUE(OrnUtil::MakeDirectory(dir / "a/b/c")); // all there already
    EXPECT_TRUE(OrnUtil::MakeDirectory(dir.Path() + "//d\\\\e///f//"));
    EXPECT_TRUE(IsDirectory(dir / "d/e/f"));
    EXPECT_TRUE(OrnUtil::MakeDirectory(""));
    EXPECT_TRUE(OrnUtil::MakeDirectory("/"));

    // Relative paths start at the current directory.
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(dir.Path().c_str()), 0);
    EXPECT_TRUE(OrnUtil::MakeDirectory("r/b/"));
    EXPECT_TRUE(OrnUtil::MakeDirectory("r\\c"));
    EXPECT_TRUE(OrnUtil::MakeDirectory("./x/../y"));
    ASSERT_EQ(chdir(previous), 0);
    for (const char* made : {"r/b", "r/c", "x", "y"})
        EXPECT_TRUE(IsDirectory(dir / made)) << made;
}

TEST(MakeDirectory, AFileInTheWayIsAFailureAndWhatWasMadeStays) {
    TempDir dir;
    WriteFile(dir / "file", "");
    EXPECT_FALSE(OrnUtil::MakeDirectory(dir / "file"));
    EXPECT_FALSE(OrnUtil::MakeDirectory(dir / "file/sub"));
    EXPECT_FALSE(OrnUtil::MakeDirectory(dir / "made/../file/deeper"));
    EXPECT_TRUE(IsDirectory(dir / "made"));

    // A component that cannot be made at all: its name is too long.
    EXPECT_FALSE(OrnUtil::MakeDirectory(dir / "before/" + std::string(300, 'n') + "/after"));
    EXPECT_TRUE(IsDirectory(dir / "before"));
}

} // namespace
