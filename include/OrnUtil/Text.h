/// \file
/// Text encodings and dates: UTF-8 to and from other character sets (glibc's iconv), byte-order
/// marks at the start of a stream, and dates and durations written by a letter pattern.
///
///     std::vector<char> latin1;
///     OrnUtil::fromUTF8("ISO-8859-1", text.data(), int32_t(text.size()), latin1);
///     std::string stamp = OrnUtil::DateTime::FormatDate("yyyyMMdd-HHmmss", nowMs);
#pragma once

#include <OrnUtil/Export.h>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace UTF {

/// The Unicode byte-order marks that GetBOM recognises.
enum BOM : int32_t {
    BOM_NONE,    ///< none of the marks below
    BOM_UTF8,    ///< EF BB BF
    BOM_UTF16BE, ///< FE FF
    BOM_UTF16LE, ///< FF FE
    BOM_UTF32LE, ///< FF FE 00 00
    BOM_UTF32BE  ///< 00 00 FE FF
};

/// Reads the first four bytes of a stream that stands at its beginning and returns the mark they
/// start with; the stream is left just behind the mark (at 0 for BOM_NONE), in absolute positions.
/// A stream of fewer than four bytes ends up failed and unmoved, as its read came up short; the
/// marks that fit into the bytes read (UTF-8, UTF-16) are still reported. Never reports an error
/// itself: the stream's flags show a failed read or seek.
ORNUTILS_API BOM GetBOM(std::istream& stream);

} // namespace UTF

namespace OrnUtil {

/// Converts `len` bytes of UTF-8 at `src` into the character set `charset`, any name glibc's iconv
/// accepts (suffixes such as //TRANSLIT and //IGNORE included). True when iconv converted all of it
/// without a substitution. An unknown name, or a negative `len`, gives false and leaves `out` as it
/// was. Otherwise `out` is replaced by what was converted before a stop (invalid or truncated
/// input, or more than 4 output bytes per input byte). //TRANSLIT substitutions and //IGNORE skips
/// complete the text but give false. No closing shift sequence is written for stateful targets.
/// The text is converted straight into `out`, which is left with room for two bytes per input
/// byte (four for a text that needs more than two).
ORNUTILS_API bool fromUTF8(const std::string& charset, const char* src, int32_t len,
                           std::vector<char>& out);

/// Converts `len` bytes in the character set `charset` into UTF-8; results as for fromUTF8.
ORNUTILS_API bool toUTF8(const std::string& charset, const char* src, uint32_t len,
                         std::string& out);

/// Dates and durations by a letter pattern: runs of one letter stand for fields (yyyy year, MM
/// month, dd day, HH hour 0-23, hh hour 01-12, h hour 1-12, mm minute, ss second, SSS milliseconds,
/// EEEE weekday, MMMM month name, Z offset such as +0200, ...), text between single quotes is
/// literal and two single quotes give one. Runs and letters with no meaning stay as written.
/// Names (months, weekdays, AM/PM) follow the global C++ locale, English in the classic one.
///
/// Other text passes through the standard time conversions, so a "%" in it starts one ("'%j'" gives
/// the day of the year). A "%" that starts no ISO C conversion (a "%k", a "%-d", a "%" at the end)
/// is written as it stands.
///
/// Times are milliseconds since 1970-01-01T00:00:00 UTC from 0 to 32535215999999
/// (3000-12-31T23:59:59.999 UTC), the range the family's applications have always formatted;
/// outside it there is no date to write and the result is empty.
namespace DateTime {

/// The local time `t` (process time zone) written by `pattern`; an empty pattern stands for
/// "yyyy-MM-dd'T'HH:mm:ss'.'SSSZ" (2019-07-31T14:24:49.123+0200). Empty for a `t` out of range.
ORNUTILS_API std::string FormatDate(std::string pattern, int64_t t);

/// The length `t` in milliseconds written by `pattern` as a UTC clock time, with the date runs y,
/// yy, yyyy, M, MM, d and dd kept as letters; an empty pattern stands for
/// "'P'yyyy-MM-dd'T'HH:mm:ss'.'SSS" (3723004 gives Pyyyy-MM-ddT01:02:03.004). Empty for a negative
/// `t` or one out of range.
ORNUTILS_API std::string FormatDuration(std::string pattern, int64_t t);

} // namespace DateTime

} // namespace OrnUtil
