// Arbitrary texts into the level and subsystem parsers, whose warnings go to a scratch stream.
#include "FuzzSupport.h"

#include <OrnUtil/Log.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SilenceLog();
    const std::string text(reinterpret_cast<const char*>(data), size);
    const TLogLevel level = OrnUtil::CLog::LevelFromString(text);
    const TLogSubSys subsys = OrnUtil::CLog::SubSysFromString(text);
    if (level < ERROR || level > DEBUG3 || subsys < APP || subsys > TEST)
        std::abort();
    if (OrnUtil::CLog::LevelToString(level).size() != 8)
        std::abort();
    return 0;
}
