#include "ScriptedProxyPlatform.h"
#include "TestSupport.h"
#include "proxy/PacAnswer.h"
#include "proxy/ProxyEnvironment.h"
#include "proxy/WinAutoProxy.h"

#include <OrnUtil/Log.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <map>
#include <sstream>

using namespace OrnUtil::proxy;
using namespace OrnUtil::proxy::ProxyError;
using namespace testing_support;
using Script = ScriptedProxyPlatform;

namespace {

const char* const PAC = "http://config.example/proxy.pac";

// A resolver on a scripted platform; Lookup gives its proxy, or "<none>" when it could not decide.
struct Scripted {
    explicit Scripted(const ProxySettings& settings) { script.settings = settings; }
    std::unique_ptr<Script> owned = std::make_unique<Script>();
    Script& script = *owned;
    WinAutoProxy resolver{std::move(owned)};
    std::string Lookup() {
        std::string proxy = "left over";
        return resolver.GetProxyForUrl("http://host.example/x", proxy) ? proxy : "<none>";
    }
};

TEST(Resolver, DiscoveryThenTheScriptThenTheManualSettingsDecide) {
    TempDir dir;
    ScopedEnv appData("APPDATA", dir.Path());
    ASSERT_TRUE(OrnUtil::CLog::Init("") && OrnUtil::CLog::ReportingLevel(APP, INFO));
    CapturedLog log;
    const ProxySettings all{true, PAC, "m:1", {}}, discovery{true, {}, "m:1", {}},
        pac{false, PAC, "m:1", {}};
    const ProxyAnswer direct, timeout = Script::Error(TIMEOUT), w = Script::List("PROXY w:1"),
                              s = Script::List("s:1");
    // Settings and answers; the proxy of 3 lookups, the queries of each kind, what was given up.
    using Answers = std::deque<ProxyAnswer>;
    const std::tuple<ProxySettings, Answers, Answers, const char*, int, int, bool, bool> cases[] = {
        {all, {w}, {s}, "w:1", 3, 0, false, false},
        {all, {direct}, {s}, "s:1", 3, 3, false, false},
        {all, {timeout}, {direct}, "", 3, 3, false, false},
        {pac, {w}, {s}, "s:1", 0, 3, false, false},
        {pac, {}, {Script::Error(UNABLE_TO_DOWNLOAD_SCRIPT)}, "m:1", 0, 3, false, false},
        {pac, {}, {Script::Error(INVALID_URL)}, "m:1", 0, 1, false, true},
        {pac, {}, {Script::Error(UNRECOGNIZED_SCHEME)}, "m:1", 0, 1, false, true},
        {discovery, {direct}, {s}, "m:1", 3, 0, false, false},
        {{true, {}, {}, {}}, {timeout}, {}, "<none>", 3, 0, false, false},
        {{false, {}, "m:1", "*.example"}, {w}, {s}, "", 0, 0, false, false},
        {discovery, {Script::Error(AUTODETECTION_FAILED)}, {}, "m:1", 1, 0, true, false},
        {discovery, {Script::Error(LOGIN_FAILURE), w}, {}, "w:1", 4, 0, false, false},
        {discovery, {Script::Error(LOGIN_FAILURE)}, {}, "m:1", 2, 0, true, false}};
    for (const auto& [settings, discovered, scripted, proxy, discoveries, scripts, discoveryFailed,
                      scriptFailed] : cases) {
        SCOPED_TRACE(&settings - &std::get<0>(cases[0]));
        Scripted r(settings);
        r.script.discoveryAnswers = discovered;
        r.script.scriptAnswers = scripted;
        std::vector<size_t> logged{log.Lines().size()};
        for (int lookup = 0; lookup < 3; ++lookup, logged.push_back(log.Lines().size()))
            EXPECT_EQ(r.Lookup(), proxy);
        EXPECT_LT(logged[2] - logged[1], logged[1] - logged[0]) << "the first alone is traced";
        EXPECT_EQ(logged[3] - logged[2], logged[2] - logged[1]) << "failures are logged each time";
        EXPECT_EQ(std::tuple(r.script.discoveries, r.script.scriptLookups,
                             r.resolver.IsAutoDetectFailed(), r.resolver.IsPacFileFailed(),
                             r.script.sessionsOpened == 1),
                  std::tuple(discoveries, scripts, discoveryFailed, scriptFailed,
                             settings.autoDetect || settings.pacUrl));
    }
    Scripted unread({false, {}, "m:1", {}}); // settings that cannot be read are not used
    unread.script.readFails = true;
    EXPECT_EQ(unread.Lookup(), "<none>");
    EXPECT_EQ(unread.script.sessionsOpened, 1) << "the automatic steps, which have nothing to run";
    EXPECT_NE(AutoProxy::Instance(), nullptr); // the HTTP client's shared resolver
    EXPECT_THAT(log.Lines()[0],
                testing::MatchesRegex("[0-9:.]{12} INFO   [0-9a-f]+:class WinAutoProxy:[0-9]+:"
                                      "WinAutoProxy::GetProxyByWpadAutoDiscovery:Determining "
                                      "proxy using WPAD DHCP / DNS detection"));
}

TEST(Resolver, FailuresOfScriptsAndProxiesAreRememberedUntilTheyExpireOrAreCleared) {
    Scripted r({true, PAC, "m:1", {}});
    r.script.discoveryAnswers = {Script::Error(LOGIN_FAILURE), Script::Error(AUTODETECTION_FAILED)};
    const ProxyAnswer bad = Script::Error(BAD_AUTO_PROXY_SCRIPT), s = Script::List("s:1");
    r.script.scriptAnswers = {bad, s, bad, s};
    r.script.timeoutError = 87; // and yet the steps run
    std::string proxies;
    for (const uint32_t tick :
         {0u, 1999u, 2000u, 0xFFFFFF00u, 0xFFFFFF00u + 1999, 0xFFFFFF00u + 2000}) {
        r.script.tick = tick; // from a failure at tick 0, and over the wrap of the tick count
        proxies += r.Lookup() + ";";
    }
    EXPECT_EQ(proxies, "m:1;m:1;s:1;m:1;m:1;s:1;");
    // Discovery by DHCP and DNS, retried with logon after a login failure; scripts with logon.
    const ProxyQuery &discovery = r.script.lastDiscovery, &script = r.script.lastScript;
    EXPECT_EQ(std::tuple(discovery.discoveryMethods, discovery.autoLogonIfChallenged,
                         script.scriptUrl, script.autoLogonIfChallenged),
              std::tuple(DISCOVER_BY_DHCP | DISCOVER_BY_DNS, true, PAC, true));

    // A request fails over the entries of one answer, failed proxies passed over and DIRECT
    // deciding last; the next request, after the clearing, runs the script again.
    r.script.scriptAnswers = {Script::List("a:80;PROXY b:80;DIRECT"), bad, Script::List("s:2")};
    EXPECT_EQ(r.Lookup(), "a:80");
    r.resolver.ProxyFailure("a:80");
    EXPECT_EQ(r.Lookup(), "b:80");
    r.resolver.ProxyFailure("b:80");
    EXPECT_EQ(r.Lookup(), "");
    r.resolver.ProxySuccess("b:80");
    EXPECT_EQ(r.Lookup(), "b:80");
    r.resolver.ClearProxyFailures();
    EXPECT_EQ(r.Lookup(), "m:1");
    r.resolver.ProxyFailure("m:1");
    EXPECT_EQ(r.Lookup(), "<none>");
    EXPECT_TRUE(r.resolver.LookupAttempted() && r.resolver.IsPacFileFailed());
    r.resolver.SetEnabled(false);
    r.resolver.Reset();
    EXPECT_FALSE(r.resolver.IsAutoDetectFailed() || r.resolver.IsPacFileFailed() ||
                 r.resolver.LookupAttempted() || r.resolver.IsEnabled());
    EXPECT_EQ(r.Lookup(), "s:2") << "the HTTP client, not the resolver, heeds the switch";
    EXPECT_EQ(std::pair(r.script.sessionsClosed, r.script.discoveries), std::pair(1, 3));
    r.script.settings = {false, {}, "m:1", {}};
    EXPECT_EQ(r.Lookup(), "m:1") << "the failure tag is forgotten too";
}

// Thousands of unusable entries cost one run of the script and 32 attempts.
TEST(Resolver, ARequestTriesAtMost32EntriesOfOneAnswer) {
    Scripted r({false, PAC, {}, {}});
    std::string answer;
    for (int entry = 0; entry < 2000; ++entry)
        answer += "PROXY p" + std::to_string(entry) + ":99999;";
    r.script.scriptAnswers = {Script::List(answer + "DIRECT")};
    int attempts = 0;
    for (std::string proxy; !(proxy = r.Lookup()).empty() && proxy != "<none>"; ++attempts)
        r.resolver.ProxyFailure(proxy);
    EXPECT_EQ(std::pair(attempts, r.script.scriptLookups), std::pair(32, 1));
}

std::map<std::string, std::string> g_Variables;
const char* Variable(const char* name) {
    const auto found = g_Variables.find(name);
    return found == g_Variables.end() ? nullptr : found->second.c_str();
}

TEST(ProxyEnvironment, VariablesMakeTheSettingsRecord) {
    // The variables ("name=value|..."), whether they configure a proxy, and the settings.
    const std::tuple<const char*, bool, const char*> cases[] = {
        {"http_proxy=http://u:p@ss@web:3128/x?q#f|HTTP_PROXY=hidden:1|HTTPS_PROXY= secure:8443\t|"
         "ftp_proxy=socks5://s:1080|ALL_PROXY=HTTP://all:8080|auto_proxy=|AUTO_PROXY=/hidden.pac",
         true, "auto list=all:8080;http=web:3128;https=secure:8443"},
        {"http_proxy=|HTTP_PROXY=hidden:1|FTP_PROXY=f:21|AUTO_PROXY=/etc/proxy.pac", true,
         "pac=file:///etc/proxy.pac list=ftp=f:21"},
        {"no_proxy= .corp, localhost ,\t*\t,,.,10.0.0.1:8080|NO_PROXY=hidden", false,
         "bypass=corp;*.corp;localhost;*.localhost;*;10.0.0.1:8080;*.10.0.0.1:8080"},
        {"NO_PROXY= , |https_proxy=https://p|http_proxy=a b|ftp_proxy=http://|all_proxy=ftps://p",
         false, ""},
        {"HTTP_PROXY=a;b|HTTPS_PROXY=a=b|FTP_PROXY=a,b|ALL_PROXY=a\x7f", false, ""}};
    for (const auto& [variables, configured, expected] : cases) {
        g_Variables.clear();
        std::istringstream in(variables);
        for (std::string item; std::getline(in, item, '|');)
            g_Variables[item.substr(0, item.find('='))] = item.substr(item.find('=') + 1);
        ProxySettings settings{true, "stale", "stale", "stale"};
        EXPECT_EQ(ProxySettingsFromEnvironment(&Variable, settings), configured) << variables;
        EXPECT_EQ(SettingsText(settings), expected);
    }
}

} // namespace

TEST(PacAnswer, EntriesBecomeWhatTheResolverAndCurlRead) {
    const std::pair<std::string, std::string> cases[] = {
        {" proxy  Proxy.Corp:8080 ;http b:3128", "PROXY proxy.corp:8080;PROXY b:3128"},
        {"HTTPS s:443; SOCKS x:1080; socks4 y:1; SOCKS5 z:1080; DIRECT",
         "https://s:443;socks4://x:1080;socks4://y:1;socks5://z:1080;DIRECT"},
        {"DIRECT; PROXY a:80", "DIRECT;PROXY a:80"}, // the whole list, to fail over
        {"QUIC q:443; PROXY; PROXY a b; PROXY a/x; PROXY u@h:1; c:80", ""},
        {" direct ;; DIRECT", ""}, // direct alone is a direct answer
        {std::string("PROXY a:80\0;PROXY b:80", 22), "PROXY b:80"},
    };
    for (const auto& [answer, list] : cases)
        EXPECT_EQ(TranslatePacAnswer(answer), list) << answer;
}
