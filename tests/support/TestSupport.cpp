#include "TestSupport.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace testing_support {

namespace {

// Starts argv with its standard streams on the given descriptors.
pid_t Spawn(const std::vector<std::string>& argv, int in, int out, int err) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in, 0);
    posix_spawn_file_actions_adddup2(&actions, out, 1);
    posix_spawn_file_actions_adddup2(&actions, err, 2);
    std::vector<char*> args;
    for (const auto& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    const int status = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (status != 0)
        throw std::runtime_error("cannot start " + argv[0]);
    return pid;
}

int ExitCode(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Reads both pipes to their end without letting either fill up and stall the child.
void Drain(int outFd, int errFd, std::string& out, std::string& err) {
    pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    std::string* sinks[2] = {&out, &err};
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        if (poll(fds, 2, -1) < 0)
            continue; // interrupted
        for (int i = 0; i < 2; ++i) {
            char buffer[4096];
            const ssize_t got = fds[i].revents != 0 ? read(fds[i].fd, buffer, sizeof buffer) : -1;
            if (got > 0)
                sinks[i]->append(buffer, static_cast<size_t>(got));
            else if (got == 0 || (fds[i].revents != 0 && errno != EINTR))
                fds[i].fd = -1;
        }
    }
}

sockaddr_in LoopbackAddress(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

} // namespace

TempDir::TempDir() {
    char pattern[] = "/tmp/ornutils-test-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    m_Path = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_Path, ignored);
}

ScopedEnv::ScopedEnv(const char* name, std::optional<std::string> value) : m_Name(name) {
    if (const char* saved = std::getenv(name))
        m_Saved = saved;
    if (value)
        setenv(name, value->c_str(), 1);
    else
        unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
    if (m_Saved)
        setenv(m_Name.c_str(), m_Saved->c_str(), 1);
    else
        unsetenv(m_Name.c_str());
}

ClearedProxyEnvironment::ClearedProxyEnvironment() {
    for (const char* name :
         {"auto_proxy", "AUTO_PROXY", "all_proxy", "ALL_PROXY", "http_proxy", "HTTP_PROXY",
          "https_proxy", "HTTPS_PROXY", "ftp_proxy", "FTP_PROXY", "no_proxy", "NO_PROXY"})
        m_Saved.push_back(std::make_unique<ScopedEnv>(name, std::nullopt));
}

CapturedLog::CapturedLog(TLogSubSys subsys)
    : m_SubSys(subsys), m_File(std::tmpfile()), m_Previous(OrnUtil::CLog::SetPipe(subsys, m_File)) {
}

CapturedLog::~CapturedLog() {
    OrnUtil::CLog::SetPipe(m_SubSys, m_Previous);
    std::fclose(m_File);
}

// The file has no name left; it is read afresh through the process's own descriptor table.
std::string CapturedLog::Text() const {
    std::fflush(m_File);
    return ReadFile("/proc/self/fd/" + std::to_string(fileno(m_File)));
}

std::vector<std::string> CapturedLog::Lines() const {
    std::vector<std::string> lines;
    std::istringstream text(Text());
    for (std::string line; std::getline(text, line);)
        lines.push_back(line);
    return lines;
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::string ReadToEnd(int fd) {
    std::string text;
    char buffer[4096];
    for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<size_t>(got));
    return text;
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

void WriteAll(int fd, const std::string& bytes) {
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t written = write(fd, bytes.data() + done, bytes.size() - done);
        if (written <= 0)
            throw std::runtime_error("cannot write to descriptor " + std::to_string(fd));
        done += static_cast<size_t>(written);
    }
}

std::string HelperPath(const std::string& name) {
    return std::string(HELPER_DIR) + "/" + name;
}

RunResult RunTool(const std::string& name, std::vector<std::string> args) {
    args.insert(args.begin(), std::string(TOOL_DIR) + "/" + name);
    return Run(args);
}

RunResult Run(const std::vector<std::string>& argv) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe2 failed");
    const int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t pid = Spawn(argv, devNull, out[1], err[1]);
    for (int fd : {devNull, out[1], err[1]})
        close(fd);
    RunResult result;
    Drain(out[0], err[0], result.out, result.err);
    close(out[0]);
    close(err[0]);
    result.exitCode = ExitCode(pid);
    return result;
}

LoopbackServer::LoopbackServer() {
    m_Fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = LoopbackAddress(0);
    socklen_t length = sizeof address;
    if (m_Fd < 0 || bind(m_Fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(m_Fd, 16) != 0 ||
        getsockname(m_Fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("cannot listen on 127.0.0.1");
    m_Port = ntohs(address.sin_port);
}

LoopbackServer::~LoopbackServer() {
    close(m_Fd);
}

int LoopbackServer::Accept() {
    int fd;
    while ((fd = accept4(m_Fd, nullptr, nullptr, SOCK_CLOEXEC)) < 0 && errno == EINTR) {
    }
    if (fd < 0)
        throw std::runtime_error("accept failed");
    return fd;
}

size_t OpenDescriptors() {
    const std::filesystem::directory_iterator entries("/proc/self/fd");
    return static_cast<size_t>(std::distance(begin(entries), end(entries)));
}

// The kernel shows the number of the call a thread is in only while the thread sleeps; a running
// thread reads "running".
void WaitUntilBlockedIn(pid_t thread, std::initializer_list<long> calls) {
    const std::string path = "/proc/self/task/" + std::to_string(thread) + "/syscall";
    for (;;) {
        const std::string current = ReadFile(path);
        if (!current.empty() && current[0] >= '0' && current[0] <= '9' &&
            std::count(calls.begin(), calls.end(), std::strtol(current.c_str(), nullptr, 10)))
            return;
        sched_yield();
    }
}

BackgroundRecv::BackgroundRecv(OrnUtil::CComm& channel, unsigned int n, char* data)
    : m_Thread([this, &channel, n, data] {
          m_Tid = gettid();
          m_Result = channel.Recv(n, data);
      }) {}

BackgroundRecv::~BackgroundRecv() {
    if (m_Thread.joinable())
        m_Thread.join();
}

void BackgroundRecv::WaitUntilBlocked() {
    while (m_Tid.load() == 0)
        std::this_thread::yield();
#ifdef SYS_poll
    WaitUntilBlockedIn(m_Tid.load(), {SYS_poll, SYS_ppoll});
#else
    WaitUntilBlockedIn(m_Tid.load(), {SYS_ppoll});
#endif
}

bool BackgroundRecv::Wait() {
    m_Thread.join();
    return m_Result;
}

} // namespace testing_support
