#include "platform/Files.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace OrnUtil::platform {

namespace {

bool IsDirectory(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace

bool MakeDirectories(const std::string& path) {
    for (size_t end = path.find('/', 1); end != std::string::npos; end = path.find('/', end + 1))
        mkdir(path.substr(0, end).c_str(), 0777);
    if (mkdir(path.c_str(), 0777) == 0)
        return true;
    return errno == EEXIST && IsDirectory(path);
}

bool MakeOneDirectory(const std::string& path) {
    if (mkdir(path.c_str(), 0777) == 0)
        return true;
    return errno == EEXIST && IsDirectory(path);
}

void TruncateStream(FILE* stream) {
    const int fd = fileno(stream);
    if (fd >= 0 && ftruncate(fd, 0) != 0) {
        // A console or a pipe cannot be truncated; the caller asked for nothing more.
    }
}

} // namespace OrnUtil::platform
