// Arbitrary bytes as a child's command line; and arguments quoted as a Windows caller quotes them
// must come back from the splitter exactly.
#include "system/CommandLine.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// The quoting a careful Windows caller applies to one argument.
std::string Quote(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos)
        return argument;
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        quoted += c;
        backslashes = 0;
    }
    quoted.append(2 * backslashes, '\\');
    return quoted + "\"";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> raw = OrnUtil::SplitCommandLine(text);
    if (raw.empty() != text.empty())
        std::abort();

    // The input read as arguments separated by NUL bytes.
    std::vector<std::string> arguments{"prog"};
    std::string line = "prog";
    for (size_t start = 0; start <= size;) {
        size_t end = text.find('\0', start);
        if (end == std::string::npos)
            end = size;
        arguments.push_back(text.substr(start, end - start));
        line += " " + Quote(arguments.back());
        start = end + 1;
    }
    if (OrnUtil::SplitCommandLine(line) != arguments)
        std::abort();
    return 0;
}
