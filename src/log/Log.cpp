#include "internal/Digits.h"
#include "log/LevelFile.h"
#include "log/LineBuffer.h"
#include "log/TableGuard.h"
#include "log/ThreadScratch.h"
#include "platform/Clock.h"
#include "platform/Descriptors.h"
#include "platform/Files.h"

#include <OrnUtil/Log.h>
#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <iostream>
#include <memory>
#include <stdio_ext.h>
#include <vector>

namespace OrnUtil {

namespace {

// What every subsystem reports until the first Init maps a table.
int32_t unmappedLevels[CLog::COUNT] = {WARN, WARN, WARN, WARN, WARN, WARN, WARN, WARN};

bool InRange(int32_t value) {
    return static_cast<uint32_t>(value) < static_cast<uint32_t>(CLog::COUNT);
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

// A derived class may name a stream's words (iword, pword) and callbacks; libstdc++ keeps the first
// eight words inside the stream and the rest in an array it allocates on demand.
struct StreamExtras : std::ios_base {
    static bool Present(const std::ios_base& stream) {
        const auto& local = stream.*&StreamExtras::_M_local_word;
        if (stream.*&StreamExtras::_M_callbacks != nullptr ||
            stream.*&StreamExtras::_M_word != local)
            return true;
        for (const auto& word : local)
            if (word._M_iword != 0 || word._M_pword != nullptr)
                return true;
        return false;
    }
};

// Hands the stream back as a new one would be, so that nothing a line set on it reaches a later
// line. Its format is put back; a stream given a locale, words or callbacks of its own, or another
// buffer, is dropped, since only building a new one clears those.
void ReturnStream(std::ostringstream& stream) {
    StreamPool* pool = internal::ThreadScratch<StreamPool>();
    if (pool == nullptr || pool->idle.size() >= StreamPool::KEEP ||
        stream.std::ios::rdbuf() != stream.rdbuf() || stream.getloc() != std::locale() ||
        StreamExtras::Present(stream)) {
        delete &stream;
        return;
    }
    stream.str(std::string());
    stream.exceptions(std::ios_base::goodbit);
    stream.clear();
    stream.flags(std::ios_base::dec | std::ios_base::skipws);
    stream.width(0);
    stream.precision(6);
    stream.fill(' ');
    stream.tie(nullptr);
    pool->idle.emplace_back(&stream);
}

// One write(2) of the whole line after what the stream already holds: the kernel never splits an
// append of one call to a file, so the lines of other threads and processes never tear it, however
// long it is. A stream without a descriptor (fmemopen, fopencookie) takes the line itself. Like the
// "%s" write it stands for, it stops at an embedded NUL.
void WriteLine(std::streambuf& buffer, FILE* pipe) {
    auto [text, size] = internal::LineBuffer::Text(buffer);
    size = strnlen(text, size);
    if (__fpending(pipe) != 0)
        std::fflush(pipe);
    const int fd = fileno(pipe);
    if (fd >= 0) {
        // A log line that cannot be written has nowhere to be reported. No SIGPIPE guard: it would
        // cost two system calls a line, and the stream's own writes raise it too.
        platform::WriteAll(fd, text, size, platform::WritePlain);
        return;
    }
    std::fwrite(text, 1, size, pipe);
    std::fflush(pipe);
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
    // A failed stream takes the newline with it; writing to it would set failbit, and a stream
    // whose exception mask holds failbit would then throw out of the destructor.
    if (m_Stream.good())
        internal::LineBuffer::Append(m_Stream, "\n", 1);
    // A subsystem outside the enumeration, or one without a stream, drops the line.
    FILE* pipe =
        InRange(m_SubSys) ? __atomic_load_n(&m_LogPipe[m_SubSys], __ATOMIC_ACQUIRE) : nullptr;
    if (pipe != nullptr)
        WriteLine(*m_Stream.rdbuf(), pipe);
    ReturnStream(m_Stream);
}

std::ostringstream& CLog::Get(TLogLevel level, TLogSubSys) {
    const platform::TimeOfDay now = platform::LocalTimeOfDay();
    char header[32] = "00:00:00.000";
    internal::PutTwoDigits(header, now.hour);
    internal::PutTwoDigits(header + 3, now.minute);
    internal::PutTwoDigits(header + 6, now.second);
    header[9] = static_cast<char>('0' + now.millisecond / 100);
    internal::PutTwoDigits(header + 10, now.millisecond % 100);
    const char* levelText = InRange(level) ? m_LevelStr[level] : "Invalid Level";
    const size_t levelSize = InRange(level) ? 8 : 13;
    std::memcpy(header + 12, levelText, levelSize);
    internal::LineBuffer::Append(m_Stream, header, 12 + levelSize);
    return m_Stream;
}

std::ostringstream& CLog::QGet(TLogLevel, TLogSubSys) {
    return m_Stream;
}

// The table keeps the address of its first mapping for good: Shutdown, and a file cut short under
// it, put a private page of WARN words in its place, and the next Init maps the file there again.
// A thread that loaded the address before reads WARN, never unmapped memory.
bool CLog::Init(std::string) {
    if (__atomic_load_n(&m_View, __ATOMIC_ACQUIRE) != nullptr)
        return true;
    Shutdown(); // a file left open by an Init whose mapping failed, or whose table was lost
    int32_t* page = m_Level == unmappedLevels ? nullptr : m_Level;
    internal::LevelFileView view = internal::OpenLevelFile(WARN, page);
    m_fd = view.fd;
    if (view.fd < 0) {
        std::cerr << "CLog failed to initialise - " << std::strerror(view.error) << std::endl;
        return false;
    }
    if (view.table == nullptr)
        return false;
    internal::GuardLevelTable(view.table, &m_View);
    if (page == nullptr)
        m_Level = view.table;
    __atomic_store_n(&m_View, view.table, __ATOMIC_RELEASE);
    return true;
}

void CLog::Shutdown() {
    if (__atomic_exchange_n(&m_View, nullptr, __ATOMIC_ACQ_REL) != nullptr)
        internal::MapPrivateTable(m_Level, WARN);
    platform::CloseDescriptor(m_fd);
    m_fd = -1;
}

void CLog::Clear() {
    for (FILE*& slot : m_LogPipe) {
        FILE* pipe = __atomic_load_n(&slot, __ATOMIC_ACQUIRE);
        if (pipe != nullptr)
            platform::TruncateStream(pipe);
    }
}

bool CLog::ReportingLevel(TLogSubSys subsys, TLogLevel level) {
    if (__atomic_load_n(&m_View, __ATOMIC_ACQUIRE) == nullptr || !InRange(subsys) ||
        !InRange(level))
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
