// The shared level file: eight little-endian 32-bit words that every process of the family maps.
#pragma once

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

// Creates the folder, opens the file (creating it with mode 0600), extends a file shorter than
// eight words with words of `fill`, and maps its first eight words read-write and shared.
LevelFileView OpenLevelFile(int32_t fill);

// Releases what OpenLevelFile obtained.
void CloseLevelFile(LevelFileView& view);

} // namespace OrnUtil::internal
