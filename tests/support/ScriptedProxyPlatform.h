// A proxy platform that answers as the test says and records what the resolver asked, so that every
// decision of the resolver can be driven without a network or a clock.
#pragma once

#include "proxy/ProxyPlatform.h"

#include <deque>
#include <memory>
#include <string>

namespace testing_support {

struct ScriptedProxyPlatform : OrnUtil::proxy::ProxyPlatform {
    using Answer = OrnUtil::proxy::ProxyAnswer;

    // Settings are handed over even when reading fails; answers one per query, the last repeats.
    bool readFails = false;
    OrnUtil::proxy::ProxySettings settings;
    uint32_t timeoutError = 0, tick = 1000;
    std::deque<Answer> discoveryAnswers, scriptAnswers;

    // What the resolver did.
    int sessionsOpened = 0, sessionsClosed = 0, discoveries = 0, scriptLookups = 0;
    OrnUtil::proxy::ProxyQuery lastDiscovery, lastScript;

    static Answer List(const std::string& list) { return {0, list, {}}; }
    static Answer Error(uint32_t error) { return {error, {}, {}}; }

    bool ReadUserSettings(OrnUtil::proxy::ProxySettings& read) override {
        read = settings;
        return !readFails;
    }
    std::unique_ptr<OrnUtil::proxy::ProxySession> OpenSession(const std::string&) override {
        ++sessionsOpened;
        return std::make_unique<Session>(*this);
    }
    uint32_t TickCount() override { return tick; }

    struct Session : OrnUtil::proxy::ProxySession {
        explicit Session(ScriptedProxyPlatform& platform) : m_Platform(platform) {}
        ~Session() override { ++m_Platform.sessionsClosed; }
        uint32_t SetTimeouts(const OrnUtil::proxy::ProxyTimeouts&) override {
            return m_Platform.timeoutError;
        }
        Answer GetProxyForUrl(const std::string&,
                              const OrnUtil::proxy::ProxyQuery& query) override {
            (query.discover ? m_Platform.lastDiscovery : m_Platform.lastScript) = query;
            ++(query.discover ? m_Platform.discoveries : m_Platform.scriptLookups);
            auto& answers = query.discover ? m_Platform.discoveryAnswers : m_Platform.scriptAnswers;
            const Answer answer = answers.front();
            if (answers.size() > 1)
                answers.pop_front();
            return answer;
        }
        ScriptedProxyPlatform& m_Platform;
    };
};

// Settings in one line, each part only when present: "auto pac=U list=L bypass=B".
inline std::string SettingsText(const OrnUtil::proxy::ProxySettings& s) {
    const std::string text = std::string(s.autoDetect ? " auto" : "") +
                             (s.pacUrl ? " pac=" + *s.pacUrl : "") +
                             (s.proxyList ? " list=" + *s.proxyList : "") +
                             (s.bypassList ? " bypass=" + *s.bypassList : "");
    return text.substr(text.empty() ? 0 : 1);
}

} // namespace testing_support
