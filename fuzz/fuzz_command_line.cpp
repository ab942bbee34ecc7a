// Arbitrary bytes as a child's command line; and arguments quoted as a Windows caller quotes them
// must come back from the splitter exactly.
#include "FuzzSupport.h"
#include "system/CommandLine.h"

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

FUZZ_TARGET(input) {
    fuzz::Require(OrnUtil::SplitCommandLine(input).empty() == input.empty());

    // The input read as arguments separated by NUL bytes.
    std::vector<std::string> arguments{"prog"};
    std::string line = "prog";
    for (const std::string& argument : OrnUtil::internal::SplitList(input, '\0')) {
        arguments.push_back(argument);
        line += " " + Quote(argument);
    }
    fuzz::Require(OrnUtil::SplitCommandLine(line) == arguments);
}
