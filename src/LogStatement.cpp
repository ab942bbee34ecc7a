#include "LogStatement.h"

#include "platform/Thread.h"

#include <cstring>
#include <string>
#include <typeindex>
#include <unordered_map>

namespace OrnUtil::internal {

namespace {

// Demangling allocates and costs more than the rest of the prefix; each thread keeps the texts of
// the classes it has logged from.
const std::string& CachedClassName(const std::type_info& type) {
    thread_local std::unordered_map<std::type_index, std::string> names;
    auto found = names.find(type);
    if (found == names.end())
        found = names.emplace(type, className(type.name())).first;
    return found->second;
}

} // namespace

std::ostream& LogPrefix(std::ostream& line, const std::type_info& type, int sourceLine,
                        const char* function) {
    line << std::hex << platform::CurrentThreadId() << std::dec << ':' << CachedClassName(type)
         << ':' << sourceLine << ':' << function << ':';
    return line;
}

std::ostream& LogFilePrefix(std::ostream& line, const char* file, int sourceLine,
                            const char* function) {
    const char* slash = std::strrchr(file, '/');
    line << (slash != nullptr ? slash + 1 : file) << ':' << sourceLine << ':' << function << ':';
    return line;
}

} // namespace OrnUtil::internal
