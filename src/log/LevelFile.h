// The shared level file: eight little-endian 32-bit words that every process of the family maps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace OrnUtil::internal {

// "<config>/Marlek/ORN/DEBUG.CFG", where <config> is $APPDATA, else $XDG_CONFIG_HOME, else
// $HOME/.config (the first one set and not empty).
std::string LevelFilePath();

struct LevelFileView {
    int fd = -1;              // -1 when the file could be neither opened nor created
    int error = 0;            // errno of the failed open
    int32_t* table = nullptr; // the first 32 bytes, mapped shared; null when mapping failed
};

// The bytes of the table, from the start of its page.
constexpr size_t TABLE_BYTES = 32;

// Creates the folder, opens the file (creating it with mode 0600), extends a file shorter than
// eight words with words of `fill`, and maps its first eight words read-write and shared: in place
// of the page at `at` when given (a table that MapPrivateTable replaced), so that its address
// stays; should that fail, the page at `at` stays as it was.
LevelFileView OpenLevelFile(int32_t fill, int32_t* at = nullptr);

// Releases what OpenLevelFile obtained.
void CloseLevelFile(LevelFileView& view);

// Puts a private page of `fill` words in place of the table's page: readers that hold its address
// read those words, never unmapped memory. Safe in a signal handler.
void MapPrivateTable(int32_t* table, int32_t fill);

} // namespace OrnUtil::internal
