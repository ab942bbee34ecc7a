// Pipes and child processes: creating, waiting for, killing and reaping them.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace OrnUtil::platform {

struct PipeEnds {
    int read = -1;
    int write = -1;
};

// A close-on-exec pipe whose ends are never 0, 1 or 2, so that placing them as a child's standard
// streams cannot overwrite one another. Ends are -1 when the pipe could not be made.
PipeEnds OpenPipe();

// Starts argv[0] (looked for on PATH when it holds no "/") with argv, the caller's environment and
// the given descriptors as its standard streams. The child inherits no other descriptor, starts
// with no signal blocked and with SIGPIPE at its default. -1 when it could not be started.
pid_t SpawnChild(const std::vector<std::string>& argv, int in, int out, int err);

enum class ChildState {
    Running,
    Ended, // reaped: the status is known
    Lost   // gone without a status (SIGCHLD ignored, or reaped by someone else)
};

// Reaps the child if it has ended, without waiting. `exitCode` is the exit status, or 128 + the
// signal that ended it.
ChildState ReapChild(pid_t pid, int& exitCode);

// Waits until the child has ended, without reaping it: without limit when `timeoutMs` < 0. True
// when it has ended (or can no longer be waited for), false on time-out.
bool AwaitChildEnd(pid_t pid, int timeoutMs);

// Sends SIGKILL; true when it was sent. The child must not have been reaped.
bool KillChild(pid_t pid);

} // namespace OrnUtil::platform
