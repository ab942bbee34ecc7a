#include "proxy/ManualProxyConfig.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

namespace {

TEST(ManualProxyConfig, EntriesFillTheSlotsOfTheirSchemesAndBypassRulesMatchPieces) {
    const std::string longest = std::string(120, 'z') + "." + std::string(132, 'b');
    // The lists given in turn to one object, a URL, and the proxy for it.
    const std::string cases[][4] = {
        {"proxy.corp:8080", "", "gopher://a/", "proxy.corp:8080"},
        {"HTTP=ZULU.Corp:80;https=b.corp:443", "", "HTTP://Host/", "zulu.corp:80"},
        {"http=a.corp:80", "", "https://x/", ""}, // the old list's slots are emptied
        {"https=p2:443;proxy:80", "", "https://x/", "proxy:80"},
        {"socks://web.corp:3128/path", "", "socks://x/", "web.corp:3128"},
        {" https=p2:443", "", "https://x/", ""}, // a blank-led scheme is unknown
        {"http=*.corp:80;ftp=10.1.2.3:65535", "", "ftp://x/", "10.1.2.3:65535"},
        {"a.corp:80;http=bad_host:80", "", "http://x/", "a.corp:80"},
        {"ftp=" + longest, "", "ftp://x/", longest},
        {"p:1", ";<local>;", "http://intranet:8080/x", ""},
        {"p:1", "*.corp", "http://intranet/", "p:1"}, // <local> is gone with its list
        {"p:1", "*.CORP", "http://a.corp/", ""},
        {"p:1", "*.corp", "http://corp/", "p:1"},
        {"p:1", "*.corp", "http://x.corp.corp.corp/", "p:1"}, // no backtracking
        {"p:1", "10.1.*", "http://10.1.2.3:8080/", ""},
        {"p:1", "10.1.*", "http://110.1.2.3/", "p:1"},
        {"p:1", "a*c*e", "http://abcde/", ""},
        {"p:1", "intranet:8080", "http://intranet:8080/", ""},
        {"p:1", "intranet:8080", "http://intranet:8081/", "p:1"},
        {"p:1", "intranet:99999", "http://intranet:80/", ""}, // a bad port restricts nothing
        {"p:1", "https://secure.corp", "https://secure.corp/", ""},
        {"p:1", "https://secure.corp", "http://secure.corp/", "p:1"},
        {"p:1", "host.corp", "http://host.corp:99/", ""},
        {"p:1", "host.corp", "http://host.corp:99x/", "p:1"}, // a bad port stays in the host
        {"p:1", "", "http://host.corp:99/", "p:1"}};
    ManualProxyConfig manual;
    for (const auto& [proxies, bypass, url, proxy] : cases) {
        manual.Update(proxies, bypass);
        EXPECT_EQ(manual.FindProxy(url), proxy) << proxies << " " << bypass << " " << url;
    }
    testing_support::CapturedLog log;
    manual.Update("bad_host:80", "");
    manual.Update("BAD_HOST:80", "");
    EXPECT_EQ(log.Lines().size(), 1u) << "a list is parsed, and a bad host warned, once";
}

TEST(ManualProxyConfig, HostsAreNamesOrSingleLabelsWithAnOptionalPort) {
    for (const char* valid :
         {"a", "z", "Z9", "a-", "a-z", "0z.A", "A.B-C.d9", "1.2.3.4", "a:0", "a:00080", "a:65535"})
        EXPECT_TRUE(ManualProxyConfig::IsValidHost(valid, false)) << valid;
    for (const char* invalid :
         {"",    "-",   "-a",      "a..b",     ".a",    "a.",    "a.-b", "a-.b",
          "2a",  "a_b", "a@b",     "a`b",      "a{b",   "a[b",   "a/b",  "a\xc3\xa9",
          "*.a", "a:",  "a:65536", "a:123456", "a:+80", "a: 80", "a:8x"})
        EXPECT_FALSE(ManualProxyConfig::IsValidHost(invalid, false)) << invalid;
    EXPECT_FALSE(ManualProxyConfig::IsValidHost(std::string(254, 'a'), false));
}

} // namespace
