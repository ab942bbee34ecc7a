// Arbitrary texts into the level and subsystem parsers, whose warnings go to a scratch stream.
#include "FuzzSupport.h"

FUZZ_TARGET(input) {
    const TLogLevel level = OrnUtil::CLog::LevelFromString(input);
    const TLogSubSys subsys = OrnUtil::CLog::SubSysFromString(input);
    fuzz::Require(level >= ERROR && level <= DEBUG3 && subsys >= APP && subsys <= TEST);
    fuzz::Require(OrnUtil::CLog::LevelToString(level).size() == 8);
}
