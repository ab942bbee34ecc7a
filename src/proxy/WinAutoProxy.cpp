#include "proxy/WinAutoProxy.h"

#include "log/LogStatement.h"
#include "proxy/linux/LinuxProxyPlatform.h"

using namespace OrnUtil::proxy;

namespace {

const char* const USER_AGENT = "Velarra";
const ProxyTimeouts WPAD_TIMEOUTS{500, 250, 150, 2000};
const ProxyTimeouts PAC_TIMEOUTS{500, 250, 150, 500};

std::mutex g_InstanceMutex;
std::unique_ptr<AutoProxy> g_Instance;

} // namespace

AutoProxy* AutoProxy::Instance() {
    std::lock_guard<std::mutex> lock(g_InstanceMutex);
    if (!g_Instance)
        g_Instance = std::make_unique<WinAutoProxy>();
    return g_Instance.get();
}

WinAutoProxy::WinAutoProxy() : WinAutoProxy(MakeSystemProxyPlatform()) {}

WinAutoProxy::WinAutoProxy(std::unique_ptr<ProxyPlatform> platform)
    : m_Platform(std::move(platform)) {}

WinAutoProxy::~WinAutoProxy() = default;

bool WinAutoProxy::GetProxyForUrl(const std::string& url, std::string& proxy) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    proxy.clear();
    m_LookupAttempted = true;

    if (m_PacFileFailed &&
        static_cast<uint32_t>(m_Platform->TickCount() - m_PacFailTime) >= PAC_HOLD_OFF_MS) {
        m_PacFailTime = 0;
        m_PacFileFailed = false;
    }

    ProxySettings settings;
    const bool read = m_Platform->ReadUserSettings(settings);
    if (!read)
        settings = ProxySettings();

    bool result = false;
    bool decided = false;
    if (!read || settings.autoDetect || settings.pacUrl) {
        const bool retry = m_FailedOver && url == m_AnswerUrl && !m_Answer.empty();
        if (!retry) {
            m_AnswerUrl = url;
            m_Answer = RunAutomaticSteps(url, settings);
        }
        const bool ok = SelectProxy(m_Answer, proxy);
        TraceFirstLookup(ok, "GetProxy reports OK and gives proxy:", proxy,
                         "GetProxy failed, falling back to manual settings");
        result = decided = ok;
    }

    if (!decided) {
        if (!settings.proxyList) {
            if (m_FirstLookup) {
                ORN_LOG(INFO, "WinAutoProxy::GetProxyForUrl")
                    << "Auto proxy failed and no manual settings found";
            }
        } else {
            m_Manual.Update(*settings.proxyList, settings.bypassList.value_or(std::string()));
            proxy = m_Manual.FindProxy(url);
            result = proxy.empty() || !IsProxyTaggedFailed(proxy);
            TraceFirstLookup(result, "Manual proxy settings used: proxy = ", proxy,
                             "User-specified proxy has been tagged as failed.");
        }
    }

    m_FirstLookup = false;
    return result;
}

std::string WinAutoProxy::RunAutomaticSteps(const std::string& url, const ProxySettings& settings) {
    std::string discovered;
    if (!m_hSession)
        m_hSession = m_Platform->OpenSession(USER_AGENT);
    if (m_hSession) {
        if (!m_AutoDetectFailed && settings.autoDetect)
            discovered = GetProxyByWpadAutoDiscovery(url);
        if (discovered.empty() && !m_PacFileFailed && settings.pacUrl)
            discovered = GetProxyFromPacFile(url, *settings.pacUrl);
    }
    return discovered;
}

void WinAutoProxy::TraceFirstLookup(bool ok, const char* okText, const std::string& proxy,
                                    const char* failText) {
    if (!m_FirstLookup)
        return;
    if (ok) {
        ORN_LOG(INFO, "WinAutoProxy::GetProxyForUrl") << okText << proxy;
    } else {
        ORN_LOG(INFO, "WinAutoProxy::GetProxyForUrl") << failText;
    }
}

std::string WinAutoProxy::GetProxyByWpadAutoDiscovery(const std::string& url) {
    std::string result;
    if (m_FirstLookup) {
        ORN_LOG(INFO, "WinAutoProxy::GetProxyByWpadAutoDiscovery")
            << "Determining proxy using WPAD DHCP / DNS detection";
    }
    if (const uint32_t error = m_hSession->SetTimeouts(WPAD_TIMEOUTS)) {
        ORN_LOG(WARN, "WinAutoProxy::GetProxyByWpadAutoDiscovery")
            << "Unable to configure WinHttp timeouts for WPAD proxy resolution, error: " << error;
    }

    ProxyQuery query;
    query.discover = true;
    query.discoveryMethods = DISCOVER_BY_DHCP | DISCOVER_BY_DNS;
    ProxyAnswer answer = m_hSession->GetProxyForUrl(url, query);
    if (answer.error == ProxyError::LOGIN_FAILURE) {
        query.autoLogonIfChallenged = true;
        answer = m_hSession->GetProxyForUrl(url, query);
    }

    if (answer.error == 0) {
        if (answer.proxyList) {
            result = *answer.proxyList;
            if (m_FirstLookup) {
                ORN_LOG(INFO, "WinAutoProxy::GetProxyByWpadAutoDiscovery")
                    << "WinHttpGetProxyForUrl result:" << result;
            }
        }
        return result;
    }

    const uint32_t error = answer.error;
    m_AutoDetectFailed =
        error == ProxyError::LOGIN_FAILURE || error == ProxyError::AUTODETECTION_FAILED;
    if (m_AutoDetectFailed) {
        ORN_LOG(INFO, "WinAutoProxy::GetProxyByWpadAutoDiscovery")
            << "Proxy auto detection has failed and will not"
            << " "
            << "be reattempted in this session.\n"
            << "Explicit PAC file / manual settings will be "
            << "used for proxy support.";
    } else {
        ORN_LOG(INFO, "WinAutoProxy::GetProxyByWpadAutoDiscovery")
            << "Proxy auto detection reports error " << error << " but will be retried.\n"
            << "Explicit PAC file / manual settings will be used for this request if available.";
    }
    return result;
}

