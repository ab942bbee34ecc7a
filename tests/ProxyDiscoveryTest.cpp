#include "LoopbackServers.h"
#include "TestSupport.h"
#include "proxy/linux/LinuxProxySession.h"
#include "proxy/linux/PacDownload.h"
#include "proxy/linux/PacScript.h"
#include "proxy/linux/Wpad.h"

#include <ctime>
#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace testing_support;
using namespace OrnUtil::proxy;
using std::filesystem::directory_iterator;
using testing::ContainsRegex;
using testing::HasSubstr;

namespace {

const char* const SCRIPT = "function FindProxyForURL(url, host) { return 'PROXY p:1'; }";

// Scripts as servers give them; /hopN is N redirects away from /proxy.pac.
HttpResponse Serve(const HttpRequest& request) {
    const std::string& target = request.target;
    if (target.rfind("/hop", 0) == 0) {
        const int left = std::stoi(target.substr(4)) - 1;
        return {302, {{"Location", left == 0 ? "/proxy.pac" : "/hop" + std::to_string(left)}}, ""};
    }
    if (target == "/away.pac")
        return {302, {{"Location", "file:///etc/hosts"}}, ""};
    if (target == "/broken.pac")
        return {200, {}, "function F("};
    if (target == "/large.pac" || target == "/largest.pac")
        return {200, {}, std::string(FetchLimits::MAX_BYTES + (target == "/large.pac"), ' ')};
    return {target == "/proxy.pac" ? 200 : target == "/login.pac" ? 401 : 404, {}, SCRIPT};
}

TEST(PacDownload, EachFetchEndsInOneOutcome) {
    LoopbackHttpServer server(&Serve);
    LoopbackServer silent; // connections wait in its backlog, never answered
    TempDir dir;
    WriteFile(dir / "proxy.pac", SCRIPT);
    const std::pair<std::string, ScriptFetch::Outcome> cases[] = {
        {server.Url("/proxy.pac"), ScriptFetch::FETCHED},
        {server.Url("/hop3"), ScriptFetch::FETCHED},
        {"file://" + dir / "proxy.pac", ScriptFetch::FETCHED},
        {server.Url("/missing.pac"), ScriptFetch::NOT_FOUND},
        {"http://127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/", ScriptFetch::NOT_FOUND},
        {server.Url("/login.pac"), ScriptFetch::LOGIN_NEEDED},
        {"http://127.0.0.1:" + std::to_string(silent.Port()) + "/", ScriptFetch::TIMED_OUT},
        {server.Url("/hop4"), ScriptFetch::REFUSED},
        {server.Url("/large.pac"), ScriptFetch::REFUSED},
        {server.Url("/away.pac"), ScriptFetch::REFUSED},
        {"ftp://127.0.0.1/proxy.pac", ScriptFetch::REFUSED}};
    for (const auto& c : cases) {
        const ScriptFetch fetch = FetchScript(c.first, FetchLimits{500, 500});
        EXPECT_EQ(fetch.outcome, c.second) << c.first;
        EXPECT_EQ(fetch.script, c.second == ScriptFetch::FETCHED ? SCRIPT : "") << c.first;
    }
    EXPECT_EQ(FetchScript(server.Url("/largest.pac"), {500, 500}).script.size(),
              FetchLimits::MAX_BYTES);
}

// The host, or the error.
std::string TargetHost(const std::string& url) {
    uint32_t error = 1;
    const std::string host = ProxyTargetHost(url, error);
    return error == 0 ? host : host + std::to_string(error);
}

TEST(ProxyTargetHost, IsTheLowerCaseHostOfAUrlAProxyCanCarry) {
    EXPECT_EQ(TargetHost("HTTP://Www.Example.TEST:8080/x"), "www.example.test");
    EXPECT_EQ(TargetHost("wss://[::1]:443/") + " " + TargetHost("ftp://u@ftp.test/"),
              "::1 ftp.test");
    for (const char* url :
         {"no scheme", "://x.test/", "http:///x", "http://a b/", "http://[::1/", "ht%tp://x.test/"})
        EXPECT_EQ(TargetHost(url), "12005") << url;
    for (const char* url : {"gopher://x.test/", "svn+ssh.x-y://x.test/"})
        EXPECT_EQ(TargetHost(url), "12006") << url;
}

// The probe runs in namespaces of its own where these files are the hosts file and the resolver's
// settings: the search domain corp.test, whose wpad host is 127.0.0.1.
TEST(Wpad, DiscoveryFindsTheScriptOfTheSearchDomainOrGivesUp) {
    if (geteuid() != 0)
        GTEST_SKIP() << "network namespaces need root";
    TempDir dir;
    WriteFile(dir / "hosts", "127.0.0.1 localhost wpad.corp.test dual.test\n::1 dual.test\n");
    WriteFile(dir / "resolv.conf", "search corp.test\nnameserver 127.0.0.1\n");
    const auto probe = [&](const std::string& script) {
        return testing_support::Run(
            {"/usr/bin/unshare", "--net", "--mount", "--uts", "/bin/sh", "-c",
             "mount --bind $0 /etc/hosts && mount --bind $1 /etc/resolv.conf && hostname "
             "probe && ip link set lo up && exec \"$2\" \"$3\"",
             dir / "hosts", dir / "resolv.conf", HelperPath("wpad_probe"), script});
    };
    // The script found sees the namespace's addresses, IPv4 first: those of lo, and dual.test's.
    const RunResult found =
        probe("function FindProxyForURL() { return 'PROXY ' + "
              "(dnsResolveEx('dual.test') + myIpAddressEx() == "
              "'127.0.0.1;::1127.0.0.1;::1' ? 'found' : 'wrong') + '.test:80'; }");
    EXPECT_EQ(found.out, "proxy=found.test:80 ok=1 given-up=0\n") << found.err;
    EXPECT_EQ(probe("-").out, "proxy= ok=0 given-up=1\n");
}

// The host's own domain, else each search domain, then their parents above the top level; a
// name that is no domain name is passed over.
TEST(Wpad, CandidatesAreTheDomainsAboveTheHostOrInTheSearchList) {
    using Urls = std::vector<std::string>;
    EXPECT_EQ(WpadCandidates("pc.sales-1.corp.test.", {"search.test"}),
              (Urls{"http://wpad/wpad.dat", "http://wpad.sales-1.corp.test/wpad.dat",
                    "http://wpad.corp.test/wpad.dat"}));
    EXPECT_EQ(WpadCandidates("pc", {"a.corp.test.", "corp.test", "bad_name.test", "a..test", "",
                                    std::string(250, 'a') + ".test", ".test"}),
              (Urls{"http://wpad/wpad.dat", "http://wpad.a.corp.test/wpad.dat",
                    "http://wpad.corp.test/wpad.dat"}));
}

TEST(Ornproxy, ShowsTheSourceTheTraceAndTheDecisionForEachUrl) {
    ClearedProxyEnvironment noProxies;
    LoopbackHttpServer server(&Serve);
    ScopedEnv script("auto_proxy", server.Url("/proxy.pac"));
    const RunResult fine = RunTool("ornproxy", {"http://a.test/", "http://b.test/"});
    EXPECT_EQ(fine.exitCode, 0) << fine.err;
    EXPECT_THAT(fine.out,
                ContainsRegex("from the environment.*PAC script: +" + server.Url("/proxy.pac") +
                              ".*\nhttp://a.test/\n.*=> "
                              "proxy p:1\n\nhttp://b.test/\n.*=> proxy p:1\n"));
    ScopedEnv broken("auto_proxy", server.Url("/broken.pac"));
    const RunResult none = RunTool("ornproxy", {"http://a.test/"});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_THAT(none.out, ContainsRegex("error:12166.*=> no decision"));
    ScopedEnv login("auto_proxy", server.Url("/login.pac"));
    EXPECT_THAT(RunTool("ornproxy", {"http://a.test/"}).out, HasSubstr("error:12015"));
    EXPECT_EQ(RunTool("ornproxy", {}).exitCode, 2);
}

const char* const OVERRUN = "error: the script did not stop within its bound";

struct Script {
    std::string error;
    std::unique_ptr<CPacScript> compiled;
    explicit Script(const std::string& source, size_t heapBytes = PacBounds::HEAP_BYTES)
        : compiled(CPacScript::Compile(source, PacBounds{500, 500, heapBytes}, error)) {}
    // The answer for http://<host>/path, or "error: <reason>".
    std::string Ask(const std::string& host = "www.example.com") {
        std::string answer;
        return compiled && compiled->FindProxy("http://" + host + "/path", host, answer, error)
                   ? answer
                   : "error: " + error;
    }
};

// A PAC author's own checks of every helper, run by the engine at the author's fixed clocks.
TEST(PacHelpers, AnswerAsInTheBrowsers) {
    ScopedEnv zone("TZ", "PAC-2"); // two hours ahead of UTC, as the script expects
    tzset();
    EXPECT_EQ(Script(ReadFile(PAC_CHECKS)).Ask(), "DIRECT");
}

TEST(PacScript, ScriptsThatCannotServeAreRefusedWithTheReason) {
    const std::pair<std::string, std::string> cases[] = {
        {"function FindProxyForURL(u, h) {", "SyntaxError"},
        {"var x = 1;", "error: the script defines no FindProxyForURL"},
        {"var FindProxyForURL = 3;", "error: FindProxyForURL is not a function"},
        {"throw new Error('at load');", "at load"},
        {"while (true) {}", "execution timeout"}};
    for (const auto& c : cases)
        EXPECT_THAT(Script(c.first).Ask(), HasSubstr(c.second)) << c.first;
    EXPECT_EQ(Script("function FindProxyForURL() {}", 0).Ask(),
              "error: cannot create the script's heap");
}

TEST(PacScript, ErrorsAndOverrunsEndTheCallAndTheScriptServesOn) {
    Script script(R"js(
        function recurse(n) { return recurse(n + 1) + 1; }
        function FindProxyForURL(url, host) {
            if (host == 'loop') while (true) { try { while (true) {} } catch (e) {} }
            if (host == 'recurse') return recurse(0);
            if (host == 'throw') throw new Error('refused');
            if (host == 'grow') { var a = []; while (true) a.push(a.length); }
            if (host == 'buffer') return String(new ArrayBuffer(1 << 30).byteLength);
            return 42;
        }
        function FindProxyForURLEx(url, host) {
            return host == 'fine' ? 'PROXY ' + url : FindProxyForURL(url, host);
        })js",
                  2 << 20);
    // An allocation beyond the cap fails with a bare Error.
    const std::pair<std::string, std::string> cases[] = {{"loop", "RangeError: execution timeout"},
                                                         {"recurse", "RangeError"},
                                                         {"throw", "Error: refused"},
                                                         {"number", "FindProxyForURL returned no"},
                                                         {"grow", "Error"},
                                                         {"buffer", "Error"},
                                                         {std::string(3 << 20, 'h'), "the URL is"}};
    for (const auto& [host, error] : cases) {
        EXPECT_THAT(script.Ask(host), testing::StartsWith("error: " + error)) << host.substr(0, 9);
        EXPECT_EQ(script.Ask("fine"), "PROXY http://fine/path") << "after " << host.substr(0, 9);
    }
}

