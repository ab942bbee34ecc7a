#include "proxy/linux/LinuxProxySession.h"

#include "internal/Text.h"
#include "internal/Url.h"
#include "proxy/PacAnswer.h"
#include "proxy/linux/PacDownload.h"
#include "proxy/linux/Wpad.h"

#include <algorithm>
#include <cctype>

namespace OrnUtil::proxy {

namespace {

FetchLimits Limits(const ProxyTimeouts& timeouts) {
    const auto positive = [](int ms) { return static_cast<unsigned>(std::max(ms, 1)); };
    return {positive(timeouts.resolveMs) + positive(timeouts.connectMs),
            positive(timeouts.resolveMs) + positive(timeouts.connectMs) +
                positive(timeouts.sendMs) + positive(timeouts.receiveMs)};
}

ProxyAnswer Failed(uint32_t error) {
    ProxyAnswer answer;
    answer.error = error;
    return answer;
}

} // namespace

std::string ProxyTargetHost(const std::string& url, uint32_t& error) {
    error = ProxyError::INVALID_URL;
    std::string_view schemeText, rest;
    if (!internal::SplitScheme(url, schemeText, rest) || schemeText.empty() ||
        url.find('\0') != std::string::npos)
        return std::string();
    const std::string scheme = internal::Lowered(std::string(schemeText));
    if (!std::all_of(scheme.begin(), scheme.end(), [](unsigned char c) {
            return std::isalnum(c) || c == '+' || c == '-' || c == '.';
        }))
        return std::string();
    const std::string_view authority = internal::AuthorityOf(rest);
    std::string_view host;
    if (!authority.empty() && authority.front() == '[') {
        const size_t close = authority.find(']');
        if (close == std::string_view::npos)
            return std::string();
        host = authority.substr(1, close - 1);
    } else {
        host = authority.substr(0, authority.find(':'));
    }
    if (host.empty() || host.find_first_of(internal::BLANKS) != std::string_view::npos)
        return std::string();
    static const char* const CARRIED[] = {"http", "https", "ftp", "ws", "wss"};
    if (std::find(std::begin(CARRIED), std::end(CARRIED), scheme) == std::end(CARRIED)) {
        error = ProxyError::UNRECOGNIZED_SCHEME;
        return std::string();
    }
    error = 0;
    return internal::Lowered(std::string(host));
}

uint32_t LinuxProxySession::SetTimeouts(const ProxyTimeouts& timeouts) {
    m_Timeouts = timeouts;
    return 0;
}

ProxyAnswer LinuxProxySession::GetProxyForUrl(const std::string& url, const ProxyQuery& query) {
    uint32_t error = 0;
    const std::string host = ProxyTargetHost(url, error);
    if (error != 0)
        return Failed(error);
    return query.discover ? Discover(url, host) : FromScript(query.scriptUrl, url, host);
}

std::shared_ptr<CPacScript> LinuxProxySession::Compile(const std::string& source, uint32_t& error) {
    std::string reason;
    // A script runs as long as the step may wait for its answer.
    const PacBounds bounds{static_cast<unsigned>(std::max(m_Timeouts.receiveMs, 1)),
                           static_cast<unsigned>(std::max(m_Timeouts.resolveMs, 1)),
                           PacBounds::HEAP_BYTES};
    std::shared_ptr<CPacScript> script = CPacScript::Compile(source, bounds, reason);
    error = script ? 0 : ProxyError::BAD_AUTO_PROXY_SCRIPT;
    return script;
}

std::shared_ptr<CPacScript> LinuxProxySession::Script(const std::string& scriptUrl,
                                                      uint32_t& error) {
    const auto cached = m_Scripts.find(scriptUrl);
    if (cached != m_Scripts.end()) {
        error = 0;
        return cached->second;
    }
    // A local path names a file, as a browser takes it.
    const ScriptFetch fetch = FetchScript(internal::FileUrlOf(scriptUrl), Limits(m_Timeouts));
    if (fetch.outcome != ScriptFetch::FETCHED) {
        error = fetch.outcome == ScriptFetch::LOGIN_NEEDED ? ProxyError::LOGIN_FAILURE
                                                           : ProxyError::UNABLE_TO_DOWNLOAD_SCRIPT;
        return nullptr;
    }
    std::shared_ptr<CPacScript> script = Compile(fetch.script, error);
    if (script)
        m_Scripts[scriptUrl] = script;
    return script;
}

ProxyAnswer LinuxProxySession::FromScript(const std::string& scriptUrl, const std::string& url,
                                          const std::string& host) {
    uint32_t error = 0;
    std::shared_ptr<CPacScript> script = Script(scriptUrl, error);
    if (!script)
        return Failed(error);
    std::string answer, reason;
    if (!script->FindProxy(url, host, answer, reason)) {
        // A script that failed is fetched afresh next time: it may have been fixed meanwhile.
        m_Scripts.erase(scriptUrl);
        return Failed(ProxyError::BAD_AUTO_PROXY_SCRIPT);
    }
    ProxyAnswer result;
    const std::string list = TranslatePacAnswer(answer);
    if (!list.empty())
        result.proxyList = list;
    return result;
}

ProxyAnswer LinuxProxySession::Discover(const std::string& url, const std::string& host) {
    if (m_Discovered)
        return FromScript(*m_Discovered, url, host);
    bool loginNeeded = false, timedOut = false;
    for (const std::string& candidate : WpadCandidates(SystemHostName(), SystemSearchDomains())) {
        const ScriptFetch fetch = FetchScript(candidate, Limits(m_Timeouts));
        loginNeeded = loginNeeded || fetch.outcome == ScriptFetch::LOGIN_NEEDED;
        timedOut = timedOut || fetch.outcome == ScriptFetch::TIMED_OUT;
        if (fetch.outcome != ScriptFetch::FETCHED)
            continue;
        uint32_t error = 0;
        std::shared_ptr<CPacScript> script = Compile(fetch.script, error);
        if (!script)
            return Failed(error);
        m_Scripts[candidate] = script;
        m_Discovered = candidate;
        return FromScript(candidate, url, host);
    }
    return Failed(loginNeeded ? ProxyError::LOGIN_FAILURE
                  : timedOut  ? ProxyError::TIMEOUT
                              : ProxyError::AUTODETECTION_FAILED);
}

} // namespace OrnUtil::proxy
