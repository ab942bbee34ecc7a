// A proxy platform that answers from a script the test writes and records what the resolver asked,
// so that every decision of the resolver can be driven without a network or a clock.
#pragma once

#include "proxy/ProxyPlatform.h"

#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

struct ProxyScript {
    // What the platform answers.
    bool readFails = false;
    OrnUtil::proxy::ProxySettings settings;
    bool openFails = false;
    uint32_t timeoutError = 0;
    // Consumed one per lookup; once empty, the last answer repeats.
    std::deque<OrnUtil::proxy::ProxyAnswer> discoveryAnswers;
    std::deque<OrnUtil::proxy::ProxyAnswer> scriptAnswers;
    uint32_t tick = 1000;

    // What the resolver did.
    int sessionsOpened = 0;
    int sessionsClosed = 0;
    std::string userAgent;
    std::vector<OrnUtil::proxy::ProxyQuery> queries;
    std::vector<OrnUtil::proxy::ProxyTimeouts> timeouts;

    int Discoveries() const { return Count(true); }
    int ScriptLookups() const { return Count(false); }

    static OrnUtil::proxy::ProxyAnswer List(const std::string& list) {
        OrnUtil::proxy::ProxyAnswer answer;
        answer.proxyList = list;
        return answer;
    }
    static OrnUtil::proxy::ProxyAnswer Error(uint32_t error) {
        OrnUtil::proxy::ProxyAnswer answer;
        answer.error = error;
        return answer;
    }

private:
    int Count(bool discover) const {
        int count = 0;
        for (const auto& query : queries)
            count += query.discover == discover;
        return count;
    }
};

class ScriptedProxyPlatform : public OrnUtil::proxy::ProxyPlatform {
public:
    explicit ScriptedProxyPlatform(std::shared_ptr<ProxyScript> script)
        : m_Script(std::move(script)) {}

    bool ReadUserSettings(OrnUtil::proxy::ProxySettings& settings) override {
        if (m_Script->readFails)
            return false;
        settings = m_Script->settings;
        return true;
    }
    std::unique_ptr<OrnUtil::proxy::ProxySession>
    OpenSession(const std::string& userAgent) override {
        m_Script->userAgent = userAgent;
        if (m_Script->openFails)
            return nullptr;
        ++m_Script->sessionsOpened;
        return std::make_unique<Session>(m_Script);
    }
    uint32_t TickCount() override { return m_Script->tick; }

private:
    class Session : public OrnUtil::proxy::ProxySession {
    public:
        explicit Session(std::shared_ptr<ProxyScript> script) : m_Script(std::move(script)) {}
        ~Session() override { ++m_Script->sessionsClosed; }
        uint32_t SetTimeouts(const OrnUtil::proxy::ProxyTimeouts& timeouts) override {
            m_Script->timeouts.push_back(timeouts);
            return m_Script->timeoutError;
        }
        OrnUtil::proxy::ProxyAnswer
        GetProxyForUrl(const std::string&, const OrnUtil::proxy::ProxyQuery& query) override {
            m_Script->queries.push_back(query);
            auto& answers = query.discover ? m_Script->discoveryAnswers : m_Script->scriptAnswers;
            if (answers.empty())
                return ProxyScript::Error(OrnUtil::proxy::ProxyError::AUTO_PROXY_SERVICE_ERROR);
            OrnUtil::proxy::ProxyAnswer answer = answers.front();
            if (answers.size() > 1)
                answers.pop_front();
            return answer;
        }

    private:
        std::shared_ptr<ProxyScript> m_Script;
    };

    std::shared_ptr<ProxyScript> m_Script;
};

} // namespace testing_support
