#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/LevelFile.h"

#include <OrnUtil/Log.h>
#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <iostream>
#include <memory>

namespace OrnUtil {

namespace {

// What every subsystem reports while no table is mapped.
int32_t unmappedLevels[CLog::COUNT] = {WARN, WARN, WARN, WARN, WARN, WARN, WARN, WARN};

bool InRange(int32_t value) {
    return static_cast<uint32_t>(value) < static_cast<uint32_t>(CLog::COUNT);
}

void PutTwoDigits(char* out, int value) {
    out[0] = static_cast<char>('0' + value / 10 % 10);
    out[1] = static_cast<char>('0' + value % 10);
}

} // namespace

int32_t* CLog::m_Level = unmappedLevels;
void* CLog::m_View = nullptr;
int CLog::m_fd = -1;
FILE* CLog::m_LogPipe[CLog::COUNT] = {};
const char* const CLog::m_LevelStr[CLog::COUNT] = {" ERROR  ", " WARN   ", " NOTICE ", " INFO   ",
                                                   " DEBUG  ", " DEBUG1 ", " DEBUG2 ", " DEBUG3 "};
const char* const CLog::m_SubSysStr[CLog::COUNT] = {"APP", "WEB", "OTXLOG", "OTX",
                                                    "ODX", "PDU", "FLASH",  "TEST"};

// The streams are read and installed with atomic operations: the first statements of two threads
// may race to install APP's stream, and that must not be a data race.
CLog::CLog(TLogSubSys subsys, FILE* pipe) : m_SubSys(subsys) {
    FILE* none = nullptr;
    if (InRange(subsys))
        __atomic_compare_exchange_n(&m_LogPipe[subsys], &none, pipe, false, __ATOMIC_ACQ_REL,
                                    __ATOMIC_ACQUIRE);
}

CLog::~CLog() {
    m_Stream << std::endl;
    // A subsystem outside the enumeration, or one without a stream, drops the line.
    FILE* pipe =
        InRange(m_SubSys) ? __atomic_load_n(&m_LogPipe[m_SubSys], __ATOMIC_ACQUIRE) : nullptr;
    if (pipe == nullptr)
        return;
    // One call under the stream's lock keeps lines of different threads whole. Like the "%s"
    // write it stands for, it stops at an embedded NUL.
    std::fputs(m_Stream.str().c_str(), pipe);
    std::fflush(pipe);
}

std::ostringstream& CLog::Get(TLogLevel level, TLogSubSys) {
    const platform::TimeOfDay now = platform::LocalTimeOfDay();
    char time[13] = "00:00:00.000";
    PutTwoDigits(time, now.hour);
    PutTwoDigits(time + 3, now.minute);
    PutTwoDigits(time + 6, now.second);
    time[9] = static_cast<char>('0' + now.millisecond / 100);
    PutTwoDigits(time + 10, now.millisecond % 100);
    m_Stream.write(time, 12);
    const char* levelText = InRange(level) ? m_LevelStr[level] : "Invalid Level";
    m_Stream.write(levelText, static_cast<std::streamsize>(std::strlen(levelText)));
    return m_Stream;
}

std::ostringstream& CLog::QGet(TLogLevel, TLogSubSys) {
    return m_Stream;
}

bool CLog::Init(std::string) {
    if (m_View != nullptr)
        return true;
    platform::LevelFileView view = platform::OpenLevelFile(WARN);
    m_fd = view.fd;
    if (view.fd < 0) {
        std::cerr << "CLog failed to initialise - " << std::strerror(view.error) << std::endl;
        return false;
    }
    if (view.table == nullptr)
        return false;
    m_View = view.table;
    m_Level = view.table;
    return true;
}

void CLog::Shutdown() {
    platform::LevelFileView view;
    view.fd = m_fd;
    view.table = static_cast<int32_t*>(m_View);
    m_Level = unmappedLevels;
    m_View = nullptr;
    m_fd = -1;
    platform::CloseLevelFile(view);
}

void CLog::Clear() {
    for (FILE*& slot : m_LogPipe) {
        FILE* pipe = __atomic_load_n(&slot, __ATOMIC_ACQUIRE);
        if (pipe != nullptr)
            platform::TruncateStream(pipe);
    }
}

bool CLog::ReportingLevel(TLogSubSys subsys, TLogLevel level) {
    if (m_View == nullptr || !InRange(subsys) || !InRange(level))
        return false;
    // Finer levels are for the file's editors (ornlevel), not for applications.
    const int32_t stored = level > DEBUG ? DEBUG : level;
    __atomic_store_n(&m_Level[subsys], stored, __ATOMIC_RELAXED);
    return true;
}

FILE* CLog::SetPipe(TLogSubSys subsys, FILE* pipe) {
    if (!InRange(subsys))
        return nullptr;
    return __atomic_exchange_n(&m_LogPipe[subsys], pipe, __ATOMIC_ACQ_REL);
}

std::string CLog::LevelToString(TLogLevel level) {
    return InRange(level) ? m_LevelStr[level] : "Invalid Level";
}

std::string CLog::SubSysToString(TLogSubSys subsys) {
    return InRange(subsys) ? m_SubSysStr[subsys] : "Invalid SubSys";
}

TLogLevel CLog::LevelFromString(const std::string& text) {
    for (int32_t level = ERROR; level < COUNT; ++level)
        if (std::string(m_LevelStr[level]).find(text) != std::string::npos)
            return static_cast<TLogLevel>(level);
    CLog(APP, stderr).Get(WARN, APP)
        << "Unknown logging level '" << text << "'. Using DEBUG level as default.";
    return DEBUG;
}

TLogSubSys CLog::SubSysFromString(const std::string& text) {
    for (int32_t subsys = APP; subsys < COUNT; ++subsys)
        if (text == m_SubSysStr[subsys])
            return static_cast<TLogSubSys>(subsys);
    CLog(APP, stderr).Get(WARN, APP)
        << "Unknown subsystem '" << text << "'. Using APP subsystem as default.";
    return APP;
}

std::string className(const char* name) {
    if (name == nullptr)
        return std::string();
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> demangled(
        abi::__cxa_demangle(name, nullptr, nullptr, &status), &std::free);
    if (status != 0 || demangled == nullptr)
        return name;
    return std::string("class ") + demangled.get();
}

} // namespace OrnUtil
