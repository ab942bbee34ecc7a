// The logger: levels shared by every process, the logging idiom, hex dumps.
#include "Tour.h"

#include <OrnUtils.h>
#include <iostream>
#include <string>

using OrnUtil::CLog;

namespace {

// What an application writes for each message: the level test first, so a suppressed message
// costs one load and one compare.
void Say(TLogSubSys subsys, TLogLevel level, const std::string& text) {
    if (level <= CLog::ReportingLevel(subsys))
        CLog(subsys, stdout).Get(level, subsys) << CLog::SubSysToString(subsys) << ": " << text;
}

// The level's name without the padding it has in a log line.
std::string Name(TLogLevel level) {
    const std::string text = CLog::LevelToString(level);
    return text.substr(1, text.find(' ', 1) - 1);
}

void SharedLevels() {
    for (TLogSubSys subsys : {APP, WEB, FLASH})
        CLog::SetPipe(subsys, stdout);
    std::cout << "Every subsystem starts at WARN: ERROR and WARN are shown, INFO is not.\n";
    Say(APP, ERROR, "the flash tool is missing");
    Say(WEB, WARN, "the server answered slowly");
    Say(FLASH, INFO, "block 7 written (not shown)");

    std::cout << "Raise FLASH to INFO; every process mapping the level file sees it at once.\n";
    CLog::ReportingLevel(FLASH, INFO);
    Say(FLASH, INFO, "block 8 written");
    Say(FLASH, DEBUG, "checksum 0x5a17 (not shown: DEBUG is finer than INFO)");
    std::cout << "FLASH now reports at " << Name(CLog::ReportingLevel(FLASH)) << "; WEB still at "
              << Name(CLog::ReportingLevel(WEB)) << "\n";
    CLog::ReportingLevel(FLASH, WARN);

    std::cout << "Parsing names from a configuration: \"ARN\" is "
              << Name(CLog::LevelFromString("ARN")) << ", \"FLASH\" is subsystem "
              << CLog::SubSysToString(CLog::SubSysFromString("FLASH")) << "\n";
}

void HexDump() {
    std::cout << "A received frame, dumped into a log line:\n";
    const std::string frame("\x0f\x00\x00\x00hello, OrnUtils\x01\xff", 21);
    CLog(APP, stdout).Get(WARN, APP) << "R: " << OrnUtil::CHex(frame.data(), frame.size());
}

} // namespace

void TourLogging() {
    Section("Logging with levels shared by every process");
    if (!CLog::Init(""))
        return;
    SharedLevels();
    HexDump();
}
