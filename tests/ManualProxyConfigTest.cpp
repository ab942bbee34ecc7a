#include "proxy/ManualProxyConfig.h"

#include "TestSupport.h"

#include <OrnUtil/Log.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <regex>

using namespace testing_support;
using namespace OrnUtil::internal;
using testing::HasSubstr;

namespace {

std::string ProxyFor(const std::string& proxyList, const std::string& bypassList,
                     const std::string& url) {
    ManualProxyConfig manual;
    manual.Update(proxyList, bypassList);
    return manual.FindProxy(url);
}

TEST(ManualProxyConfig, OneProxyServesTheFiveSchemes) {
    ManualProxyConfig manual;
    manual.Update("proxy.corp:8080", "");
    for (const char* url : {"http://a/", "https://a/", "ftp://a/", "gopher://a/", "socks://a/"})
        EXPECT_EQ(manual.FindProxy(url), "proxy.corp:8080") << url;
    for (const char* url : {"host.example/x", "wss://a/", "", "://a"})
        EXPECT_EQ(manual.FindProxy(url), "") << url;
}

TEST(ManualProxyConfig, SchemeEntriesFillTheirSlotAndLaterEntriesWin) {
    // The manual list, the URL and the proxy it gives.
    const char* const cases[][3] = {
        {"http=a.corp:80;https=b.corp:443", "https://x/", "b.corp:443"},
        {"http=a.corp:80;https=b.corp:443", "ftp://x/", ""},
        {"proxy:80;https=p2:443", "https://x/", "p2:443"},
        {"proxy:80;https=p2:443", "gopher://x/", "proxy:80"},
        {"https=p2:443;proxy:80", "https://x/", "proxy:80"},
        {"HTTP=Proxy.Corp:80", "HTTP://Host/", "proxy.corp:80"},
        {"http://web.corp:3128/path", "http://x/", "web.corp:3128"},
        {" https=p2:443", "https://x/", ""}, // a blank-led scheme is unknown
        {"wss=p:1", "http://x/", ""},
        {"http=*.corp:80", "http://x/", "*.corp:80"},
        {"http=host:00080", "http://x/", "host:00080"},
        {"http=10.1.2.3:3128", "http://x/", "10.1.2.3:3128"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ProxyFor(c[0], "", c[1]), c[2]) << c[0] << " " << c[1];
}

TEST(ManualProxyConfig, InvalidEntriesAreDroppedAndOnlyBadHostNamesWarned) {
    CapturedLog log;
    EXPECT_EQ(ProxyFor("http=host:70000;https=host:80x;ftp=host:", "", "http://x/"), "");
    EXPECT_EQ(ProxyFor(std::string(254, 'a') + ":80", "", "http://x/"), "");
    EXPECT_EQ(log.Text(), "") << "ports and lengths are dropped silently";

    const std::string longest = std::string(120, 'a') + "." + std::string(132, 'b');
    EXPECT_EQ(ProxyFor(longest, "", "http://x/"), longest);

    EXPECT_EQ(ProxyFor("http=bad_host:80", "", "http://x/"), "");
    EXPECT_THAT(log.Lines(),
                testing::ElementsAre(testing::MatchesRegex(
                    "[0-9:.]{12} WARN   [0-9a-f]+:class ManualProxyConfig:[0-9]+:"
                    "ManualProxyConfig::IsValidHost:Ignored invalid manual proxy :bad_host:80\\( "
                    "bad host name bad_host\\)")));

    EXPECT_EQ(ProxyFor("a.corp:80;", "", "http://x/"), "a.corp:80");
    EXPECT_THAT(log.Text(), HasSubstr("Ignored invalid manual proxy :( bad host name )"));
    for (const char* bad : {"-a.corp:1", "a-.corp", "a..corp", "1abc", "a.b_c"})
        EXPECT_FALSE(ManualProxyConfig::IsValidHost(bad, true)) << bad;
}

TEST(ManualProxyConfig, SameTextsAreNotParsedAgain) {
    CapturedLog log;
    ManualProxyConfig manual;
    manual.Update("bad_host:80;good:80", "*.corp");
    manual.Update("BAD_HOST:80;GOOD:80", "*.CORP");
    EXPECT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(manual.FindProxy("http://x.example/"), "good:80");
    EXPECT_EQ(manual.FindProxy("http://a.corp/"), "");
    manual.Update("other:1", "*.corp");
    EXPECT_EQ(manual.FindProxy("http://a.corp/"), "") << "the bypass part stays";
    EXPECT_EQ(manual.FindProxy("http://x.example/"), "other:1");
    manual.Update("other:1", "");
    EXPECT_EQ(manual.FindProxy("http://a.corp/"), "other:1");
}

TEST(ManualProxyConfig, BypassRulesMatchPiecesAtTheirFirstOccurrence) {
    struct Rule {
        const char* list;
        std::vector<const char*> bypassed, proxied;
    };
    const Rule rules[] = {
        {"<local>",
         {"http://intranet/x", "http://intranet:8080/x", "http:///x"},
         {"http://host.corp/x"}},
        {";;<local>;;", {"http://intranet/"}, {}},
        // No backtracking: only the first occurrence of a piece is tried.
        {"*.corp",
         {"http://a.corp/", "http://A.CORP/"},
         {"http://corp/", "http://x.corp.corp.corp/", "http://a.corp.example/"}},
        {"10.1.*", {"http://10.1.2.3:8080/"}, {"http://110.1.2.3/"}},
        {"a*c*e", {"http://abcde/"}, {"http://abcdef/"}},
        {"*", {"http://anything.example/"}, {}},
        {"**", {"http://x/"}, {}},
        {"intranet:8080", {"http://intranet:8080/"}, {"http://intranet/", "http://intranet:8081/"}},
        {"intranet:99999", {"http://intranet:80/"}, {}}, // a bad port restricts nothing
        {"https://secure.corp", {"https://secure.corp/"}, {"http://secure.corp/"}},
        {"host.corp", {}, {"http://host.corp:99x/"}}, // the port stays in the host
    };
    for (const Rule& rule : rules) {
        for (const char* url : rule.bypassed)
            EXPECT_EQ(ProxyFor("proxy.corp:8080", rule.list, url), "") << rule.list << " " << url;
        for (const char* url : rule.proxied)
            EXPECT_EQ(ProxyFor("proxy.corp:8080", rule.list, url), "proxy.corp:8080")
                << rule.list << " " << url;
    }
}

// The hand-written matchers stand in for the settings' regular expressions and must accept
// exactly what those accept.
TEST(ManualProxyConfig, PatternMatchersAcceptWhatTheRegularExpressionsAccept) {
    const std::regex hostName("^(([a-zA-Z0-9]|[a-zA-Z0-9][a-zA-Z0-9\\-]*[a-zA-Z0-9])\\.)"
                              "*([A-Za-z0-9]|[A-Za-z0-9][A-Za-z0-9\\-]*[A-Za-z0-9])$");
    const std::regex ipv4("^(([0-9]|[1-9][0-9]|1[0-9]{2}|2[0-4][0-9]|25[0-5])\\.){3}"
                          "([0-9]|[1-9][0-9]|1[0-9]{2}|2[0-4][0-9]|25[0-5])$");
    const std::regex label("^([a-zA-Z][a-zA-Z0-9\\-]*)$");
    const std::regex port("^([0-9]{1,5})");
    std::vector<std::string> texts = {
        "",          "a",     "-",         "a-",          "-a",
        "a-b",       "a.b",   "a..b",      ".a",          "a.",
        "a.-b",      "a-.b",  "9",         "99999",       "123456",
        "0",         "00",    "01.2.3.4",  "0.0.0.0",     "255.255.255.255",
        "256.1.1.1", "1.2.3", "1.2.3.4.5", "1.2.3.4.",    "199.249.250.251",
        "2a",        "a_b",   "A.B-C.d9",  "xn--p1ai.rf", "\xc3\xa9t\xc3\xa9",
        "1e3",       " 80",   "80 ",       "+80",         "a.b.c.d.e.f"};
    texts.emplace_back("a\0b", 3);
    for (const std::string& text : texts) {
        EXPECT_EQ(MatchesHostNamePattern(text), std::regex_match(text, hostName)) << text;
        EXPECT_EQ(MatchesIPv4Pattern(text), std::regex_match(text, ipv4)) << text;
        EXPECT_EQ(MatchesSingleLabelPattern(text), std::regex_match(text, label)) << text;
        EXPECT_EQ(MatchesPortPattern(text), std::regex_match(text, port)) << text;
    }
}

} // namespace
