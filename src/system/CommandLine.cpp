#include "system/CommandLine.h"

namespace OrnUtil {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

} // namespace

std::vector<std::string> SplitCommandLine(const std::string& line) {
    std::vector<std::string> tokens;
    const size_t size = line.size();
    size_t at = 0;
    if (size == 0)
        return tokens;

    std::string program;
    if (line[0] == '"') {
        const size_t close = line.find('"', 1);
        program = line.substr(1, close == std::string::npos ? std::string::npos : close - 1);
        at = close == std::string::npos ? size : close + 1;
    } else {
        while (at < size && !IsBlank(line[at]))
            ++at;
        program = line.substr(0, at);
    }
    tokens.push_back(program);

    for (;;) {
        while (at < size && IsBlank(line[at]))
            ++at;
        if (at == size)
            return tokens;
        std::string token;
        bool quoted = false;
        while (at < size && (quoted || !IsBlank(line[at]))) {
            if (line[at] == '\\') {
                size_t backslashes = 0;
                while (at < size && line[at] == '\\') {
                    ++backslashes;
                    ++at;
                }
                if (at < size && line[at] == '"') {
                    token.append(backslashes / 2, '\\');
                    if (backslashes % 2 == 1) {
                        token += '"';
                        ++at;
                    }
                } else {
                    token.append(backslashes, '\\');
                }
            } else if (line[at] == '"') {
                ++at;
                // Inside quotes, a doubled quote is a literal one that also ends the group.
                if (quoted && at < size && line[at] == '"') {
                    token += '"';
                    ++at;
                }
                quoted = !quoted;
            } else {
                token += line[at++];
            }
        }
        tokens.push_back(token);
    }
}

} // namespace OrnUtil
