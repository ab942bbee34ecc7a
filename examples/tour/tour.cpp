// A walk through OrnUtils: each section shows one family doing its main job.
#include <OrnUtils.h>
#include <cstdlib>
#include <iostream>
#include <string>

using OrnUtil::CLog;

namespace {

void Section(const std::string& title) {
    std::cout << "\n== " << title << " ==\n";
}

// What an application writes for each message: the level test first, so a suppressed message
// costs one load and one compare.
void Say(TLogSubSys subsys, TLogLevel level, const std::string& text) {
    if (level <= CLog::ReportingLevel(subsys))
        CLog(subsys, stdout).Get(level, subsys) << CLog::SubSysToString(subsys) << ": " << text;
}

void TourLogging() {
    Section("Logging with levels shared by every process");
    for (TLogSubSys subsys : {APP, WEB, FLASH})
        CLog::SetPipe(subsys, stdout);
    if (!CLog::Init(""))
        return;
    std::cout << "Every subsystem starts at WARN: ERROR and WARN are shown, INFO is not.\n";
    Say(APP, ERROR, "the flash tool is missing");
    Say(WEB, WARN, "the server answered slowly");
    Say(FLASH, INFO, "block 7 written (not shown)");

    std::cout << "Raise FLASH to INFO; every process mapping the level file sees it at once.\n";
    CLog::ReportingLevel(FLASH, INFO);
    Say(FLASH, INFO, "block 8 written");
    Say(FLASH, DEBUG, "checksum 0x5a17 (not shown: DEBUG is finer than INFO)");
    std::cout << "FLASH now reports at" << CLog::LevelToString(CLog::ReportingLevel(FLASH))
              << "; WEB still at" << CLog::LevelToString(CLog::ReportingLevel(WEB)) << "\n";
    CLog::ReportingLevel(FLASH, WARN);

    std::cout << "Parsing names from a configuration: \"ARN\" is "
              << CLog::LevelToString(CLog::LevelFromString("ARN")) << ", \"FLASH\" is subsystem "
              << CLog::SubSysToString(CLog::SubSysFromString("FLASH")) << "\n";
}

void TourHexDump() {
    Section("Hex dumps for log lines");
    const std::string frame = "\x05\x00\x00\x00hello, OrnUtils\x01\xff";
    CLog(APP, stdout).Get(WARN, APP) << "R: " << OrnUtil::CHex(frame.data(), frame.size());
}

} // namespace

int main() {
    // The tour keeps its level file in a folder of its own, so that it leaves the levels of the
    // applications on this machine alone.
    char folder[] = "/tmp/ornutils-tour-XXXXXX";
    if (mkdtemp(folder) == nullptr || setenv("APPDATA", folder, 1) != 0) {
        std::cerr << "tour: cannot make a scratch folder\n";
        return 1;
    }
    std::cout << OrnUtil::GetName() << " " << OrnUtil::GetVersion() << ", built "
              << OrnUtil::GetDate() << "\n";
    TourLogging();
    TourHexDump();
    CLog::Shutdown();
    std::cout << "\nThe tour's level file is in " << folder << "/Marlek/ORN/DEBUG.CFG\n";
    return 0;
}
