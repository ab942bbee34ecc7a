// Reads and writes on plain descriptors for the channels.
#pragma once

#include <cstddef>
#include <sys/types.h>

namespace OrnUtil::platform {

// One read(2): the bytes read, 0 at end of input, -1 with errno.
ssize_t ReadSome(int fd, void* data, size_t size);

// One write(2), as it is: to a pipe whose reader has gone it raises SIGPIPE, as stdio's writes do.
ssize_t WritePlain(int fd, const void* data, size_t size);

// One write(2) that never raises SIGPIPE: to a pipe or socket whose reader has gone it fails with
// EPIPE and the process lives on. The bytes written, or -1 with errno.
ssize_t WriteSome(int fd, const void* data, size_t size);

// While one lives, the WriteSome calls of this thread share one block of SIGPIPE, made at the
// first of them and undone when the outermost hold ends: two system calls for a frame's writes
// rather than two for each.
class SigpipeHold {
public:
    SigpipeHold();
    ~SigpipeHold();
    SigpipeHold(const SigpipeHold&) = delete;
    SigpipeHold& operator=(const SigpipeHold&) = delete;
};

// Writes all `size` bytes through `writeSome` (WriteSome or a socket's SendSome), going on after
// partial and interrupted writes. False with errno, or with errno 0 when a write took nothing.
bool WriteAll(int fd, const char* data, size_t size,
              ssize_t (*writeSome)(int, const void*, size_t));

// A close-on-exec duplicate of `fd`, or -1.
int DuplicateDescriptor(int fd);

// Closes a descriptor unless it is -1.
void CloseDescriptor(int fd);

} // namespace OrnUtil::platform
