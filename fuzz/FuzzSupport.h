// What the fuzz targets share.
#pragma once

#include <OrnUtil/Log.h>
#include <cstdio>

// Sends the library's log lines to /dev/null once per process: the targets feed inputs that make
// it warn on every call.
inline void SilenceLog() {
    static FILE* const sink = [] {
        FILE* file = std::fopen("/dev/null", "w");
        OrnUtil::CLog::SetPipe(APP, file);
        return file;
    }();
    (void)sink;
}
