#include "platform/ChildProcess.h"

#include "platform/Clock.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace OrnUtil::platform {

namespace {

// A process that started with a standard stream closed hands out 0, 1 or 2 for new descriptors.
int AboveStandardStreams(int fd) {
    if (fd < 0 || fd > 2)
        return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    close(fd);
    return moved;
}

int ExitCodeOf(int status) {
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

// What is left of `timeoutMs` since `start` (a TickCount reading), 0 once it has run out.
int RemainingMs(uint32_t start, int timeoutMs) {
    const int64_t left = int64_t{timeoutMs} - static_cast<uint32_t>(TickCount() - start);
    return left > 0 ? static_cast<int>(left) : 0;
}

bool HasEnded(pid_t pid) {
    siginfo_t info{};
    const int result = waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
    return result != 0 ? errno != EINTR : info.si_pid == pid;
}

// For kernels, or sandboxes, without pidfd_open: look every millisecond.
bool PollForEnd(pid_t pid, int timeoutMs) {
    const uint32_t start = TickCount();
    for (;;) {
        if (HasEnded(pid))
            return true;
        if (RemainingMs(start, timeoutMs) == 0)
            return false;
        const timespec pause{0, 1000000};
        nanosleep(&pause, nullptr);
    }
}

} // namespace

PipeEnds OpenPipe() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return {};
    return {AboveStandardStreams(ends[0]), AboveStandardStreams(ends[1])};
}

pid_t SpawnChild(const std::vector<std::string>& argv, int in, int out, int err) {
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return -1;
    if (posix_spawnattr_init(&attributes) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return -1;
    }
    // A Windows child inherits only the handles it is given; here the standard streams, and
    // nothing the application opened without close-on-exec.
    posix_spawn_file_actions_adddup2(&actions, in, 0);
    posix_spawn_file_actions_adddup2(&actions, out, 1);
    posix_spawn_file_actions_adddup2(&actions, err, 2);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    // The caller's thread may block signals (a channel's write blocks SIGPIPE); the child must not
    // start with them blocked, nor with a SIGPIPE that the application chose to ignore.
    sigset_t noSignals, pipeSignal;
    sigemptyset(&noSignals);
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes, &noSignals);
    posix_spawnattr_setsigdefault(&attributes, &pipeSignal);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    const int result = posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return result == 0 ? pid : -1;
}

ChildState ReapChild(pid_t pid, int& exitCode) {
    int status = 0;
    for (;;) {
        const pid_t result = waitpid(pid, &status, WNOHANG);
        if (result == pid) {
            exitCode = ExitCodeOf(status);
            return ChildState::Ended;
        }
        if (result == 0)
            return ChildState::Running;
        if (errno != EINTR)
            return ChildState::Lost;
    }
}

bool AwaitChildEnd(pid_t pid, int timeoutMs) {
    if (timeoutMs < 0) {
        siginfo_t info{};
        while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0)
            if (errno != EINTR)
                break;
        return true;
    }
    if (timeoutMs == 0)
        return HasEnded(pid);
    // A pidfd becomes readable when the process ends, so poll can wait with a limit.
    const int pidFd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (pidFd < 0)
        return errno == ESRCH || PollForEnd(pid, timeoutMs);
    const uint32_t start = TickCount();
    bool ended = false;
    for (;;) {
        const int remaining = RemainingMs(start, timeoutMs);
        pollfd event{pidFd, POLLIN, 0};
        const int ready = poll(&event, 1, remaining);
        if (ready > 0 || (ready < 0 && errno != EINTR)) {
            ended = true;
            break;
        }
        if (ready == 0 && remaining <= 0)
            break;
    }
    close(pidFd);
    return ended;
}

bool KillChild(pid_t pid) {
    return kill(pid, SIGKILL) == 0;
}

} // namespace OrnUtil::platform
