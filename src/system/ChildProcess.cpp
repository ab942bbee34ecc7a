#include "platform/ChildProcess.h"

#include "platform/Descriptors.h"
#include "system/CommandLine.h"

#include <OrnUtil/System.h>
#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace OrnUtil {

namespace {

// What the opaque process handle points at.
struct ChildProcess {
    pid_t pid = -1;
    std::mutex lock; // orders reaping against killing, so that a reaped pid is never signalled
    bool ended = false;
    int exitCode = -1; // stays -1 when the status is lost (the application ignores SIGCHLD)
};

// Children whose handle was closed while they ran: reaped by the next call that finds them ended.
std::mutex orphansLock;
std::vector<pid_t> orphans;

void ReapOrphans() {
    std::lock_guard<std::mutex> guard(orphansLock);
    int unused = 0;
    orphans.erase(std::remove_if(orphans.begin(), orphans.end(),
                                 [&unused](pid_t pid) {
                                     return platform::ReapChild(pid, unused) !=
                                            platform::ChildState::Running;
                                 }),
                  orphans.end());
}

// True when the child has ended; call with its lock held.
bool Reaped(ChildProcess& child) {
    if (!child.ended) {
        const platform::ChildState state = platform::ReapChild(child.pid, child.exitCode);
        child.ended = state != platform::ChildState::Running;
    }
    return child.ended;
}

} // namespace

bool CreateChildProcess(const std::string& program, const std::string& arguments, int& stdinFd,
                        int& stdoutFd, int& stderrFd, void*& process, bool) {
    const platform::PipeEnds input = platform::OpenPipe();
    const platform::PipeEnds output = platform::OpenPipe();
    const platform::PipeEnds error = platform::OpenPipe();

    // The command line was a C string on its way to the child: it ends at a NUL byte.
    std::string commandLine = arguments.empty() ? program : program + " " + arguments;
    commandLine.resize(std::strlen(commandLine.c_str()));
    const std::vector<std::string> argv = SplitCommandLine(commandLine);

    // Made before the child, so that running out of memory cannot leave it without a handle.
    auto child = std::make_unique<ChildProcess>();
    if (!argv.empty() && !argv[0].empty() && input.read >= 0 && output.write >= 0 &&
        error.write >= 0)
        child->pid = platform::SpawnChild(argv, input.read, output.write, error.write);

    platform::CloseDescriptor(input.read);
    platform::CloseDescriptor(output.write);
    platform::CloseDescriptor(error.write);
    stdinFd = input.write;
    stdoutFd = output.read;
    stderrFd = error.read;
    const bool started = child->pid > 0;
    process = started ? child.release() : nullptr;
    return started;
}

bool WaitChildProcess(void* process, int timeoutMs, int& exitCode) {
    ReapOrphans();
    if (process == nullptr)
        return false;
    auto& child = *static_cast<ChildProcess*>(process);
    const auto reaped = [&child, &exitCode] {
        std::lock_guard<std::mutex> guard(child.lock);
        if (Reaped(child))
            exitCode = child.exitCode;
        return child.ended;
    };
    // Waits without reaping, and so without the lock, which a TerminateChildProcess from another
    // thread needs meanwhile.
    return reaped() ||
           (timeoutMs != 0 && platform::AwaitChildEnd(child.pid, timeoutMs) && reaped());
}

bool TerminateChildProcess(void* process) {
    ReapOrphans();
    if (process == nullptr)
        return false;
    auto& child = *static_cast<ChildProcess*>(process);
    std::lock_guard<std::mutex> guard(child.lock);
    return !child.ended && platform::KillChild(child.pid);
}

void CloseChildProcess(void* process) {
    ReapOrphans();
    if (process == nullptr)
        return;
    auto* child = static_cast<ChildProcess*>(process);
    {
        std::lock_guard<std::mutex> guard(child->lock);
        if (!Reaped(*child)) {
            std::lock_guard<std::mutex> orphansGuard(orphansLock);
            orphans.push_back(child->pid);
        }
    }
    delete child;
}

} // namespace OrnUtil
