// Files: opening, locking, sizing, mapping, and directories.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace OrnUtil::platform {

// Opens a file for reading and writing, close-on-exec: -1 with errno when it cannot be opened.
int OpenReadWrite(const std::string& path);
// The same, creating the file with `mode` (less the umask) when it does not exist.
int CreateReadWrite(const std::string& path, unsigned mode);

// Holds or releases an exclusive lock (flock) on the whole file, waiting for it.
void LockFile(int fd);
void UnlockFile(int fd);

// The file's size in bytes, -1 when it cannot be had.
int64_t FileSize(int fd);

// Appends all `size` bytes at the end of the file. False with errno.
bool AppendToFile(int fd, const void* data, size_t size);

// Maps the first `size` bytes read-write and shared with every process that maps them; null on
// failure.
void* MapShared(int fd, size_t size);
// Maps `size` bytes of private, zero-filled memory; null on failure.
void* MapPrivate(size_t size);
void Unmap(void* view, size_t size);
// Moves the mapping at `from` over the one at `to` (mremap with MREMAP_FIXED), `size` bytes. The
// replacement is atomic for other threads. False with errno; `from` is then left as it was.
bool MoveMapping(void* from, void* to, size_t size);

// Creates one directory (mode 0777 less the umask): 0 when made, the errno value otherwise (EEXIST
// when the name exists, whatever it names).
int MakeOneDirectory(const std::string& path);

// Truncates the file under a C stream to length zero; failures (a console, a pipe) are ignored.
void TruncateStream(FILE* stream);

} // namespace OrnUtil::platform
