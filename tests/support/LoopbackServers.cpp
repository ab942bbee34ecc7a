#include "LoopbackServers.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <strings.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace testing_support {

int LoopbackListener(uint16_t& port, const std::string& address) {
    const bool six = address.find(':') != std::string::npos;
    const int fd = socket(six ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error("socket failed");
    sockaddr_in6 socketAddress{}; // large enough for either, and both keep the port in one place
    auto* four = reinterpret_cast<sockaddr_in*>(&socketAddress);
    socketAddress.sin6_family = six ? AF_INET6 : AF_INET;
    socketAddress.sin6_port = htons(port);
    socklen_t length = six ? sizeof socketAddress : sizeof *four;
    if (inet_pton(socketAddress.sin6_family, address.c_str(),
                  six ? static_cast<void*>(&socketAddress.sin6_addr) : &four->sin_addr) != 1 ||
        bind(fd, reinterpret_cast<sockaddr*>(&socketAddress), length) != 0 || listen(fd, 64) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&socketAddress), &length) != 0) {
        close(fd);
        throw std::runtime_error("cannot listen on " + address);
    }
    port = ntohs(socketAddress.sin6_port);
    return fd;
}

namespace {

std::string Serialised(const HttpResponse& response, bool close) {
    std::string text = "HTTP/1.1 " + std::to_string(response.status) + " Status\r\n";
    for (const auto& header : response.headers)
        text += header.first + ": " + header.second + "\r\n";
    text += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
    return text + (close ? "Connection: close\r\n\r\n" : "\r\n") + response.body;
}

// Parses one request from the front of `in`; returns the bytes it took, or 0 while incomplete.
size_t ParseRequest(const std::string& in, HttpRequest& request) {
    const size_t headerEnd = in.find("\r\n\r\n");
    if (headerEnd == std::string::npos)
        return 0;
    size_t lineEnd = in.find("\r\n");
    std::istringstream(in.substr(0, lineEnd)) >> request.method >> request.target >>
        request.version;
    while (lineEnd < headerEnd) {
        const size_t start = lineEnd + 2;
        lineEnd = in.find("\r\n", start);
        const std::string line = in.substr(start, lineEnd - start);
        const size_t colon = line.find(':');
        const size_t value = std::min(line.find_first_not_of(' ', colon + 1), line.size());
        request.headers.emplace_back(line.substr(0, colon), line.substr(value));
    }
    const size_t bodyStart = headerEnd + 4;
    const size_t end =
        bodyStart + std::strtoul(request.Header("Content-Length").c_str(), nullptr, 10);
    if (in.size() < end)
        return 0;
    request.body = in.substr(bodyStart, end - bodyStart);
    return end;
}

bool SendAll(int fd, const std::string& bytes) {
    for (size_t sent = 0; sent < bytes.size();) {
        const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno != EINTR)
            return false;
        sent += n > 0 ? static_cast<size_t>(n) : 0;
    }
    return true;
}

} // namespace

std::string HttpRequest::Header(const std::string& name) const {
    for (const auto& header : headers)
        if (strcasecmp(header.first.c_str(), name.c_str()) == 0)
            return header.second;
    return std::string();
}

struct LoopbackHttpServer::Connection {
    int fd = -1;
    std::string in;
};

