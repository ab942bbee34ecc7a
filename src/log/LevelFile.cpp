#include "log/LevelFile.h"

#include "platform/Descriptors.h"
#include "platform/Environment.h"
#include "platform/Files.h"

#include <OrnUtil/System.h>
#include <algorithm>
#include <cerrno>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the level file holds little-endian words that are mapped in place");

namespace OrnUtil::internal {

namespace {

constexpr int32_t WORDS = TABLE_BYTES / sizeof(int32_t);

std::string ConfigFolder() {
    std::string value;
    for (const char* name : {"APPDATA", "XDG_CONFIG_HOME"})
        if (platform::GetVariable(name, value) && !value.empty())
            return value;
    if (!platform::GetVariable("HOME", value))
        value.clear();
    return value + "/.config";
}

std::string LevelFolder() {
    return ConfigFolder() + "/Marlek/ORN/";
}

// Appends words of `fill` after the last whole word until the file holds eight. The lock keeps two
// processes that create the file at once from both appending.
void ExtendToTable(int fd, int32_t fill) {
    platform::LockFile(fd);
    const int64_t size = platform::FileSize(fd);
    if (size >= 0 && size / 4 < WORDS) {
        const auto missing = static_cast<size_t>(WORDS - size / 4);
        int32_t words[WORDS];
        for (auto& word : words)
            word = fill;
        platform::AppendToFile(fd, words, missing * sizeof(int32_t));
    }
    platform::UnlockFile(fd);
}

// Puts the page at `from` in place of the page at `to` in one step: a thread reading `to` meanwhile
// reads the old page or the new one, never a hole or a page half filled.
bool MovePage(void* from, int32_t* to) {
    if (platform::MoveMapping(from, to, TABLE_BYTES))
        return true;
    platform::Unmap(from, TABLE_BYTES);
    return false;
}

int32_t* MapTable(int fd, int32_t* at) {
    void* view = platform::MapShared(fd, TABLE_BYTES);
    if (view == nullptr || at == nullptr)
        return static_cast<int32_t*>(view);
    return MovePage(view, at) ? at : nullptr;
}

} // namespace

std::string LevelFilePath() {
    return LevelFolder() + "DEBUG.CFG";
}

LevelFileView OpenLevelFile(int32_t fill, int32_t* at) {
    LevelFileView view;
    MakeDirectory(LevelFolder());
    const std::string path = LevelFilePath();
    view.fd = platform::OpenReadWrite(path);
    if (view.fd < 0)
        view.fd = platform::CreateReadWrite(path, 0600);
    if (view.fd < 0) {
        view.error = errno;
        view.fd = -1;
        return view;
    }
    ExtendToTable(view.fd, fill);
    // Touching a mapped page that lies wholly past the end of the file raises SIGBUS: map only a
    // file that now holds the whole table.
    if (platform::FileSize(view.fd) >= static_cast<int64_t>(TABLE_BYTES))
        view.table = MapTable(view.fd, at);
    return view;
}

void CloseLevelFile(LevelFileView& view) {
    if (view.table != nullptr)
        platform::Unmap(view.table, TABLE_BYTES);
    platform::CloseDescriptor(view.fd);
    view = LevelFileView{};
}

void MapPrivateTable(int32_t* table, int32_t fill) {
    void* page = platform::MapPrivate(TABLE_BYTES);
    if (page == nullptr)
        return;
    std::fill_n(static_cast<int32_t*>(page), WORDS, fill);
    MovePage(page, table);
}

} // namespace OrnUtil::internal
