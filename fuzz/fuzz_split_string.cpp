// Arbitrary delimiters and text: the tokens and delimiters must rebuild the text up to its first
// NUL, and both forms must agree for one delimiter.
#include <OrnUtil/System.h>
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const size_t count = std::min<size_t>(data[0] % 4, size - 1);
    const std::set<char> delimiters(reinterpret_cast<const char*>(data) + 1,
                                    reinterpret_cast<const char*>(data) + 1 + count);
    const std::string text(reinterpret_cast<const char*>(data) + 1 + count, size - 1 - count);
    const std::vector<std::string> tokens = OrnUtil::SplitString(text, delimiters);

    const std::string visible(text.c_str());
    size_t delimiterCount = 0;
    for (char c : visible)
        delimiterCount += delimiters.count(c);
    if (tokens.size() != delimiterCount + 1)
        std::abort();
    size_t at = 0;
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (visible.compare(at, tokens[i].size(), tokens[i]) != 0)
            std::abort();
        at += tokens[i].size();
        if (i + 1 < tokens.size() && delimiters.count(visible[at++]) == 0)
            std::abort();
    }
    if (at != visible.size())
        std::abort();
    if (count == 1 && OrnUtil::SplitString(text, data[1]) != tokens)
        std::abort();
    return 0;
}
