// The command line of a child process, split into the program and its arguments as a Windows
// program's start-up code splits it, so that callers written for Windows quote as they always did.
#pragma once

#include <string>
#include <vector>

namespace OrnUtil {

// Blanks (space, tab) separate arguments; double quotes group, and are removed; 2n backslashes
// before a quote give n backslashes and the quote groups, 2n+1 give n backslashes and a literal
// quote; other backslashes are literal; within quotes, "" gives a literal quote and ends the group.
// The first token, the program, ends at the next blank, or, when it starts with a quote, at the
// next quote: it has no escapes. An empty line gives no tokens.
std::vector<std::string> SplitCommandLine(const std::string& line);

} // namespace OrnUtil
