#include "proxy/linux/PacScript.h"

#include "proxy/PacAnswer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <thread>

using OrnUtil::proxy::CPacScript;
using OrnUtil::proxy::PacBounds;
using OrnUtil::proxy::TranslatePacAnswer;
using testing::HasSubstr;

namespace {

const PacBounds BOUNDS{500, 500, PacBounds::HEAP_BYTES};

std::unique_ptr<CPacScript> Compile(const std::string& source) {
    std::string error;
    auto script = CPacScript::Compile(source, BOUNDS, error);
    EXPECT_NE(script, nullptr) << error;
    return script;
}

// The answer for a URL, or "error: <reason>".
std::string Ask(CPacScript& script, const std::string& url, const std::string& host) {
    std::string answer, error;
    return script.FindProxy(url, host, answer, error) ? answer : "error: " + error;
}

// A script that answers with the value of `expression` (url and host in scope).
std::string Evaluate(const std::string& expression, const std::string& host = "www.example.com") {
    auto script =
        Compile("function FindProxyForURL(url, host) { return String(" + expression + "); }");
    return script ? Ask(*script, "http://" + host + "/", host) : "not compiled";
}

TEST(PacAnswer, EntriesBecomeWhatTheResolverAndCurlRead) {
    EXPECT_EQ(TranslatePacAnswer("PROXY a:80"), "PROXY a:80");
    EXPECT_EQ(TranslatePacAnswer(" proxy  Proxy.Corp:8080 ;http b:3128"),
              "PROXY proxy.corp:8080;PROXY b:3128");
    EXPECT_EQ(TranslatePacAnswer("HTTPS s:443; SOCKS x:1080; socks4 y:1; SOCKS5 z:1080; DIRECT"),
              "https://s:443;socks4://x:1080;socks4://y:1;socks5://z:1080;DIRECT");
    EXPECT_EQ(TranslatePacAnswer("DIRECT; PROXY a:80"), "DIRECT;PROXY a:80")
        << "the whole list is kept, so the resolver can fail over";
    EXPECT_EQ(TranslatePacAnswer("QUIC q:443; PROXY; PROXY a b; PROXY a/x; PROXY u@h:1; c:80"), "")
        << "entries of no known form are left out";
}

TEST(PacAnswer, DirectAloneOrNothingUsableIsADirectAnswer) {
    EXPECT_EQ(TranslatePacAnswer("DIRECT"), "");
    EXPECT_EQ(TranslatePacAnswer(" direct ;; DIRECT"), "");
    EXPECT_EQ(TranslatePacAnswer(""), "");
    EXPECT_EQ(TranslatePacAnswer(std::string("PROXY a:80\0;PROXY b:80", 22)), "PROXY b:80");
}

TEST(PacHelpers, NamesAndPatterns) {
    EXPECT_EQ(Evaluate("isPlainHostName('intranet') && !isPlainHostName('a.b')"), "true");
    EXPECT_EQ(Evaluate("dnsDomainIs(host, '.EXAMPLE.com') && !dnsDomainIs(host, '.org')"), "true");
    EXPECT_EQ(Evaluate("localHostOrDomainIs('www', 'www.example.com')"), "true");
    EXPECT_EQ(Evaluate("localHostOrDomainIs('www.other.com', 'www.example.com')"), "false");
    EXPECT_EQ(Evaluate("dnsDomainLevels(host)"), "2");
    EXPECT_EQ(Evaluate("shExpMatch(url, '*.example.com/*') && shExpMatch('a.b', 'a?b')"), "true");
    EXPECT_EQ(Evaluate("shExpMatch('a+b(c)', 'a+b(c)') && !shExpMatch('axb', 'a.b')"), "true");
}

TEST(PacHelpers, AddressesAndNetworks) {
    EXPECT_EQ(Evaluate("dnsResolve('localhost')"), "127.0.0.1");
    EXPECT_EQ(Evaluate("dnsResolve('no-such-host.invalid')"), "null");
    EXPECT_EQ(Evaluate("isResolvable('localhost') && !isResolvable('x.invalid')"), "true");
    EXPECT_EQ(Evaluate("isInNet('10.1.2.3', '10.0.0.0', '255.0.0.0')"), "true");
    EXPECT_EQ(Evaluate("isInNet('11.1.2.3', '10.0.0.0', '255.0.0.0')"), "false");
    EXPECT_EQ(Evaluate("isInNet('localhost', '127.0.0.0', '255.0.0.0')"), "true");
    EXPECT_EQ(Evaluate("isInNet('300.1.1.1', '10.0.0.0', '255.0.0.0')"), "false");
    EXPECT_EQ(Evaluate("isInNetEx('2001:db8::1', '2001:db8::/32')"), "true");
    EXPECT_EQ(Evaluate("isInNetEx('10.9.8.7', '10.0.0.0/8') && !isInNetEx('10.9.8.7', '10/x')"),
              "true");
    EXPECT_EQ(Evaluate("sortIpAddressList('10.0.0.2;::1;10.0.0.1')"), "::1;10.0.0.1;10.0.0.2");
    EXPECT_EQ(Evaluate("sortIpAddressList('10.0.0.2;bogus')"), "false");
    EXPECT_THAT(Evaluate("myIpAddress()"), testing::MatchesRegex("[0-9]+(\\.[0-9]+){3}"));
    EXPECT_NE(Evaluate("myIpAddressEx()"), "");
}

TEST(PacHelpers, CalendarRangesThatAlwaysOrNeverHold) {
    EXPECT_EQ(Evaluate("weekdayRange('SUN', 'SAT') && weekdayRange('MON', 'SUN', 'GMT')"), "true");
    EXPECT_EQ(Evaluate("weekdayRange('XYZ')"), "false");
    EXPECT_EQ(Evaluate("dateRange('JAN', 'DEC') && dateRange(1, 31, 'GMT')"), "true");
    EXPECT_EQ(Evaluate("dateRange(1990, 1999) || dateRange(1, 'JAN', 1990, 31, 'DEC', 1999)"),
              "false");
    EXPECT_EQ(Evaluate("dateRange('JAN', 1, 'FEB')"), "false") << "an odd number of values";
    EXPECT_EQ(Evaluate("timeRange(0, 24) && timeRange(0, 0, 0, 23, 59, 59, 'GMT') !== undefined"),
              "true");
    EXPECT_EQ(Evaluate("timeRange(5, 5) || timeRange('x')"), "false");
}

TEST(PacScript, TheExtendedEntryPointIsPreferred) {
    auto script = Compile("function FindProxyForURL(u, h) { return 'PROXY old:1'; }"
                          "function FindProxyForURLEx(u, h) { return 'PROXY new:1; ' + h; }");
    EXPECT_EQ(Ask(*script, "http://a.b/", "a.b"), "PROXY new:1; a.b");
}

TEST(PacScript, ScriptsThatCannotServeAreRefusedWithTheReason) {
    std::string error;
    EXPECT_EQ(CPacScript::Compile("function FindProxyForURL(u, h) {", BOUNDS, error), nullptr);
    EXPECT_THAT(error, HasSubstr("SyntaxError"));
    EXPECT_EQ(CPacScript::Compile("var x = 1;", BOUNDS, error), nullptr);
    EXPECT_THAT(error, HasSubstr("no FindProxyForURL"));
    EXPECT_EQ(CPacScript::Compile("var FindProxyForURL = 3;", BOUNDS, error), nullptr);
    EXPECT_EQ(CPacScript::Compile("throw new Error('at load');", BOUNDS, error), nullptr);
    EXPECT_THAT(error, HasSubstr("at load"));
    EXPECT_EQ(CPacScript::Compile("while (true) {}", BOUNDS, error), nullptr);
    EXPECT_THAT(error, HasSubstr("timeout"));
}

TEST(PacScript, ScriptErrorsAndOverrunsEndTheCallAndTheScriptServesOn) {
    auto script = Compile(R"js(
        function recurse(n) { return recurse(n + 1) + 1; }
        function FindProxyForURL(url, host) {
            if (host == 'loop') while (true) {}
            if (host == 'catchloop') while (true) { try { while (true) {} } catch (e) {} }
            if (host == 'recurse') return recurse(0);
            if (host == 'throw') throw new Error('refused');
            if (host == 'number') return 42;
            if (host == 'dns') { while (true) dnsResolve('slow.invalid'); }
            return 'DIRECT';
        })js");
    EXPECT_THAT(Ask(*script, "http://loop/", "loop"), HasSubstr("execution timeout"));
    EXPECT_THAT(Ask(*script, "http://catchloop/", "catchloop"), HasSubstr("execution timeout"));
    EXPECT_THAT(Ask(*script, "http://recurse/", "recurse"), HasSubstr("RangeError"));
    EXPECT_THAT(Ask(*script, "http://throw/", "throw"), HasSubstr("refused"));
    EXPECT_EQ(Ask(*script, "http://number/", "number"),
              "error: FindProxyForURL returned no string");
    EXPECT_THAT(Ask(*script, "http://dns/", "dns"), HasSubstr("execution timeout"));
    EXPECT_EQ(Ask(*script, "http://fine/", "fine"), "DIRECT");
}

// The cap makes the allocations fail; where the interpreter is slow (a sanitized build), the
// bound may end the call first. Either way the caller is answered.
TEST(PacScript, AllocationsBeyondTheCapFail) {
    for (const char* body : {"var s = 'x'; while (true) s = s + s;", "return 'x'.repeat(1 << 30);",
                             "return String(new ArrayBuffer(1 << 30).byteLength);"}) {
        auto script = Compile(std::string("function FindProxyForURL(url, host) {") + body + "}");
        ASSERT_NE(script, nullptr);
        EXPECT_THAT(Ask(*script, "http://a/", "a"), HasSubstr("error: ")) << body;
    }
}

TEST(PacScript, OneScriptServesSeveralThreads) {
    auto script =
        Compile("function FindProxyForURL(url, host) { return 'PROXY ' + host + ':80'; }");
    std::vector<std::thread> threads;
    std::vector<std::string> answers(4);
    for (size_t i = 0; i < answers.size(); ++i)
        threads.emplace_back([&, i] {
            for (int round = 0; round < 50; ++round)
                answers[i] =
                    Ask(*script, "http://h" + std::to_string(i) + "/", "h" + std::to_string(i));
        });
    for (auto& thread : threads)
        thread.join();
    for (size_t i = 0; i < answers.size(); ++i)
        EXPECT_EQ(answers[i], "PROXY h" + std::to_string(i) + ":80");
}

// Last in the file: the threads it abandons keep running while the process lives, and while two
// do, no new script starts.
TEST(PacScript, ABuiltinThatNeverReachesTheDeadlineIsAbandonedAtTheBound) {
    auto script =
        Compile("function FindProxyForURL(url, host) {"
                "    return host == 'sort' ? String(new Array(1 << 30).sort()) : 'DIRECT'; }");
    EXPECT_EQ(Ask(*script, "http://sort/", "sort"),
              "error: the script did not stop within its bound");
    EXPECT_EQ(Ask(*script, "http://fine/", "fine"),
              "error: the script did not stop within its bound")
        << "an abandoned script serves no more";

    std::string error;
    EXPECT_EQ(CPacScript::Compile("new Array(1 << 30).sort(); function FindProxyForURL() {}",
                                  BOUNDS, error),
              nullptr);
    EXPECT_EQ(error, "the script did not stop within its bound");
    EXPECT_EQ(CPacScript::Compile("function FindProxyForURL() { return 'DIRECT'; }", BOUNDS, error),
              nullptr)
        << "no new script starts while two overrunning ones still run";
    EXPECT_THAT(error, HasSubstr("still being stopped"));
}

} // namespace
