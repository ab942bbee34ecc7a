// What the suites share: scratch folders, environment changes that are undone, captured log
// streams, programs run to their end, a loopback listener and receives run in a thread.
#pragma once

#include <OrnUtil/Comm.h>
#include <OrnUtil/Log.h>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace testing_support {

// A fresh folder under /tmp, removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& Path() const { return m_Path; }
    std::string operator/(const std::string& name) const { return m_Path + "/" + name; }

private:
    std::string m_Path;
};

// Sets (or, with nullopt, unsets) an environment variable and restores it at the end of scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<std::string> value);
    ~ScopedEnv();

private:
    std::string m_Name;
    std::optional<std::string> m_Saved;
};

// Unsets every proxy variable of the environment (both cases) for its lifetime, so that a test
// sees only the settings it makes.
class ClearedProxyEnvironment {
public:
    ClearedProxyEnvironment();

private:
    std::vector<std::unique_ptr<ScopedEnv>> m_Saved;
};

// Makes a temporary file the stream of a subsystem; Text() is everything written so far.
class CapturedLog {
public:
    explicit CapturedLog(TLogSubSys subsys = APP);
    ~CapturedLog();
    std::string Text() const;
    std::vector<std::string> Lines() const;

private:
    TLogSubSys m_SubSys;
    FILE* m_File;
    FILE* m_Previous;
};

std::string ReadFile(const std::string& path);
// Everything a descriptor gives until its end.
std::string ReadToEnd(int fd);
void WriteFile(const std::string& path, const std::string& content);
// Writes all of `bytes` to a descriptor, going on after partial writes; a failed write throws.
void WriteAll(int fd, const std::string& bytes);

// Path of a helper program built beside the suites.
std::string HelperPath(const std::string& name);

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs a program to its end with the given arguments (argv[0] included) and returns its exit code
// and both output streams; the environment is the test's own.
RunResult Run(const std::vector<std::string>& argv);
// Runs one of the project's tools with `args`, as Run does.
RunResult RunTool(const std::string& name, std::vector<std::string> args);

// A TCP listener on 127.0.0.1 at a port the system chose, closed at the end of scope: the one
// way the suites make a loopback server.
class LoopbackServer {
public:
    LoopbackServer();
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;
    uint16_t Port() const { return m_Port; }
    // The next connection, waited for; the caller closes it.
    int Accept();

private:
    int m_Fd = -1;
    uint16_t m_Port = 0;
};

// A receive on a channel, run in a thread of its own.
class BackgroundRecv {
public:
    BackgroundRecv(OrnUtil::CComm& channel, unsigned int n, char* data);
    ~BackgroundRecv();
    // Waits until the receive sleeps in its wait for input.
    void WaitUntilBlocked();
    // The receive's result, once it has ended.
    bool Wait();

private:
    std::atomic<pid_t> m_Tid{0};
    bool m_Result = true;
    std::thread m_Thread;
};

// How many descriptors the process has open.
size_t OpenDescriptors();

// Waits until the thread (a kernel thread id, as gettid gives it) sleeps in one of the given
// system calls (SYS_write, ...), for tests that must act while another thread is blocked.
void WaitUntilBlockedIn(pid_t thread, std::initializer_list<long> calls);

} // namespace testing_support
