/// \file
/// HTTP requests over libcurl, through the proxy that the user's settings choose for each URL.
///
///     std::vector<char> body;
///     HTTPcURL http(body);
///     http.HeaderAdd("Accept", "application/json");
///     // throws std::runtime_error on failure
///     http.Perform("http://updates.example/latest", "", "");
///     // body now holds the response
#pragma once

#include <OrnUtil/Export.h>
#include <curl/curl.h>
#include <map>
#include <memory>
#include <string>
#include <vector>

/// One request at a time on one libcurl handle. The vector given at construction is both the
/// request body (SetContent, UrlEncode) and where the response arrives; it must outlive the object.
/// Before every attempt the process-wide proxy resolver picks the proxy; a proxy whose name cannot
/// be resolved is reported failed and the request is tried again with the resolver's next answer.
/// Every object of the process shares one cache of connections, TLS sessions and DNS answers, so a
/// new object per request reuses an open connection; a connection serves only the proxy and proxy
/// credentials it was opened with. Cookies stay with each object.
class ORNUTILS_API HTTPcURL : public std::enable_shared_from_this<HTTPcURL> {
public:
    static const int BufferSize = 16384; ///< a size of the interface; the library itself uses none

    /// Applies the defaults (compressed transfers, redirects followed, cookies kept in memory,
    /// 60 s below 10 bytes/s aborts). Throws std::runtime_error("Unable to initialise HTTP
    /// library") when no handle can be made.
    explicit HTTPcURL(std::vector<char>& buffer);
    virtual ~HTTPcURL();
    /// A copy would release the handle, header list and form twice.
    HTTPcURL(const HTTPcURL&) = delete;
    HTTPcURL& operator=(const HTTPcURL&) = delete;

    /// libcurl's process-wide set-up and tear-down; the library never calls them itself.
    /// GlobalCleanup also releases the shared connection cache once no object uses it.
    ///@{
    static void GlobalInit();
    static void GlobalCleanup();
    ///@}

    /// Adds the header line "name: value", neither part checked.
    void HeaderAdd(const std::string& name, const std::string& value);
    /// Adds "cookie;" ("name=value", or several joined by ";") to the cookies sent to the host of
    /// every later request, not to another host a redirect leads to. Reset keeps them.
    void CookieAdd(const std::string& cookie);
    /// Adds a multipart form part (the request becomes a multipart POST); empty content adds
    /// nothing. A part libcurl refuses is logged and left out.
    void FormAddContent(const std::string& name, const std::string& content,
                        const std::string& contentType);
    /// The same for `length` bytes at `data`, copied at once; length 0 adds nothing.
    void FormAddPtr(const std::string& name, const void* data, int length,
                    const std::string& contentType);
    /// Appends the bytes to the body and adds a "content-type" header; empty content does nothing.
    void SetContent(const std::string& content, const std::string& contentType);
    /// Appends "k1=v1&k2=v2", keys in order, both sides escaped, to the body.
    void UrlEncode(const std::map<std::string, std::string>& params);
    /// Back to the constructed state but for the cookies and the buffer's content.
    void Reset();

    /// Sends the request: a multipart POST with a form, a POST of the buffer when it holds bytes,
    /// else a GET. Returns true on a status below 300; otherwise throws std::runtime_error
    /// ("HTTP operation failed: <libcurl's text> HTTP_CODE:<status>", status 0 when none came).
    /// The response is kept whole and decoded, with no size limit: to bound it, set a write
    /// function of your own on m_Curl in PerformRequest (see the README).
    virtual bool Perform(const std::string& url, const std::string& proxyUser,
                         const std::string& proxyPassword);
    /// The transfer with proxy selection and the retry; returns libcurl's code and never throws for
    /// a failed transfer. A derived class may replace it, and set options on m_Curl first.
    virtual CURLcode PerformRequest(const std::string& url, const std::string& proxyUser,
                                    const std::string& proxyPassword);

protected:
    CURL* m_Curl = nullptr;              ///< the handle; a derived PerformRequest may set options
    curl_slist* m_Headers = nullptr;     ///< the header lines HeaderAdd collected
    curl_httppost* m_FormPost = nullptr; ///< the form's first part
    curl_httppost* m_FormLast = nullptr; ///< the form's last part
    /// True until the first response bytes since construction or Reset, which replace the
    /// buffer's content.
    bool m_FirstWrite = true;
    std::vector<char>& m_Buffer; ///< the caller's vector: request body and response
    std::string m_Cookies;       ///< the cookies CookieAdd collected, sent to each request's host

private:
    void Init();
    static size_t HTTPDataCallback(char* data, size_t size, size_t count, HTTPcURL* self);
    void InsertData(char* data, int length);
    void FreeLists();
};
