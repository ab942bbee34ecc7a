// Arbitrary delimiters and text: the tokens and delimiters must rebuild the text up to its first
// NUL, and both forms must agree for one delimiter.
#include "FuzzSupport.h"

#include <OrnUtil/System.h>
#include <algorithm>
#include <set>

using fuzz::Require;

FUZZ_TARGET(input) {
    if (input.empty())
        return;
    const size_t count =
        std::min<size_t>(static_cast<unsigned char>(input[0]) % 4, input.size() - 1);
    const std::set<char> delimiters(input.begin() + 1,
                                    input.begin() + 1 + static_cast<long>(count));
    const std::string text = input.substr(1 + count);
    const std::vector<std::string> tokens = OrnUtil::SplitString(text, delimiters);

    const std::string visible(text.c_str());
    size_t delimiterCount = 0;
    for (char c : visible)
        delimiterCount += delimiters.count(c);
    Require(tokens.size() == delimiterCount + 1);
    size_t at = 0;
    for (size_t i = 0; i < tokens.size(); ++i) {
        Require(visible.compare(at, tokens[i].size(), tokens[i]) == 0);
        at += tokens[i].size();
        Require(i + 1 == tokens.size() || delimiters.count(visible[at++]) != 0);
    }
    Require(at == visible.size());
    Require(count != 1 || OrnUtil::SplitString(text, input[1]) == tokens);
}
