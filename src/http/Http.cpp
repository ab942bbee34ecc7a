#include "internal/Text.h"
#include "log/LogStatement.h"
#include "proxy/WinAutoProxy.h"

#include <OrnUtil/Http.h>
#include <algorithm>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace {

// One cache of connections, TLS sessions and DNS answers for every handle of the process, so
// that a new object per request finds its connection open. libcurl keys a connection on the
// proxy and its credentials, so none serves other settings. Cookies stay with each handle.
struct SharedCache {
    std::mutex mutex;
    CURLSH* share = nullptr;
    // Handles of released objects, reset and without cookies: a handle made anew costs libcurl a
    // transfer engine and its wake-up socket pair, about as much as a request on an open
    // connection.
    std::vector<CURL*> idle;
    std::mutex locks[CURL_LOCK_DATA_LAST];
};

// A burst of objects on many threads does not keep all its handles for good.
const size_t MAX_IDLE_HANDLES = 8;

// Never destroyed: a handle released during the process's exit may still take its locks.
SharedCache& Cache() {
    static SharedCache* const cache = new SharedCache;
    return *cache;
}

void LockCache(CURL*, curl_lock_data data, curl_lock_access, void*) {
    Cache().locks[data].lock();
}

void UnlockCache(CURL*, curl_lock_data data, void*) {
    Cache().locks[data].unlock();
}

CURLSH* NewShare() {
    CURLSH* share = curl_share_init();
    if (share == nullptr)
        return nullptr;
    curl_share_setopt(share, CURLSHOPT_LOCKFUNC, &LockCache);
    curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, &UnlockCache);
    for (const curl_lock_data data :
         {CURL_LOCK_DATA_DNS, CURL_LOCK_DATA_SSL_SESSION, CURL_LOCK_DATA_CONNECT})
        curl_share_setopt(share, CURLSHOPT_SHARE, data);
    return share;
}

// An idle handle or a new one, on the shared cache (without a share, for want of memory, the
// handle keeps a cache of its own); null when none can be made.
CURL* TakeHandle() {
    SharedCache& cache = Cache();
    std::lock_guard<std::mutex> hold(cache.mutex);
    CURL* curl = nullptr;
    if (!cache.idle.empty()) {
        curl = cache.idle.back();
        cache.idle.pop_back();
    } else {
        curl = curl_easy_init();
    }
    if (cache.share == nullptr)
        cache.share = NewShare();
    if (curl != nullptr)
        curl_easy_setopt(curl, CURLOPT_SHARE, cache.share);
    return curl;
}

void GiveBack(CURL* curl) {
    // The jar is written now, as the handle's release would write it (a derived class may have set
    // one of its own), and the next object starts without cookies.
    curl_easy_setopt(curl, CURLOPT_COOKIELIST, "FLUSH");
    curl_easy_setopt(curl, CURLOPT_COOKIELIST, "ALL");
    curl_easy_reset(curl);
    SharedCache& cache = Cache();
    {
        std::lock_guard<std::mutex> hold(cache.mutex);
        if (cache.idle.size() < MAX_IDLE_HANDLES) {
            cache.idle.push_back(curl);
            return;
        }
    }
    curl_easy_cleanup(curl);
}

// A share that handles still use stays; the next GlobalCleanup may release it.
void ReleaseCache() {
    SharedCache& cache = Cache();
    std::lock_guard<std::mutex> hold(cache.mutex);
    for (CURL* curl : cache.idle)
        curl_easy_cleanup(curl);
    cache.idle.clear();
    if (cache.share != nullptr && curl_share_cleanup(cache.share) == CURLSHE_OK)
        cache.share = nullptr;
}

// The host part of the URL as libcurl matches cookies against it, "" when it has none.
std::string HostOf(const std::string& url) {
    std::string host;
    CURLU* parts = curl_url();
    char* text = nullptr;
    if (parts != nullptr &&
        curl_url_set(parts, CURLUPART_URL, url.c_str(), CURLU_GUESS_SCHEME) == CURLUE_OK &&
        curl_url_get(parts, CURLUPART_HOST, &text, 0) == CURLUE_OK) {
        host = text;
        if (host.size() > 1 && host.front() == '[')
            host = host.substr(1, host.size() - 2);
    }
    curl_free(text);
    curl_url_cleanup(parts);
    return host;
}

// The caller's "name=value;" cookies, bound to the host alone (no subdomain, every path), so that
// a redirect to another host does not carry them.
void GiveCookiesTo(CURL* curl, const std::string& cookies, const std::string& host) {
    for (const std::string& entry : OrnUtil::internal::SplitList(cookies)) {
        const std::string_view cookie = OrnUtil::internal::Trimmed(entry);
        if (cookie.empty())
            continue;
        const size_t equals = std::min(cookie.find('='), cookie.size());
        const std::string line = host + "\tFALSE\t/\tFALSE\t0\t" +
                                 std::string(cookie.substr(0, equals)) + "\t" +
                                 std::string(cookie.substr(std::min(equals + 1, cookie.size())));
        curl_easy_setopt(curl, CURLOPT_COOKIELIST, line.c_str());
    }
}

} // namespace

