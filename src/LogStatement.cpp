#include "LogStatement.h"

#include "platform/Thread.h"

#include <cstring>
#include <string>
#include <unordered_map>

namespace OrnUtil::internal {

namespace {

// Demangling allocates and costs more than the rest of the prefix; each thread keeps the texts of
// the classes it has logged from.
const std::string& CachedClassName(const std::type_info& type) {
    // Keyed by address: hashing the mangled name would cost as much as the rest of the prefix.
    thread_local std::unordered_map<const std::type_info*, std::string> names;
    auto found = names.find(&type);
    if (found == names.end())
        found = names.emplace(&type, className(type.name())).first;
    return found->second;
}

// The prefix is assembled in a thread's scratch text and handed to the stream in one write: the
// stream's own number formatting costs more than the rest of the line.
std::ostream& Prefixed(std::ostream& line, const std::string& text) {
    return line.write(text.data(), static_cast<std::streamsize>(text.size()));
}

void AppendNumber(std::string& text, unsigned long value, unsigned base) {
    char digits[24];
    char* end = digits + sizeof digits;
    char* begin = end;
    do {
        *--begin = "0123456789abcdef"[value % base];
        value /= base;
    } while (value != 0);
    text.append(begin, end);
}

void AppendLineAndFunction(std::string& text, int sourceLine, const char* function) {
    text += ':';
    AppendNumber(text, static_cast<unsigned long>(sourceLine), 10);
    text += ':';
    text += function;
    text += ':';
}

} // namespace

std::ostream& LogPrefix(std::ostream& line, const std::type_info& type, int sourceLine,
                        const char* function) {
    thread_local std::string text;
    text.clear();
    AppendNumber(text, platform::CurrentThreadId(), 16);
    text += ':';
    text += CachedClassName(type);
    AppendLineAndFunction(text, sourceLine, function);
    return Prefixed(line, text);
}

std::ostream& LogFilePrefix(std::ostream& line, const char* file, int sourceLine,
                            const char* function) {
    thread_local std::string text;
    const char* slash = std::strrchr(file, '/');
    text = slash != nullptr ? slash + 1 : file;
    AppendLineAndFunction(text, sourceLine, function);
    return Prefixed(line, text);
}

} // namespace OrnUtil::internal