LoopbackHttpServer::LoopbackHttpServer(Handler handler, uint16_t port, std::string ip)
    : m_Handler(std::move(handler)), m_Ip(std::move(ip)), m_Port(port) {
    if (pipe2(m_Wake, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe2 failed");
    m_Listener = LoopbackListener(m_Port, m_Ip);
    m_Thread = std::thread([this] { Serve(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
    close(m_Wake[1]); // wakes the server's thread
    m_Thread.join();
    close(m_Wake[0]);
    close(m_Listener);
}

std::string LoopbackHttpServer::Url(const std::string& path) const {
    const bool six = m_Ip.find(':') != std::string::npos;
    return "http://" + (six ? "[" + m_Ip + "]" : m_Ip) + ":" + std::to_string(m_Port) + path;
}

std::vector<HttpRequest> LoopbackHttpServer::Requests() const {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Requests;
}

// One thread serves every connection: benchmarks open thousands of them. A response is sent
// whole before the next read, as the clients read it while it comes.
void LoopbackHttpServer::Serve() {
    std::vector<Connection> connections;
    for (;;) {
        std::vector<pollfd> fds{{m_Wake[0], POLLIN, 0}, {m_Listener, POLLIN, 0}};
        for (const Connection& connection : connections)
            fds.push_back({connection.fd, POLLIN, 0});
        if ((poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) || fds[0].revents != 0)
            break;
        for (size_t i = connections.size(); i-- > 0;) {
            if (fds[i + 2].revents != 0 && !Receive(connections[i])) {
                close(connections[i].fd);
                connections.erase(connections.begin() + static_cast<ptrdiff_t>(i));
            }
        }
        if (fds[1].revents & POLLIN) {
            const int fd = accept4(m_Listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                connections.push_back(Connection{fd, {}});
                ++m_Connections;
            }
        }
    }
    for (const Connection& connection : connections)
        close(connection.fd);
}

// Reads what arrived and answers every complete request; false when the connection is over.
bool LoopbackHttpServer::Receive(Connection& connection) {
    char buffer[16384];
    const ssize_t got = recv(connection.fd, buffer, sizeof buffer, 0);
    if (got <= 0)
        return got < 0 && errno == EINTR;
    connection.in.append(buffer, static_cast<size_t>(got));
    HttpRequest request;
    while (const size_t used = ParseRequest(connection.in, request)) {
        connection.in.erase(0, used);
        const bool close = request.version == "HTTP/1.0" ||
                           strcasecmp(request.Header("Connection").c_str(), "close") == 0;
        const std::string response = Serialised(m_Handler(request), close);
        {
            std::lock_guard<std::mutex> lock(m_Mutex);
            m_Requests.push_back(std::move(request));
        }
        request = HttpRequest();
        if (!SendAll(connection.fd, response) || close)
            return false;
    }
    return true;
}

uint16_t FreeLoopbackPort() {
    uint16_t port = 0;
    close(LoopbackListener(port));
    return port;
}

ServerProcess::ServerProcess(const std::vector<std::string>& argv) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe2 failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    if (posix_spawnp(&m_Pid, args[0], &actions, nullptr, args.data(), environ) != 0)
        m_Pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    m_Out = out[0];
    m_Reader = std::thread([this] {
        char buffer[4096];
        ssize_t got = 0;
        while ((got = read(m_Out, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
            std::lock_guard<std::mutex> lock(m_Mutex);
            m_Output.append(buffer, static_cast<size_t>(std::max<ssize_t>(got, 0)));
            m_Changed.notify_all();
        }
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Ended = true;
        m_Changed.notify_all();
    });
}

ServerProcess::~ServerProcess() {
    if (m_Pid > 0) {
        kill(m_Pid, SIGTERM);
        int status = 0;
        while (waitpid(m_Pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (m_Reader.joinable())
        m_Reader.join();
    close(m_Out);
}

bool ServerProcess::WaitForOutput(const std::string& text, int timeoutMs) {
    std::unique_lock<std::mutex> lock(m_Mutex);
    m_Changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                       [&] { return m_Output.find(text) != std::string::npos || m_Ended; });
    return m_Output.find(text) != std::string::npos;
}

std::string ServerProcess::Output() const {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Output;
}

bool TinyProxy::Installed() {
    return access("/usr/bin/tinyproxy", X_OK) == 0;
}

TinyProxy::TinyProxy(const std::string& dir, const std::string& basicAuth) {
    // The port is chosen before tinyproxy binds it, so another program may take it in between:
    // a start that fails is tried again on another port.
    const std::string config = dir + "/tinyproxy.conf";
    for (int attempt = 0; attempt < 3 && !m_Started; ++attempt) {
        m_Port = FreeLoopbackPort();
        std::ofstream(config, std::ios::trunc)
            << "Port " << m_Port << "\nListen 127.0.0.1\nTimeout 30\nMaxClients 32\n"
            << "Allow 127.0.0.1\nViaProxyName \"loopback-proxy\"\nLogLevel Info\n"
            << (basicAuth.empty() ? "" : "BasicAuth " + basicAuth + "\n");
        m_Process.reset();
        m_Process = std::make_unique<ServerProcess>(
            std::vector<std::string>{"/usr/bin/tinyproxy", "-d", "-c", config});
        m_Started = m_Process->WaitForOutput("Accepting connections");
    }
}

std::string TinyProxy::Url() const {
    return "http://127.0.0.1:" + std::to_string(m_Port);
}

} // namespace testing_support
