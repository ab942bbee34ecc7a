// What the suites share: scratch folders, environment changes that are undone, captured log
// streams, and child processes on pipes.
#pragma once

#include <OrnUtil/Log.h>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
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
    FILE* Stream() const { return m_File; }

private:
    TLogSubSys m_SubSys;
    FILE* m_File;
    FILE* m_Previous;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);

// Path of a helper program built beside the suites, or of a tool.
std::string HelperPath(const std::string& name);
std::string ToolPath(const std::string& name);

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs a program to its end with the given arguments (argv[0] included) and returns its exit code
// and both output streams; the environment is the test's own.
RunResult Run(const std::vector<std::string>& argv);

// A child process whose standard input and output are pipes, talked to line by line.
class Child {
public:
    explicit Child(const std::vector<std::string>& argv);
    ~Child();
    void Send(const std::string& line);
    // The next line the child wrote, without its newline; empty at end of file.
    std::string Receive();
    // Closes the child's input and returns its exit code.
    int Wait();

private:
    pid_t m_Pid = -1;
    FILE* m_In = nullptr;
    FILE* m_Out = nullptr;
};

} // namespace testing_support
