#include "proxy/linux/PacDownload.h"

#include <curl/curl.h>
#include <memory>

namespace OrnUtil::proxy {

namespace {

struct Body {
    std::string text;
    bool tooLarge = false;
};

size_t Collect(char* data, size_t size, size_t count, void* target) {
    auto& body = *static_cast<Body*>(target);
    const size_t bytes = size * count;
    if (body.text.size() + bytes > FetchLimits::MAX_BYTES) {
        body.tooLarge = true;
        return 0; // ends the transfer
    }
    body.text.append(data, bytes);
    return bytes;
}

ScriptFetch::Outcome FromCurl(CURLcode code, long status, const Body& body) {
    if (body.tooLarge || code == CURLE_FILESIZE_EXCEEDED)
        return ScriptFetch::REFUSED;
    if (code == CURLE_OPERATION_TIMEDOUT)
        return ScriptFetch::TIMED_OUT;
    if (code == CURLE_UNSUPPORTED_PROTOCOL || code == CURLE_TOO_MANY_REDIRECTS)
        return ScriptFetch::REFUSED;
    if (status == 401 || status == 407)
        return ScriptFetch::LOGIN_NEEDED;
    if (code != CURLE_OK || (status != 0 && status != 200))
        return ScriptFetch::NOT_FOUND;
    return ScriptFetch::FETCHED;
}

} // namespace

ScriptFetch FetchScript(const std::string& url, const FetchLimits& limits) {
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), &curl_easy_cleanup);
    ScriptFetch fetch;
    if (!curl || url.find('\0') != std::string::npos)
        return fetch;
    Body body;
    CURL* handle = curl.get();
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    // Discovery must not depend on the proxy it is looking for, nor on the environment's.
    curl_easy_setopt(handle, CURLOPT_PROXY, "");
    curl_easy_setopt(handle, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https,file");
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, 3L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connectMs));
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.totalMs));
    curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE,
                     static_cast<curl_off_t>(FetchLimits::MAX_BYTES));
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &body);
    const CURLcode code = curl_easy_perform(handle);
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    fetch.outcome = FromCurl(code, status, body);
    if (fetch.outcome == ScriptFetch::FETCHED)
        fetch.script = std::move(body.text);
    return fetch;
}

} // namespace OrnUtil::proxy
