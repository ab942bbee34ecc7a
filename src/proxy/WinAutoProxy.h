// The process-wide proxy resolver that the HTTP client asks before every attempt: discovery, then
// the configured auto-configuration script, then the user's manual settings, with failures
// remembered.
//
//   std::string proxy;
//   if (AutoProxy::Instance()->GetProxyForUrl("http://host/x", proxy))
//       ... proxy is "host:port", or "" for a direct connection
//
// Internal: not exported. The system is reached only through proxy::ProxyPlatform.
#pragma once

#include "proxy/ManualProxyConfig.h"
#include "proxy/ProxyPlatform.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

class AutoProxy {
public:
    virtual ~AutoProxy() = default;
    // true: `proxy` is the proxy to use, "" for direct. false: no decision; `proxy` is not to be
    // used.
    virtual bool GetProxyForUrl(const std::string& url, std::string& proxy) = 0;
    virtual void ProxySuccess(const std::string& proxy) = 0;
    // Passes the proxy over in later lookups until ClearProxyFailures.
    virtual void ProxyFailure(const std::string& proxy) = 0;
    virtual void ClearProxyFailures() = 0;
    virtual bool IsEnabled() = 0;
    virtual void SetEnabled(bool enabled) = 0;
    // Forgets every failure and closes the discovery session.
    virtual void Reset() = 0;
    virtual bool LookupAttempted() = 0;
    virtual bool IsAutoDetectFailed() = 0;
    virtual bool IsPacFileFailed() = 0;

    // The shared resolver, created on first use and destroyed when the library is unloaded.
    static AutoProxy* Instance();
};

class WinAutoProxy : public AutoProxy {
public:
    enum ProxyTag { ProxyUntagged = 0, ProxyFailed = 1, ProxyWorking = 2 };

    // On the system's settings.
    WinAutoProxy();
    explicit WinAutoProxy(std::unique_ptr<OrnUtil::proxy::ProxyPlatform> platform);
    ~WinAutoProxy() override;
    WinAutoProxy(const WinAutoProxy&) = delete;
    WinAutoProxy& operator=(const WinAutoProxy&) = delete;

    bool GetProxyForUrl(const std::string& url, std::string& proxy) override;
    void ProxySuccess(const std::string& proxy) override;
    void ProxyFailure(const std::string& proxy) override;
    void ClearProxyFailures() override;
    bool IsEnabled() override;
    void SetEnabled(bool enabled) override;
    void Reset() override;
    bool LookupAttempted() override;
    bool IsAutoDetectFailed() override;
    bool IsPacFileFailed() override;

    static constexpr uint32_t PAC_HOLD_OFF_MS = 2000;
    // A request fails over at most this many entries of an answer: a script that answers thousands
    // of unusable proxies would otherwise hold one request for minutes.
    static constexpr int MAX_ANSWER_ENTRIES = 32;

private:
    // Discovery, then the configured script: the proxy list of the first that answers, or "".
    std::string RunAutomaticSteps(const std::string& url,
                                  const OrnUtil::proxy::ProxySettings& settings);
    std::string GetProxyByWpadAutoDiscovery(const std::string& url);
    std::string GetProxyFromPacFile(const std::string& url, const std::string& pacUrl);
    bool SelectProxy(const std::string& discovered, std::string& proxy);
    bool IsProxyTaggedFailed(const std::string& proxy) const;
    bool IsFatalWinHttpProxyError(uint32_t error);
    void ForgetAnswer();
    // Says on the first lookup only which way the proxy was decided.
    void TraceFirstLookup(bool ok, const char* okText, const std::string& proxy,
                          const char* failText);

    std::unique_ptr<OrnUtil::proxy::ProxyPlatform> m_Platform;
    std::unique_ptr<OrnUtil::proxy::ProxySession> m_hSession;
    bool m_FirstLookup = true;
    bool m_AutoDetectFailed = false;
    bool m_PacFileFailed = false;
    bool m_Enabled = true;
    bool m_LookupAttempted = false;
    std::mutex m_Mutex;
    uint32_t m_PacFailTime = 0;
    std::map<std::string, int> m_ProxyTags;
    ManualProxyConfig m_Manual;
    // The last automatic answer and its URL. The lookups that follow a proxy failure reuse it, its
    // failed entries skipped, until ClearProxyFailures ends the request: a request runs the
    // automatic steps once, however many of its proxies fail.
    std::string m_AnswerUrl, m_Answer;
    bool m_FailedOver = false;
};
