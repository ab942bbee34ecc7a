#include "platform/LevelFile.h"

#include "platform/Files.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the level file holds little-endian words that are mapped in place");

namespace OrnUtil::platform {

namespace {

constexpr int32_t WORDS = 8;
constexpr size_t TABLE_BYTES = WORDS * sizeof(int32_t);

std::string ConfigFolder() {
    for (const char* name : {"APPDATA", "XDG_CONFIG_HOME"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0')
            return value;
    }
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.config";
}

std::string LevelFolder() {
    return ConfigFolder() + "/Marlek/ORN/";
}

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

// Appends words of `fill` after the last whole word until the file holds eight. The lock keeps two
// processes that create the file at once from both appending.
void ExtendToTable(int fd, int32_t fill) {
    flock(fd, LOCK_EX);
    struct stat info {};
    if (fstat(fd, &info) == 0 && info.st_size / 4 < WORDS) {
        const auto missing = static_cast<size_t>(WORDS - info.st_size / 4);
        int32_t words[WORDS];
        for (auto& word : words)
            word = fill;
        if (lseek(fd, 0, SEEK_END) >= 0)
            WriteAll(fd, reinterpret_cast<const char*>(words), missing * sizeof(int32_t));
    }
    flock(fd, LOCK_UN);
}

} // namespace

std::string LevelFilePath() {
    return LevelFolder() + "DEBUG.CFG";
}

LevelFileView OpenLevelFile(int32_t fill) {
    LevelFileView view;
    MakeDirectories(LevelFolder());
    const std::string path = LevelFilePath();
    view.fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (view.fd < 0)
        view.fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (view.fd < 0) {
        view.error = errno;
        view.fd = -1;
        return view;
    }
    ExtendToTable(view.fd, fill);
    // Touching a mapped page that lies wholly past the end of the file raises SIGBUS: map only a
    // file that now holds the whole table.
    struct stat info {};
    if (fstat(view.fd, &info) != 0 || info.st_size < static_cast<off_t>(TABLE_BYTES))
        return view;
    void* mapped = mmap(nullptr, TABLE_BYTES, PROT_READ | PROT_WRITE, MAP_SHARED, view.fd, 0);
    if (mapped != MAP_FAILED)
        view.table = static_cast<int32_t*>(mapped);
    return view;
}

void CloseLevelFile(LevelFileView& view) {
    if (view.table != nullptr)
        munmap(view.table, TABLE_BYTES);
    if (view.fd >= 0)
        close(view.fd);
    view = LevelFileView{};
}

} // namespace OrnUtil::platform