// Its threads, its lookups' among them, end with the script, even when a finalizer loops.
TEST(PacScript, ItsThreadsEndWithItEvenWhenAFinalizerLoops) {
    std::thread([] {}).join(); // ThreadSanitizer starts a thread of its own with the first one
    const auto before = std::distance(directory_iterator("/proc/self/task"), {});
    Script("var kept = {}; Duktape.fin(kept, function () { while (true) {} });"
           "function FindProxyForURL() { return dnsResolve('localhost'); }")
        .Ask();
    EXPECT_EQ(std::distance(directory_iterator("/proc/self/task"), {}), before);
}

// A thread stuck in a builtin keeps the library mapped when the application unloads it.
TEST(PacScript, AThreadStuckInABuiltinKeepsTheUnloadedLibraryMapped) {
    TempDir dir;
    ClearedProxyEnvironment noProxies;
    WriteFile(dir / "stuck.pac",
              "function FindProxyForURL() { return String(new Array(1 << 30).sort()); }");
    const RunResult run = testing_support::Run({HelperPath("unload_probe"), dir / "stuck.pac"});
    EXPECT_EQ(std::pair(run.exitCode, run.out), std::pair(0, std::string("mapped\n"))) << run.err;
}

// Last in the file: the threads it abandons keep running while the process lives, and while two
// do, no new script starts.
TEST(PacScript, ABuiltinThatNeverReachesTheDeadlineIsAbandonedAtTheBound) {
    const std::string sort = "String(new Array(1 << 30).sort())";
    Script script("function FindProxyForURL(url, host) { return host == 's' ? " + sort +
                  " : ''; }");
    EXPECT_EQ(script.Ask("s"), OVERRUN);
    EXPECT_EQ(script.Ask(), OVERRUN) << "an abandoned script serves no more";
    EXPECT_EQ(Script(sort + "; function FindProxyForURL() {}").Ask(), OVERRUN);
    EXPECT_THAT(Script("function FindProxyForURL() { return ''; }").Ask(),
                HasSubstr("still being stopped"))
        << "no new script starts while two overrunning ones still run";
}

} // namespace
