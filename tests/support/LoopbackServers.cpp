#include "LoopbackServers.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <strings.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace testing_support {

namespace {

// Listens on 127.0.0.1:port, or on a free port when `port` is 0; `port` is then the one taken.
int LoopbackListener(uint16_t& port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        throw std::runtime_error("socket failed");
    const int reuse = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, 64) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(fd);
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    port = ntohs(address.sin_port);
    return fd;
}

const char* Reason(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 411:
        return "Length Required";
    default:
        return "Status";
    }
}

std::string Serialised(const HttpResponse& response, bool close) {
    std::string text =
        "HTTP/1.1 " + std::to_string(response.status) + " " + Reason(response.status) + "\r\n";
    for (const auto& header : response.headers)
        text += header.first + ": " + header.second + "\r\n";
    text += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
    if (close)
        text += "Connection: close\r\n";
    return text + "\r\n" + response.body;
}

// Parses one request from the front of `in`. Returns the bytes it took, 0 while incomplete, or
// npos for a request that cannot be served (malformed, or a body without Content-Length).
size_t ParseRequest(const std::string& in, HttpRequest& request) {
    const size_t headerEnd = in.find("\r\n\r\n");
    if (headerEnd == std::string::npos)
        return in.size() > 65536 ? std::string::npos : 0;
    size_t lineEnd = in.find("\r\n");
    const std::string requestLine = in.substr(0, lineEnd);
    const size_t space1 = requestLine.find(' ');
    const size_t space2 = requestLine.rfind(' ');
    if (space1 == std::string::npos || space2 == space1)
        return std::string::npos;
    request.method = requestLine.substr(0, space1);
    request.target = requestLine.substr(space1 + 1, space2 - space1 - 1);
    request.version = requestLine.substr(space2 + 1);
    while (lineEnd < headerEnd) {
        const size_t start = lineEnd + 2;
        lineEnd = in.find("\r\n", start);
        const std::string line = in.substr(start, lineEnd - start);
        const size_t colon = line.find(':');
        if (colon == std::string::npos)
            return std::string::npos;
        const size_t valueStart = line.find_first_not_of(' ', colon + 1);
        request.headers.emplace_back(line.substr(0, colon), valueStart == std::string::npos
                                                                ? std::string()
                                                                : line.substr(valueStart));
    }
    if (request.HasHeader("Transfer-Encoding"))
        return std::string::npos;
    const std::string length = request.Header("Content-Length");
    const size_t bodyLength = length.empty() ? 0 : std::strtoul(length.c_str(), nullptr, 10);
    if (in.size() < headerEnd + 4 + bodyLength)
        return 0;
    request.body = in.substr(headerEnd + 4, bodyLength);
    return headerEnd + 4 + bodyLength;
}

} // namespace

std::string HttpRequest::Header(const std::string& name) const {
    for (const auto& header : headers)
        if (strcasecmp(header.first.c_str(), name.c_str()) == 0)
            return header.second;
    return std::string();
}

bool HttpRequest::HasHeader(const std::string& name) const {
    for (const auto& header : headers)
        if (strcasecmp(header.first.c_str(), name.c_str()) == 0)
            return true;
    return false;
}

struct LoopbackHttpServer::Connection {
    int fd = -1;
    std::string peer;
    std::string in, out;
    bool closeWhenSent = false;
    bool closed = false;
};

