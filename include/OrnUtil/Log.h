/// \file
/// Logging with per-subsystem levels shared by every process of the family, a hex-dump streamer,
/// and the library's identity.
///
///     OrnUtil::CLog::Init("");
///     if (INFO <= OrnUtil::CLog::ReportingLevel(APP))
///         OrnUtil::CLog().Get(INFO, APP) << "connected to " << host;
#pragma once

#include <OrnUtil/Export.h>
#include <cstdint>
#include <cstdio>
#include <iosfwd>
#include <sstream>
#include <string>

/// Log levels, most important first. A message of level L is shown when L <= the subsystem's level.
enum TLogLevel : int32_t { ERROR, WARN, NOTICE, INFO, DEBUG, DEBUG1, DEBUG2, DEBUG3 };

/// Log subsystems. The library itself logs to APP; the others belong to the applications.
enum TLogSubSys : int32_t { APP, WEB, OTXLOG, OTX, ODX, PDU, FLASH, TEST };

namespace OrnUtil {

/// One log line: construct, stream the message into Get(), let it go out of scope. The destructor
/// writes the line and a newline to the subsystem's stream in one write, then flushes it.
class ORNUTILS_API CLog {
public:
    static constexpr int32_t COUNT = 8; ///< levels, and subsystems

    /// Makes `pipe` the subsystem's stream unless it already has one.
    explicit CLog(TLogSubSys subsys = APP, FILE* pipe = stderr);
    virtual ~CLog();
    CLog(const CLog&) = delete;
    CLog& operator=(const CLog&) = delete;

    /// Writes the header ("hh:mm:ss.mmm" local time and the 8-character level text) and returns the
    /// stream for the message. `subsys` does not enter the line.
    std::ostringstream& Get(TLogLevel level, TLogSubSys subsys);
    /// Returns the stream without a header.
    std::ostringstream& QGet(TLogLevel level, TLogSubSys subsys);

    /// Opens or creates the shared level file and maps its table; true when a table is mapped. The
    /// argument is not used. On failure prints "CLog failed to initialise - <reason>" to stderr.
    static bool Init(std::string unused);
    /// Unmaps the table and closes the file; levels fall back to WARN until the next Init.
    static void Shutdown();
    /// Truncates the file under every subsystem stream that is set (ignored for consoles and
    /// pipes).
    static void Clear();

    /// The subsystem's level from the shared table: one load and no call. WARN while unmapped or
    /// for a subsystem outside the enumeration; the table may hold any word another process wrote.
    static TLogLevel ReportingLevel(TLogSubSys subsys) {
        if (static_cast<uint32_t>(subsys) >= static_cast<uint32_t>(COUNT))
            return WARN;
        return static_cast<TLogLevel>(__atomic_load_n(&m_Level[subsys], __ATOMIC_RELAXED));
    }
    /// Stores the level in the shared table, DEBUG1..DEBUG3 as DEBUG. False while unmapped or for a
    /// subsystem or level outside its enumeration.
    static bool ReportingLevel(TLogSubSys subsys, TLogLevel level);

    /// Replaces the subsystem's stream and returns the previous one (null if none). The streams
    /// stay the caller's: the library never closes them.
    static FILE* SetPipe(TLogSubSys subsys, FILE* pipe);

    /// " WARN   " for WARN (8 characters); "Invalid Level" outside the enumeration.
    static std::string LevelToString(TLogLevel level);
    /// "FLASH" for FLASH; "Invalid SubSys" outside the enumeration.
    static std::string SubSysToString(TLogSubSys subsys);
    /// The first level whose padded text contains `text` ("ARN" gives WARN, "" gives ERROR); else
    /// logs a warning and gives DEBUG.
    static TLogLevel LevelFromString(const std::string& text);
    /// The subsystem named exactly `text`; else logs a warning and gives APP.
    static TLogSubSys SubSysFromString(const std::string& text);

private:
    std::ostringstream& m_Stream; // lent by the thread's pool of line streams
    TLogSubSys m_SubSys;

    // A table of WARN words until the first Init; from then on the table's page, which never goes
    // away: while the file is not mapped there, it holds WARN words. The inline level test thus
    // needs no branch, and a thread racing Shutdown never reads unmapped memory.
    static int32_t* m_Level;
    static void* m_View; // the mapped view; null while unmapped, or once the file was cut short
    static int m_fd;
    static const char* const m_LevelStr[COUNT];
    static const char* const m_SubSysStr[COUNT];
    static FILE* m_LogPipe[COUNT];
};

/// "class Namespace::Name" for a run-time type name as typeid(...).name() gives it; a name that is
/// not a mangled type name comes back unchanged.
ORNUTILS_API std::string className(const char* name);

/// A classic hex dump (offset, sixteen byte cells, the bytes as characters) to stream into a log
/// line: each line starts with a newline, so the dump appears below the line's header.
///
///     OrnUtil::CLog().Get(DEBUG3, APP) << "R: " << OrnUtil::CHex(data, size);
class ORNUTILS_API CHex {
public:
    /// The dump of `length` bytes at `data`.
    CHex(const void* data, unsigned int length);
    ~CHex();
    /// Appends the dump of `length` bytes, offsets starting at 0000 again.
    void Stream(const void* data, unsigned int length);
    /// Writes every line streamed so far to `os`.
    std::ostream& Get(std::ostream& os) const;

private:
    static const unsigned int HOFF = 10;               // column of the first byte cell
    static const unsigned int WIDTH = 16;              // bytes per line
    static const unsigned int AOFF = HOFF + 3 * WIDTH; // column of the separator
    static const unsigned int SEP = 3;                 // width of the separator

    // The last dump's bytes wait, and are formatted as they are written out: here when they are
    // few, in m_Bytes when not.
    unsigned char m_Small[64];
    unsigned int m_Length = 0; // of the last dump
    std::string m_Bytes;
    std::string m_Text; // the lines of every dump but the last
};

/// Writes the dump to `os`, as hex.Get(os) does.
ORNUTILS_API std::ostream& operator<<(std::ostream& os, const CHex& hex);

/// The library's identity: "Utils", "4.0.0.51" and its build date text.
///@{
ORNUTILS_API std::string& GetName();
ORNUTILS_API std::string& GetVersion();
ORNUTILS_API std::string& GetDate();
///@}

} // namespace OrnUtil
