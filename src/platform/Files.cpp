#include "platform/Files.h"

#include "platform/Descriptors.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace OrnUtil::platform {

int OpenReadWrite(const std::string& path) {
    return open(path.c_str(), O_RDWR | O_CLOEXEC);
}

int CreateReadWrite(const std::string& path, unsigned mode) {
    return open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, static_cast<mode_t>(mode));
}

void LockFile(int fd) {
    while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
}

void UnlockFile(int fd) {
    flock(fd, LOCK_UN);
}

int64_t FileSize(int fd) {
    struct stat info {};
    return fstat(fd, &info) == 0 ? static_cast<int64_t>(info.st_size) : -1;
}

bool AppendToFile(int fd, const void* data, size_t size) {
    return lseek(fd, 0, SEEK_END) >= 0 &&
           WriteAll(fd, static_cast<const char*>(data), size, WriteSome);
}

void* MapShared(int fd, size_t size) {
    void* view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    return view == MAP_FAILED ? nullptr : view;
}

void* MapPrivate(size_t size) {
    void* view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return view == MAP_FAILED ? nullptr : view;
}

bool MoveMapping(void* from, void* to, size_t size) {
    return mremap(from, size, size, MREMAP_MAYMOVE | MREMAP_FIXED, to) != MAP_FAILED;
}

void Unmap(void* view, size_t size) {
    munmap(view, size);
}

int MakeOneDirectory(const std::string& path) {
    return mkdir(path.c_str(), 0777) == 0 ? 0 : errno;
}

void TruncateStream(FILE* stream) {
    const int fd = fileno(stream);
    if (fd >= 0 && ftruncate(fd, 0) != 0) {
        // A console or a pipe cannot be truncated; the caller asked for nothing more.
    }
}

} // namespace OrnUtil::platform
