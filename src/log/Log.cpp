#include "log/LevelFile.h"
#include "log/ThreadScratch.h"
#include "platform/Clock.h"
#include "platform/Files.h"

#include <OrnUtil/Log.h>
#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <iostream>
#include <memory>
#include <vector>

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

// Building an ostringstream costs more than formatting a line (its locale facets are looked up one
// by one), so each thread keeps the streams of its finished lines for its next ones. Several may be
// out at once: a message piece can itself log.
struct StreamPool {
    static constexpr size_t KEEP = 4;
    std::vector<std::unique_ptr<std::ostringstream>> idle;
};

std::ostringstream& BorrowStream() {
    StreamPool* pool = internal::ThreadScratch<StreamPool>();
    if (pool == nullptr || pool->idle.empty())
        return *new std::ostringstream;
    std::ostringstream* stream = pool->idle.back().release();
    pool->idle.pop_back();
    return *stream;
}

// Hands the stream back as a new one would be: empty, default format, default locale.
void ReturnStream(std::ostringstream& stream) {
    StreamPool* pool = internal::ThreadScratch<StreamPool>();
    if (pool == nullptr || pool->idle.size() >= StreamPool::KEEP) {
        delete &stream;
        return;
    }
    stream.str(std::string());
    stream.clear();
    stream.flags(std::ios_base::dec | std::ios_base::skipws);
    stream.width(0);
    stream.precision(6);
    stream.fill(' ');
    if (stream.getloc() != std::locale())
        stream.imbue(std::locale());
    pool->idle.emplace_back(&stream);
}

// Reads the text of a string buffer in place: str() would copy every line once more.
struct LineText : std::stringbuf {
    static std::pair<const char*, size_t> Of(std::stringbuf& buffer) {
        const char* begin = (buffer.*&LineText::pbase)();
        const char* end = (buffer.*&LineText::pptr)();
        return {begin, static_cast<size_t>(end - begin)};
    }
};

// One call under the stream's lock keeps lines of different threads whole. Like the "%s" write it
// stands for, it stops at an embedded NUL.
void WriteLine(std::stringbuf& buffer, FILE* pipe) {
    const auto [text, size] = LineText::Of(buffer);
    std::fwrite(text, 1, strnlen(text, size), pipe);
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
CLog::CLog(TLogSubSys subsys, FILE* pipe) : m_Stream(BorrowStream()), m_SubSys(subsys) {
    FILE* none = nullptr;
    if (InRange(subsys))
        __atomic_compare_exchange_n(&m_LogPipe[subsys], &none, pipe, false, __ATOMIC_ACQ_REL,
                                    __ATOMIC_ACQUIRE);
}

CLog::~CLog() {
    m_Stream.put('\n');
    // A subsystem outside the enumeration, or one without a stream, drops the line.
    FILE* pipe =
        InRange(m_SubSys) ? __atomic_load_n(&m_LogPipe[m_SubSys], __ATOMIC_ACQUIRE) : nullptr;
    if (pipe != nullptr) {
        WriteLine(*m_Stream.rdbuf(), pipe);
        std::fflush(pipe);
    }
    ReturnStream(m_Stream);
}

std::ostringstream& CLog::Get(TLogLevel level, TLogSubSys) {
    const platform::TimeOfDay now = platform::LocalTimeOfDay();
    char header[32] = "00:00:00.000";
    PutTwoDigits(header, now.hour);
    PutTwoDigits(header + 3, now.minute);
    PutTwoDigits(header + 6, now.second);
    header[9] = static_cast<char>('0' + now.millisecond / 100);
    PutTwoDigits(header + 10, now.millisecond % 100);
    const char* levelText = InRange(level) ? m_LevelStr[level] : "Invalid Level";
    std::strcpy(header + 12, levelText);
    m_Stream.write(header, static_cast<std::streamsize>(std::strlen(header)));
    return m_Stream;
}

std::ostringstream& CLog::QGet(TLogLevel, TLogSubSys) {
    return m_Stream;
}

bool CLog::Init(std::string) {
    if (m_View != nullptr)
        return true;
    Shutdown(); // a file left open by an Init whose mapping failed
    internal::LevelFileView view = internal::OpenLevelFile(WARN);
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
    internal::LevelFileView view;
    view.fd = m_fd;
    view.table = static_cast<int32_t*>(m_View);
    m_Level = unmappedLevels;
    m_View = nullptr;
    m_fd = -1;
    internal::CloseLevelFile(view);
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