// Forms are built with curl_formadd and its companions, which libcurl has deprecated in favour of
// its mime interface; the warnings are silenced for the form code alone.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace {

void FreeForm(curl_httppost* form) {
    curl_formfree(form);
}

void PostForm(CURL* curl, curl_httppost* form) {
    curl_easy_setopt(curl, CURLOPT_HTTPPOST, form);
}

CURLFORMcode AddPart(curl_httppost*& first, curl_httppost*& last, const std::string& name,
                     const char* data, long length, const std::string& contentType) {
    return curl_formadd(&first, &last, CURLFORM_COPYNAME, name.c_str(), CURLFORM_COPYCONTENTS, data,
                        CURLFORM_CONTENTSLENGTH, length, CURLFORM_CONTENTTYPE, contentType.c_str(),
                        CURLFORM_END);
}

} // namespace

void HTTPcURL::FormAddContent(const std::string& name, const std::string& content,
                              const std::string& contentType) {
    if (content.empty())
        return;
    const CURLFORMcode result = AddPart(m_FormPost, m_FormLast, name, content.data(),
                                        static_cast<long>(content.size()), contentType);
    if (result != CURL_FORMADD_OK) {
        ORN_LOG(WARN, "HTTPcURL::FormAddContent") << "Result: " << static_cast<int>(result);
    }
}

void HTTPcURL::FormAddPtr(const std::string& name, const void* data, int length,
                          const std::string& contentType) {
    if (length == 0)
        return;
    const CURLFORMcode result =
        AddPart(m_FormPost, m_FormLast, name, static_cast<const char*>(data), length, contentType);
    if (result != CURL_FORMADD_OK) {
        ORN_LOG(WARN, "HTTPcURL::FormAddPtr") << "Result: " << static_cast<int>(result);
    }
}

#pragma GCC diagnostic pop

HTTPcURL::HTTPcURL(std::vector<char>& buffer) : m_Buffer(buffer) {
    curl_global_init(CURL_GLOBAL_ALL);
    m_Curl = TakeHandle();
    if (m_Curl == nullptr)
        throw std::runtime_error("Unable to initialise HTTP library");
    Init();
}

HTTPcURL::~HTTPcURL() {
    FreeLists();
    GiveBack(m_Curl);
}

void HTTPcURL::GlobalInit() {
    curl_global_init(CURL_GLOBAL_ALL);
}

void HTTPcURL::GlobalCleanup() {
    ReleaseCache();
    curl_global_cleanup();
}