LoopbackHttpServer::LoopbackHttpServer(Handler handler, uint16_t port)
    : m_Handler(std::move(handler)), m_Port(port) {
    m_Listener = LoopbackListener(m_Port);
    if (pipe2(m_Wake, O_CLOEXEC) != 0) {
        close(m_Listener);
        throw std::runtime_error("pipe2 failed");
    }
    m_Thread = std::thread([this] { Serve(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
    const char stop = 1;
    while (write(m_Wake[1], &stop, 1) < 0 && errno == EINTR) {
    }
    m_Thread.join();
    close(m_Wake[0]);
    close(m_Wake[1]);
    close(m_Listener);
}

std::string LoopbackHttpServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(m_Port) + path;
}

std::vector<HttpRequest> LoopbackHttpServer::Requests() const {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Requests;
}

int LoopbackHttpServer::Connections() const {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Connections;
}

void LoopbackHttpServer::Serve() {
    std::vector<Connection> connections;
    std::vector<pollfd> fds;
    for (;;) {
        fds.assign({{m_Wake[0], POLLIN, 0}, {m_Listener, POLLIN, 0}});
        for (const Connection& connection : connections)
            fds.push_back({connection.fd,
                           static_cast<short>(POLLIN | (connection.out.empty() ? 0 : POLLOUT)), 0});
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[0].revents != 0)
            break;
        if (fds[1].revents & POLLIN) {
            sockaddr_in peer{};
            socklen_t length = sizeof peer;
            const int fd = accept4(m_Listener, reinterpret_cast<sockaddr*>(&peer), &length,
                                   SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd >= 0) {
                char text[INET_ADDRSTRLEN] = "";
                inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
                connections.push_back(Connection{fd, text, {}, {}, false, false});
                std::lock_guard<std::mutex> lock(m_Mutex);
                ++m_Connections;
            }
        }
        for (size_t i = 0; i + 2 < fds.size(); ++i) {
            Connection& connection = connections[i];
            const short events = fds[i + 2].revents;
            if (events & (POLLIN | POLLHUP | POLLERR))
                connection.closed = !Receive(connection);
            if (!connection.closed && !connection.out.empty())
                Send(connection);
            if (connection.closeWhenSent && connection.out.empty())
                connection.closed = true;
        }
        for (auto it = connections.begin(); it != connections.end();) {
            if (it->closed) {
                close(it->fd);
                it = connections.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (const Connection& connection : connections)
        close(connection.fd);
}

// Reads what arrived and answers every complete request; false when the peer has gone.
bool LoopbackHttpServer::Receive(Connection& connection) {
    char buffer[16384];
    const ssize_t got = recv(connection.fd, buffer, sizeof buffer, 0);
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR))
        return false;
    if (got > 0)
        connection.in.append(buffer, static_cast<size_t>(got));
    while (!connection.closeWhenSent) {
        HttpRequest request;
        request.peer = connection.peer;
        const size_t used = ParseRequest(connection.in, request);
        if (used == 0)
            break;
        if (used == std::string::npos) {
            connection.out += Serialised(HttpResponse{400, {}, "bad request\n"}, true);
            connection.closeWhenSent = true;
            break;
        }
        connection.in.erase(0, used);
        const bool close = strcasecmp(request.Header("Connection").c_str(), "close") == 0 ||
                           request.version == "HTTP/1.0";
        HttpResponse response = m_Handler(request);
        {
            std::lock_guard<std::mutex> lock(m_Mutex);
            m_Requests.push_back(std::move(request));
        }
        connection.out += Serialised(response, close);
        connection.closeWhenSent = close;
    }
    return true;
}

void LoopbackHttpServer::Send(Connection& connection) {
    const ssize_t sent =
        send(connection.fd, connection.out.data(), connection.out.size(), MSG_NOSIGNAL);
    if (sent > 0)
        connection.out.erase(0, static_cast<size_t>(sent));
    else if (sent < 0 && errno != EAGAIN && errno != EINTR)
        connection.closed = true;
}

uint16_t FreeLoopbackPort() {
    uint16_t port = 0;
    close(LoopbackListener(port));
    return port;
}

ServerProcess::ServerProcess(const std::vector<std::string>& argv, const std::string& workDir) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe2 failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    if (!workDir.empty())
        posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const int status = posix_spawnp(&m_Pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    m_Out = out[0];
    if (status != 0) {
        m_Pid = -1;
        m_Ended = true;
        return;
    }
    m_Reader = std::thread([this] {
        char buffer[4096];
        for (;;) {
            const ssize_t got = read(m_Out, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            std::lock_guard<std::mutex> lock(m_Mutex);
            if (got <= 0) {
                m_Ended = true;
                m_Changed.notify_all();
                return;
            }
            m_Output.append(buffer, static_cast<size_t>(got));
            m_Changed.notify_all();
        }
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
    return m_Changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return m_Output.find(text) != std::string::npos || m_Ended;
    }) && m_Output.find(text) != std::string::npos;
}

std::string ServerProcess::Output() const {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Output;
}

bool TinyProxy::Installed() {
    return access("/usr/bin/tinyproxy", X_OK) == 0;
}

TinyProxy::TinyProxy(const std::string& dir) {
    // The port is chosen before tinyproxy binds it, so another program may take it in between:
    // a start that fails is tried again on another port.
    for (int attempt = 0; attempt < 3 && !m_Started; ++attempt) {
        m_Port = FreeLoopbackPort();
        const std::string config = dir + "/tinyproxy.conf";
        std::ofstream(config, std::ios::trunc) << "Port " << m_Port << "\n"
                                               << "Listen 127.0.0.1\n"
                                               << "Timeout 30\n"
                                               << "MaxClients 32\n"
                                               << "Allow 127.0.0.1\n"
                                               << "ViaProxyName \"loopback-proxy\"\n"
                                               << "LogLevel Info\n";
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
