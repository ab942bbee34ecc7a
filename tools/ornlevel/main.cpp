// ornlevel: shows and sets the reporting levels that every process of the family reads from the
// shared level file.
#include "log/LevelFile.h"

#include <OrnUtil/Log.h>
#include <cstring>
#include <iostream>
#include <string>
#include <strings.h>

namespace {

const char* const HELP = R"(Usage: ornlevel [SUBSYS LEVEL]
Shows or sets the logging levels of the OrnUtils applications.

With no argument, prints the eight subsystems and their levels.
With SUBSYS LEVEL, sets the level of one subsystem, or of all eight when SUBSYS is "all".

  SUBSYS  APP WEB OTXLOG OTX ODX PDU FLASH TEST, or all
  LEVEL   ERROR WARN NOTICE INFO DEBUG DEBUG1 DEBUG2 DEBUG3 (least to most verbose)
  -h, --help  shows this help

Names are matched whole, in any case. The levels live in one small file that every process
of the family maps, so a change takes effect at once in the running applications, and lasts.
The file is created, holding WARN for every subsystem, when it does not exist; it is never
truncated.

Applications can set at most DEBUG themselves. The library's finest output (DEBUG1 to DEBUG3,
the hex dumps of network traffic among it) appears only when this tool writes those levels.

Exit status:
  0  done
  1  the level file cannot be opened or mapped
  2  a name or argument not known

Environment:
  APPDATA          the level file is $APPDATA/Marlek/ORN/DEBUG.CFG
  XDG_CONFIG_HOME  takes the place of APPDATA where that is unset or empty
  HOME             $HOME/.config takes it where both are unset or empty

Files:
  $APPDATA/Marlek/ORN/DEBUG.CFG
                      the level file: eight 32-bit words, one per subsystem, created
                      with mode 0600
)";

std::string LevelName(int32_t level) {
    std::string text = OrnUtil::CLog::LevelToString(static_cast<TLogLevel>(level));
    // A word written by other means: every message is shown up to it, so a large one shows all
    // and a negative one silences even ERROR.
    if (text == "Invalid Level")
        return std::to_string(level) +
               (level < 0 ? " (not a level: shows nothing)" : " (not a level: shows everything)");
    return text.substr(1, text.find(' ', 1) - 1);
}

std::string SubSysName(int32_t subsys) {
    return OrnUtil::CLog::SubSysToString(static_cast<TLogSubSys>(subsys));
}

// The index of the name among the enumeration's names, or -1.
template <typename NameOf>
int32_t Find(const std::string& text, NameOf nameOf) {
    for (int32_t value = 0; value < OrnUtil::CLog::COUNT; ++value)
        if (strcasecmp(text.c_str(), nameOf(value).c_str()) == 0)
            return value;
    return -1;
}

int Unknown(const char* what, const std::string& text, std::string (*nameOf)(int32_t)) {
    std::cerr << "ornlevel: unknown " << what << " '" << text << "'; valid names:";
    for (int32_t value = 0; value < OrnUtil::CLog::COUNT; ++value)
        std::cerr << ' ' << nameOf(value);
    std::cerr << (nameOf == SubSysName ? " all" : "") << '\n';
    return 2;
}

void Print(const int32_t* table) {
    for (int32_t subsys = 0; subsys < OrnUtil::CLog::COUNT; ++subsys) {
        const int32_t level = __atomic_load_n(&table[subsys], __ATOMIC_RELAXED);
        std::cout << SubSysName(subsys) << std::string(8 - SubSysName(subsys).size(), ' ')
                  << LevelName(level) << '\n';
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::cout << HELP;
        return 0;
    }
    if (argc != 1 && argc != 3) {
        std::cerr << "ornlevel: expected no argument or SUBSYS LEVEL; see ornlevel --help\n";
        return 2;
    }
    int32_t subsys = -1;
    int32_t level = -1;
    if (argc == 3) {
        const bool all = strcasecmp(argv[1], "all") == 0;
        subsys = all ? OrnUtil::CLog::COUNT : Find(argv[1], SubSysName);
        if (subsys < 0)
            return Unknown("subsystem", argv[1], SubSysName);
        level = Find(argv[2], LevelName);
        if (level < 0)
            return Unknown("level", argv[2], LevelName);
    }
    OrnUtil::internal::LevelFileView view = OrnUtil::internal::OpenLevelFile(WARN);
    const std::string path = OrnUtil::internal::LevelFilePath();
    if (view.table == nullptr) {
        std::cerr << "ornlevel: cannot use " << path << ": "
                  << (view.fd < 0 ? std::strerror(view.error) : "it cannot be mapped") << '\n';
        OrnUtil::internal::CloseLevelFile(view);
        return 1;
    }
    // Other processes read these words in place while we write them.
    for (int32_t target = 0; target < OrnUtil::CLog::COUNT; ++target)
        if (target == subsys || subsys == OrnUtil::CLog::COUNT)
            __atomic_store_n(&view.table[target], level, __ATOMIC_RELAXED);
    std::cout << path << '\n';
    Print(view.table);
    OrnUtil::internal::CloseLevelFile(view);
    return 0;
}
