// The library's one way to log: a statement to APP whose level is tested before anything is built.
//
//   ORN_LOG(WARN, "OrnUtil::CCommTCP::Send") << "WSASend: " << error;
//
// writes "hh:mm:ss.mmm WARN   <thread>:class OrnUtil::CCommTCP:<line>:OrnUtil::CCommTCP::Send:
// WSASend: 32" to APP's stream (stderr unless the application set another). It must stand inside a
// member function: the class text is the dynamic type of *this. ORN_LOG_STATIC names the class for
// a static member function, which has no *this. ORN_LOG_FILE writes the source file's name in place
// of the thread and the class. The function text must be a literal: its address keys each thread's
// cache of prefixes.
#pragma once

#include <OrnUtil/Log.h>
#include <ostream>
#include <typeinfo>

namespace OrnUtil::internal {

// Streams "<thread>:<class>:<line>:<function>:" after the header and returns the stream for the
// message.
std::ostream& LogPrefix(std::ostream& line, const std::type_info& type, int sourceLine,
                        const char* function);

// Streams "<file>:<line>:<function>:", the file without its directory.
std::ostream& LogFilePrefix(std::ostream& line, const char* file, int sourceLine,
                            const char* function);

} // namespace OrnUtil::internal

// The dangling-else shape lets the statement end with the caller's own "<< ...;" and keeps an
// enclosing if/else intact.
#define ORN_LOG(level, function)                                                                   \
    if (__builtin_expect((level) > ::OrnUtil::CLog::ReportingLevel(APP), 1)) {                     \
    } else                                                                                         \
        ::OrnUtil::internal::LogPrefix(::OrnUtil::CLog(APP, stderr).Get((level), APP),             \
                                       typeid(*this), __LINE__, function "")

#define ORN_LOG_STATIC(level, Class, function)                                                     \
    if ((level) > ::OrnUtil::CLog::ReportingLevel(APP)) {                                          \
    } else                                                                                         \
        ::OrnUtil::internal::LogPrefix(::OrnUtil::CLog(APP, stderr).Get((level), APP),             \
                                       typeid(Class), __LINE__, function "")

#define ORN_LOG_FILE(level, function)                                                              \
    if (__builtin_expect((level) > ::OrnUtil::CLog::ReportingLevel(APP), 1)) {                     \
    } else                                                                                         \
        ::OrnUtil::internal::LogFilePrefix(::OrnUtil::CLog(APP, stderr).Get((level), APP),         \
                                           __FILE__, __LINE__, function "")
