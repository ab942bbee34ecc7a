// Real servers on 127.0.0.1 for the HTTP tests, the benchmarks and the tour: a small HTTP/1.1
// origin server with keep-alive, and server programs (a forward proxy, a TLS server) started as
// child processes. Nothing here depends on the test framework.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

struct HttpRequest {
    std::string method, target, version;
    HttpHeaders headers;
    std::string body;
    // The first header of that name (case-insensitive), or "" when there is none.
    std::string Header(const std::string& name) const;
};

struct HttpResponse {
    int status = 200;
    HttpHeaders headers;
    std::string body;
};

// Serves HTTP/1.1 on a loopback address (127.0.0.1 unless told) from one thread of its own,
// keeping connections open between requests. Requests with a body must carry Content-Length. The
// handler runs on the server's thread.
class LoopbackHttpServer {
public:
    using Handler = std::function<HttpResponse(const HttpRequest&)>;
    // On a free port, or on `port`.
    explicit LoopbackHttpServer(Handler handler, uint16_t port = 0, std::string ip = "127.0.0.1");
    ~LoopbackHttpServer();
    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    uint16_t Port() const { return m_Port; }
    std::string Url(const std::string& path = "/") const;
    // Every request served so far, in order.
    std::vector<HttpRequest> Requests() const;
    // The connections accepted so far.
    int Connections() const { return m_Connections; }

private:
    struct Connection;
    void Serve();
    bool Receive(Connection& connection);

    Handler m_Handler;
    std::string m_Ip;
    int m_Listener = -1;
    int m_Wake[2] = {-1, -1};
    uint16_t m_Port = 0;
    mutable std::mutex m_Mutex;
    std::vector<HttpRequest> m_Requests;
    std::atomic<int> m_Connections{0};
    std::thread m_Thread;
};

// A socket listening on address:port (IPv4 or IPv6), or on a free port when `port` is 0; `port` is
// then the one taken. Throws std::runtime_error when it cannot listen.
int LoopbackListener(uint16_t& port, const std::string& address = "127.0.0.1");

// A port on 127.0.0.1 that was free a moment ago, for programs that must be told their port.
uint16_t FreeLoopbackPort();

// A program run in the background with its output collected; ended with SIGTERM when the object
// goes.
class ServerProcess {
public:
    explicit ServerProcess(const std::vector<std::string>& argv);
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // Waits until the output holds `text`; false if the program ended first or the wait exceeded
    // timeoutMs.
    bool WaitForOutput(const std::string& text, int timeoutMs = 20000);
    std::string Output() const;

private:
    pid_t m_Pid = -1;
    int m_Out = -1;
    mutable std::mutex m_Mutex;
    std::condition_variable m_Changed;
    std::string m_Output;
    bool m_Ended = false;
    std::thread m_Reader;
};

// tinyproxy, a real forward proxy, on a free loopback port with a configuration in `dir`; it adds
// "Via: 1.1 loopback-proxy ..." to what it forwards and, given `basicAuth` ("user password"),
// serves only clients that send those credentials.
class TinyProxy {
public:
    static bool Installed();
    explicit TinyProxy(const std::string& dir, const std::string& basicAuth = "");
    bool Started() const { return m_Started; }
    std::string Url() const;
    std::string Log() const { return m_Process ? m_Process->Output() : std::string(); }

private:
    uint16_t m_Port = 0;
    bool m_Started = false;
    std::unique_ptr<ServerProcess> m_Process;
};

} // namespace testing_support
