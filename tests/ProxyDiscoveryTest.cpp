#include "LoopbackServers.h"
#include "TestSupport.h"
#include "proxy/WinAutoProxy.h"

#include <OrnUtil/Http.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <mutex>
#include <unistd.h>

using namespace testing_support;
using testing::HasSubstr;

namespace {

const char* const PER_URL_SCRIPT = R"js(
function FindProxyForURL(url, host) {
    if (dnsDomainIs(host, ".direct.test") || isPlainHostName(host))
        return "DIRECT";
    return "PROXY Gate.Proxy.Test:3128; DIRECT";
})js";

// A script server on 127.0.0.1, the library's log captured, and no proxy variables but those a
// test sets.
class Discovery : public testing::Test {
protected:
    TempDir m_Dir;
    ScopedEnv m_AppData{"APPDATA", m_Dir.Path()};
    ClearedProxyEnvironment m_NoProxies;
    std::mutex m_Lock;
    std::string m_Script = PER_URL_SCRIPT;
    LoopbackHttpServer m_Server{[this](const HttpRequest& request) {
        std::lock_guard<std::mutex> hold(m_Lock);
        if (request.target == "/proxy.pac")
            return HttpResponse{200, {}, m_Script};
        return HttpResponse{404, {}, "not here"};
    }};
    CapturedLog m_Log;

    void Serve(const std::string& script) {
        std::lock_guard<std::mutex> hold(m_Lock);
        m_Script = script;
    }
    // The proxy the resolver chooses, or "none" when it could not decide.
    static std::string Proxy(WinAutoProxy& resolver, const std::string& url) {
        std::string proxy;
        return resolver.GetProxyForUrl(url, proxy) ? proxy : "none";
    }
};

TEST_F(Discovery, AScriptFromHttpOrFileChoosesPerUrlAndIsFetchedOnce) {
    ScopedEnv script("auto_proxy", m_Server.Url("/proxy.pac"));
    WinAutoProxy resolver;
    EXPECT_EQ(Proxy(resolver, "http://www.example.test/a"), "gate.proxy.test:3128");
    EXPECT_EQ(Proxy(resolver, "https://wiki.direct.test/"), "");
    EXPECT_EQ(Proxy(resolver, "http://intranet/"), "");
    EXPECT_EQ(m_Server.Requests().size(), 1u) << "the session keeps the script";

    WriteFile(m_Dir / "local.pac", PER_URL_SCRIPT);
    for (const std::string& location : {"file://" + m_Dir / "local.pac", m_Dir / "local.pac"}) {
        ScopedEnv local("auto_proxy", location);
        WinAutoProxy fromFile;
        EXPECT_EQ(Proxy(fromFile, "http://www.example.test/"), "gate.proxy.test:3128") << location;
        EXPECT_EQ(Proxy(fromFile, "http://a.direct.test/"), "") << location;
    }
}

TEST_F(Discovery, ProxiesOfTheScriptAreTakenInTurnAsTheyFail) {
    Serve("function FindProxyForURL() { return 'PROXY a.test:1; PROXY b.test:2; DIRECT'; }");
    ScopedEnv script("auto_proxy", m_Server.Url("/proxy.pac"));
    WinAutoProxy resolver;
    EXPECT_EQ(Proxy(resolver, "http://x.test/"), "a.test:1");
    resolver.ProxyFailure("a.test:1");
    EXPECT_EQ(Proxy(resolver, "http://x.test/"), "b.test:2");
    resolver.ProxyFailure("b.test:2");
    EXPECT_EQ(Proxy(resolver, "http://x.test/"), "") << "then direct";
    resolver.ClearProxyFailures();
    EXPECT_EQ(Proxy(resolver, "http://x.test/"), "a.test:1");
}

TEST_F(Discovery, AMissingScriptLeavesTheChoiceToTheManualSettings) {
    ScopedEnv script("auto_proxy", m_Server.Url("/missing.pac"));
    ScopedEnv manual("http_proxy", "manual.test:8080");
    WinAutoProxy resolver;
    EXPECT_EQ(Proxy(resolver, "http://x.test/"), "manual.test:8080");
    EXPECT_THAT(m_Log.Text(), HasSubstr("WinHttpGetProxyForUrl failed with error:12167"));
    EXPECT_FALSE(resolver.IsPacFileFailed()) << "a download failure is tried again at once";
    EXPECT_EQ(Proxy(resolver, "http://x.test/"), "manual.test:8080");
    EXPECT_EQ(m_Server.Requests().size(), 2u);
}

TEST_F(Discovery, ABrokenScriptIsHeldOff) {
    Serve("function FindProxyForURL(url, host) { return 'DIRECT' ");
    ScopedEnv script("auto_proxy", m_Server.Url("/proxy.pac"));
    ScopedEnv manual("http_proxy", "manual.test:8080");
    WinAutoProxy resolver;
    EXPECT_EQ(Proxy(resolver, "http://x.test/"), "manual.test:8080");
    EXPECT_THAT(m_Log.Text(), HasSubstr("WinHttpGetProxyForUrl failed with error:12166"));
    EXPECT_TRUE(resolver.IsPacFileFailed());
    EXPECT_EQ(Proxy(resolver, "http://x.test/"), "manual.test:8080");
    EXPECT_EQ(m_Server.Requests().size(), 1u) << "no second attempt within the hold-off";
}

