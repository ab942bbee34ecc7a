#include "platform/Environment.h"

#include <OrnUtil/System.h>

namespace OrnUtil {

std::string ExpandEnvStrings(const std::string& text) {
    const std::string input(text.c_str());
    std::string result;
    std::string value;
    size_t at = 0;
    while (at < input.size()) {
        const size_t open = input.find('%', at);
        const size_t close = open == std::string::npos ? open : input.find('%', open + 1);
        if (close == std::string::npos) {
            result.append(input, at, std::string::npos);
            break;
        }
        result.append(input, at, open - at);
        if (platform::GetVariable(input.substr(open + 1, close - open - 1), value))
            result += value;
        else
            result.append(input, open, close + 1 - open);
        at = close + 1;
    }
    return result;
}

} // namespace OrnUtil
