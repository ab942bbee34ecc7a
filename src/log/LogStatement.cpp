#include "log/LogStatement.h"

#include "log/LineBuffer.h"
#include "log/ThreadScratch.h"
#include "platform/Thread.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <unordered_map>

namespace OrnUtil::internal {

namespace {

// A statement's prefix never changes for one thread and one class (or source file), and demangling
// and formatting it costs more than the rest of the line: each thread keeps the prefixes it has
// written, keyed by addresses (hashing the texts would cost as much again). The function text is a
// literal (the macros see to it), so its address stands for it.
struct Site {
    const void* source; // the type_info of the class, or the file name
    const char* function;
    int line;
    bool operator==(const Site& other) const {
        return source == other.source && function == other.function && line == other.line;
    }
};

struct SiteHash {
    size_t operator()(const Site& site) const {
        const std::hash<const void*> hash;
        return hash(site.source) ^ (hash(site.function) << 1) ^ static_cast<size_t>(site.line);
    }
};

struct Prefix {
    uint32_t thread; // 0 for a new entry; a forked child's thread has a new identifier
    std::string text;
};

using Prefixes = std::unordered_map<Site, Prefix, SiteHash>;

// "<head><line>:<function>:" where the head is "<thread>:<class>:" or "<file>:".
template <typename Head>
std::ostream& WritePrefix(std::ostream& line, const Site& site, Head head) {
    const uint32_t thread = platform::CurrentThreadId();
    const auto text = [&] {
        return head(thread) + std::to_string(site.line) + ':' + site.function + ':';
    };
    Prefixes* prefixes = ThreadScratch<Prefixes>();
    if (prefixes == nullptr) {
        const std::string uncached = text();
        LineBuffer::Append(line, uncached.data(), uncached.size());
        return line;
    }
    Prefix& prefix = (*prefixes)[site];
    if (prefix.thread != thread)
        prefix = {thread, text()};
    LineBuffer::Append(line, prefix.text.data(), prefix.text.size());
    return line;
}

std::string Hex(uint32_t value) {
    char digits[16];
    return std::string(digits,
                       static_cast<size_t>(std::snprintf(digits, sizeof digits, "%x", value)));
}

} // namespace

std::ostream& LogPrefix(std::ostream& line, const std::type_info& type, int sourceLine,
                        const char* function) {
    return WritePrefix(line, {&type, function, sourceLine}, [&type](uint32_t thread) {
        return Hex(thread) + ':' + className(type.name()) + ':';
    });
}

std::ostream& LogFilePrefix(std::ostream& line, const char* file, int sourceLine,
                            const char* function) {
    return WritePrefix(line, {file, function, sourceLine}, [file](uint32_t) {
        const char* slash = std::strrchr(file, '/');
        return std::string(slash != nullptr ? slash + 1 : file) + ':';
    });
}

} // namespace OrnUtil::internal