void HTTPcURL::Init() {
    curl_easy_setopt(m_Curl, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(m_Curl, CURLOPT_TRANSFER_ENCODING, 1L);
    curl_easy_setopt(m_Curl, CURLOPT_HTTP_TRANSFER_DECODING, 1L);
    curl_easy_setopt(m_Curl, CURLOPT_HTTP_CONTENT_DECODING, 1L);
    curl_easy_setopt(m_Curl, CURLOPT_WRITEFUNCTION, &HTTPcURL::HTTPDataCallback);
    curl_easy_setopt(m_Curl, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(m_Curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(m_Curl, CURLOPT_MAXREDIRS, 10L);
    // Cookies received live as long as the object. A comment line switches the cookie engine on
    // and adds nothing: a cookie file would do too, but curl_easy_reset loses the list of files
    // without freeing it, and a jar is written out (a file opened and closed) at every release.
    curl_easy_setopt(m_Curl, CURLOPT_COOKIELIST, "# cookies of this object");
    curl_easy_setopt(m_Curl, CURLOPT_POSTREDIR,
                     static_cast<long>(CURL_REDIR_POST_301 | CURL_REDIR_POST_302));
    curl_easy_setopt(m_Curl, CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_NO_REVOKE));
    curl_easy_setopt(m_Curl, CURLOPT_LOW_SPEED_TIME, 60L);
    curl_easy_setopt(m_Curl, CURLOPT_LOW_SPEED_LIMIT, 10L);
    // Otherwise libcurl sets SIGPIPE to be ignored for the whole process during every transfer
    // and back after it (four or five system calls a request), under the feet of the
    // application's other threads. Its sends here never raise SIGPIPE (MSG_NOSIGNAL), and its
    // host lookups run on a thread of their own, needing no alarm.
    curl_easy_setopt(m_Curl, CURLOPT_NOSIGNAL, 1L);
    // An empty value makes libcurl leave the header out: bodies go without "100-continue".
    HeaderAdd("Expect", "");
}

void HTTPcURL::FreeLists() {
    curl_slist_free_all(m_Headers);
    FreeForm(m_FormPost);
    m_Headers = nullptr;
    m_FormPost = nullptr;
    m_FormLast = nullptr;
}

void HTTPcURL::HeaderAdd(const std::string& name, const std::string& value) {
    const std::string line = name + ": " + value;
    if (curl_slist* appended = curl_slist_append(m_Headers, line.c_str()))
        m_Headers = appended;
}

void HTTPcURL::CookieAdd(const std::string& cookie) {
    m_Cookies += cookie;
    m_Cookies += ';';
}

void HTTPcURL::Reset() {
    FreeLists();
    curl_easy_reset(m_Curl);
    m_FirstWrite = true;
    Init();
}

bool HTTPcURL::Perform(const std::string& url, const std::string& proxyUser,
                       const std::string& proxyPassword) {
    ORN_LOG(DEBUG, "HTTPcURL::Perform") << url;
    curl_easy_setopt(m_Curl, CURLOPT_URL, url.c_str());
    if (m_Headers != nullptr)
        curl_easy_setopt(m_Curl, CURLOPT_HTTPHEADER, m_Headers);
    if (m_FormPost != nullptr) {
        PostForm(m_Curl, m_FormPost);
    } else if (!m_Buffer.empty()) {
        curl_easy_setopt(m_Curl, CURLOPT_POSTFIELDS, m_Buffer.data());
        curl_easy_setopt(m_Curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(m_Buffer.size()));
    } // else the handle keeps its method: GET after construction or Reset
    if (!m_Cookies.empty())
        GiveCookiesTo(m_Curl, m_Cookies, HostOf(url));

    const CURLcode result = PerformRequest(url, proxyUser, proxyPassword);
    long status = 0;
    curl_easy_getinfo(m_Curl, CURLINFO_RESPONSE_CODE, &status);
    if (result == CURLE_OK && status < 300) {
        ORN_LOG(DEBUG2, "HTTPcURL::Perform")
            << (m_Buffer.empty()
                    ? std::string()
                    : std::string(m_Buffer.data(), strnlen(m_Buffer.data(), m_Buffer.size())));
        return true;
    }
    throw std::runtime_error(std::string("HTTP operation failed: ") + curl_easy_strerror(result) +
                             " HTTP_CODE:" + std::to_string(status));
}

CURLcode HTTPcURL::PerformRequest(const std::string& url, const std::string& proxyUser,
                                  const std::string& proxyPassword) {
    ORN_LOG(DEBUG, "HTTPcURL::PerformRequest");
    AutoProxy* resolver = AutoProxy::Instance();
    CURLcode result = CURLE_OK;
    const std::string credentials = proxyUser + ":" + proxyPassword;
    for (;;) {
        std::string proxy;
        if (resolver->IsEnabled() && !resolver->GetProxyForUrl(url, proxy)) {
            proxy.clear();
            if (!resolver->LookupAttempted()) {
                result = CURLE_COULDNT_CONNECT;
                break;
            }
        }
        // An empty text means no proxy at all, not even one from the environment.
        curl_easy_setopt(m_Curl, CURLOPT_PROXY, proxy.c_str());
        curl_easy_setopt(m_Curl, CURLOPT_PROXYAUTH,
                         static_cast<long>(CURLAUTH_BASIC | CURLAUTH_NEGOTIATE | CURLAUTH_NTLM));
        curl_easy_setopt(m_Curl, CURLOPT_PROXYUSERPWD, credentials.c_str());
        result = curl_easy_perform(m_Curl);
        if (proxy.empty() || result != CURLE_COULDNT_RESOLVE_PROXY)
            break;
        resolver->ProxyFailure(proxy);
        ORN_LOG(WARN, "HTTPcURL::PerformRequest")
            << "HTTP request failed while using proxy {" << proxy << "}";
    }
    resolver->ClearProxyFailures();
    return result;
}

size_t HTTPcURL::HTTPDataCallback(char* data, size_t size, size_t count, HTTPcURL* self) {
    if (self != nullptr)
        self->InsertData(data, static_cast<int>(size * count));
    return size * count;
}

void HTTPcURL::InsertData(char* data, int length) {
    ORN_LOG(DEBUG, "HTTPcURL::InsertData") << "Size: " << length;
    if (m_FirstWrite) {
        m_FirstWrite = false;
        m_Buffer.clear();
    }
    m_Buffer.insert(m_Buffer.end(), data, data + length);
}

void HTTPcURL::SetContent(const std::string& content, const std::string& contentType) {
    if (content.empty())
        return;
    m_Buffer.insert(m_Buffer.end(), content.begin(), content.end());
    HeaderAdd("content-type", contentType);
}

void HTTPcURL::UrlEncode(const std::map<std::string, std::string>& params) {
    if (m_Curl == nullptr) {
        ORN_LOG(WARN, "HTTPcURL::UrlEncode") << "cURL not initialised";
        return;
    }
    bool first = true;
    for (const auto& param : params) {
        char* key =
            curl_easy_escape(m_Curl, param.first.data(), static_cast<int>(param.first.size()));
        char* value =
            curl_easy_escape(m_Curl, param.second.data(), static_cast<int>(param.second.size()));
        // Out of memory: the pair is left out rather than half written.
        if (key != nullptr && value != nullptr) {
            if (!first)
                m_Buffer.push_back('&');
            first = false;
            m_Buffer.insert(m_Buffer.end(), key, key + std::strlen(key));
            m_Buffer.push_back('=');
            m_Buffer.insert(m_Buffer.end(), value, value + std::strlen(value));
        }
        curl_free(key);
        curl_free(value);
    }
}