std::string WinAutoProxy::GetProxyFromPacFile(const std::string& url, const std::string& pacUrl) {
    std::string result;
    if (m_FirstLookup) {
        ORN_LOG(INFO, "WinAutoProxy::GetProxyFromPacFile")
            << "Determining proxy using explicitly specified PAC file URL " << pacUrl;
    }
    if (const uint32_t error = m_hSession->SetTimeouts(PAC_TIMEOUTS)) {
        ORN_LOG_FILE(WARN, "WinAutoProxy::GetProxyFromPacFile")
            << "Unable to configure WinHttp timeouts for PAC file proxy resolution, error: "
            << error;
    }

    ProxyQuery query;
    query.scriptUrl = pacUrl;
    query.autoLogonIfChallenged = true;
    const ProxyAnswer answer = m_hSession->GetProxyForUrl(url, query);
    if (answer.error != 0) {
        m_PacFileFailed = IsFatalWinHttpProxyError(answer.error);
        m_PacFailTime = m_Platform->TickCount();
        return result;
    }
    if (answer.proxyList) {
        result = *answer.proxyList;
        if (m_FirstLookup) {
            ORN_LOG(INFO, "WinAutoProxy::GetProxyFromPacFile")
                << "WinHttpGetProxyForUrl result:" << result;
        }
    } else {
        result = "DIRECT";
    }
    if (answer.bypassList && m_FirstLookup) {
        ORN_LOG(INFO, "WinAutoProxy::GetProxyFromPacFile")
            << "WinHttpGetProxyForUrl proxy bypass:" << *answer.bypassList;
    }
    return result;
}

bool WinAutoProxy::SelectProxy(const std::string& discovered, std::string& proxy) {
    if (discovered.empty())
        return false;
    proxy.clear();
    bool direct = false;
    size_t start = 0;
    for (int entries = 0; start < discovered.size() && entries < MAX_ANSWER_ENTRIES; ++entries) {
        const size_t end = discovered.find(';', start);
        const std::string entry = discovered.substr(start, end - start);
        start = end == std::string::npos ? discovered.size() : end + 1;

        direct = false;
        const size_t keyword = entry.find("PROXY");
        if (keyword != std::string::npos) {
            // The keyword and the one separator behind it.
            const size_t host = keyword + 6;
            proxy = host < entry.size() ? entry.substr(host) : std::string();
        } else if (entry.find("DIRECT") != std::string::npos) {
            direct = true;
        } else {
            proxy = entry;
        }
        if (!proxy.empty()) {
            if (!IsProxyTaggedFailed(proxy))
                break;
            proxy.clear();
        }
    }
    return !proxy.empty() || direct;
}

bool WinAutoProxy::IsProxyTaggedFailed(const std::string& proxy) const {
    if (proxy.empty())
        return false;
    const auto found = m_ProxyTags.find(proxy);
    return found != m_ProxyTags.end() && found->second == ProxyFailed;
}

bool WinAutoProxy::IsFatalWinHttpProxyError(uint32_t error) {
    ORN_LOG(WARN, "WinAutoProxy::IsFatalWinHttpProxyError")
        << "WinHttpGetProxyForUrl failed with error:" << error;
    return error == ProxyError::INVALID_URL || error == ProxyError::UNRECOGNIZED_SCHEME ||
           error == ProxyError::BAD_AUTO_PROXY_SCRIPT;
}

void WinAutoProxy::ProxySuccess(const std::string& proxy) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_ProxyTags[proxy] = ProxyWorking;
}

void WinAutoProxy::ProxyFailure(const std::string& proxy) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    ORN_LOG(DEBUG, "WinAutoProxy::ProxyFailure") << "Unable to use proxy " << proxy;
    m_ProxyTags[proxy] = ProxyFailed;
    m_FailedOver = true;
}

void WinAutoProxy::ClearProxyFailures() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    ForgetAnswer();
    for (auto& tag : m_ProxyTags)
        if (tag.second == ProxyFailed)
            tag.second = ProxyUntagged;
}

bool WinAutoProxy::IsEnabled() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Enabled;
}

void WinAutoProxy::SetEnabled(bool enabled) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Enabled = enabled;
}

void WinAutoProxy::Reset() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_ProxyTags.clear();
    m_AutoDetectFailed = false;
    m_PacFileFailed = false;
    m_LookupAttempted = false;
    m_PacFailTime = 0;
    m_hSession.reset();
    ForgetAnswer();
}

void WinAutoProxy::ForgetAnswer() {
    m_FailedOver = false;
    m_AnswerUrl.clear();
    m_Answer.clear();
}

bool WinAutoProxy::LookupAttempted() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_LookupAttempted;
}

bool WinAutoProxy::IsAutoDetectFailed() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_AutoDetectFailed;
}

bool WinAutoProxy::IsPacFileFailed() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_PacFileFailed;
}