TEST_F(Discovery, HostileScriptsAreAnsweredWithinTheirBound) {
    ScopedEnv script("auto_proxy", m_Server.Url("/proxy.pac"));
    ScopedEnv manual("http_proxy", "manual.test:8080");
    const std::string hostile[] = {
        "function FindProxyForURL() { while (true) {} }",
        "function FindProxyForURL() { return String(new Array(1 << 30).sort()); }",
        "function FindProxyForURL() { return 'x'.repeat(1 << 30); }",
        "function f(n) { return f(n + 1); } function FindProxyForURL() { return f(0); }",
        "function FindProxyForURL() { throw new Error('no'); }",
        "function FindProxyForURL() { return 42; }",
        "function FindProxyForURL() {} " + std::string(10 << 20, ' '),
    };
    for (const std::string& text : hostile) {
        Serve(text);
        WinAutoProxy resolver;
        EXPECT_EQ(Proxy(resolver, "http://x.test/"), "manual.test:8080") << text.substr(0, 60);
    }
    EXPECT_THAT(m_Log.Text(), HasSubstr("error:12167")) << "the 10 MiB script is not fetched";
}

TEST_F(Discovery, MalformedAndUnsupportedUrlsAreRefused) {
    ScopedEnv script("auto_proxy", m_Server.Url("/proxy.pac"));
    WinAutoProxy malformed, unsupported;
    EXPECT_EQ(Proxy(malformed, "no scheme"), "none");
    EXPECT_EQ(Proxy(unsupported, "gopher://x.test/"), "none");
    EXPECT_THAT(m_Log.Text(), HasSubstr("error:12005"));
    EXPECT_THAT(m_Log.Text(), HasSubstr("error:12006"));
}

// A request whose script names a SOCKS5 server goes through it: the server, told to connect out
// from 127.0.0.2, makes the origin see that address.
TEST_F(Discovery, ASocksEntryCarriesTheRequest) {
    if (access("/usr/bin/microsocks", X_OK) != 0)
        GTEST_SKIP() << "microsocks is not installed (scripts/deps.sh test)";
    const uint16_t port = FreeLoopbackPort();
    ServerProcess socks(
        {"/usr/bin/microsocks", "-i", "127.0.0.1", "-p", std::to_string(port), "-b", "127.0.0.2"});
    LoopbackHttpServer origin([](const HttpRequest&) {
        return HttpResponse{200, {}, "via socks"};
    });
    Serve("function FindProxyForURL() { return 'SOCKS5 127.0.0.1:" + std::to_string(port) + "'; }");
    ScopedEnv script("auto_proxy", m_Server.Url("/proxy.pac"));
    std::vector<char> body;
    HTTPcURL http(body);
    // microsocks may still be starting: the first attempts can be refused.
    bool done = false;
    for (int attempt = 0; attempt < 50 && !done; ++attempt) {
        try {
            done = http.Perform(origin.Url("/"), "", "");
        } catch (const std::runtime_error&) {
            usleep(20000);
        }
    }
    ASSERT_TRUE(done);
    EXPECT_EQ(std::string(body.begin(), body.end()), "via socks");
    ASSERT_FALSE(origin.Requests().empty());
    EXPECT_EQ(origin.Requests().back().peer, "127.0.0.2");
}

// A network namespace of the test's own whose hosts file and resolver settings name the wpad host
// of a test domain: `ip netns exec` mounts /etc/netns/NAME/* over /etc.
class Namespace {
public:
    Namespace(const std::string& hosts) : m_Name("ornwpad" + std::to_string(getpid())) {
        for (const char* candidate : {"/usr/sbin/ip", "/usr/bin/ip", "/sbin/ip"})
            if (access(candidate, X_OK) == 0)
                m_Ip = candidate;
        if (m_Ip.empty())
            return;
        const std::string folder = "/etc/netns/" + m_Name;
        if (std::system(("mkdir -p " + folder).c_str()) != 0)
            return;
        WriteFile(folder + "/hosts", "127.0.0.1 localhost\n" + hosts);
        WriteFile(folder + "/resolv.conf", "search corp.test\nnameserver 127.0.0.1\n");
        m_Made = Run({m_Ip, "netns", "add", m_Name}).exitCode == 0 &&
                 Run({m_Ip, "-n", m_Name, "link", "set", "lo", "up"}).exitCode == 0;
    }
    ~Namespace() {
        if (!m_Ip.empty())
            Run({m_Ip, "netns", "delete", m_Name});
        if (std::system(("rm -rf /etc/netns/" + m_Name).c_str()) != 0)
            ADD_FAILURE() << "cannot remove /etc/netns/" << m_Name;
    }
    bool Made() const { return m_Made; }
    RunResult Exec(const std::vector<std::string>& argv) {
        std::vector<std::string> command{m_Ip, "netns", "exec", m_Name};
        command.insert(command.end(), argv.begin(), argv.end());
        return Run(command);
    }

private:
    std::string m_Name, m_Ip;
    bool m_Made = false;
};

TEST(Wpad, DiscoveryFindsTheScriptOfTheSearchDomain) {
    Namespace network("127.0.0.1 wpad.corp.test\n");
    if (!network.Made())
        GTEST_SKIP() << "network namespaces cannot be made here (needs root and iproute2)";
    const RunResult found =
        network.Exec({HelperPath("wpad_probe"), "http://www.example.test/",
                      "function FindProxyForURL() { return 'PROXY found.corp.test:8080'; }"});
    EXPECT_EQ(found.out, "proxy=found.corp.test:8080 ok=1 given-up=0\n") << found.err;
}

TEST(Wpad, WithoutAWpadHostDiscoveryIsGivenUp) {
    Namespace network("");
    if (!network.Made())
        GTEST_SKIP() << "network namespaces cannot be made here (needs root and iproute2)";
    const RunResult none =
        network.Exec({HelperPath("wpad_probe"), "http://www.example.test/", "-"});
    EXPECT_EQ(none.out, "proxy= ok=0 given-up=1\n") << none.err;
}

} // namespace
