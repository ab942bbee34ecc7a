// The pieces of a URL that the proxy code reads: its scheme and the host part of its authority.
//
//   SplitScheme("HTTP://u:p@Host:80/x?q", scheme, rest)  -> "HTTP" and "u:p@Host:80/x?q"
//   AuthorityOf("u:p@Host:80/x?q")                       -> "Host:80"
#pragma once

#include <string>
#include <string_view>

namespace OrnUtil::internal {

// True when the URL holds "://": `scheme` is the text before it and `rest` the text behind it.
// Without it, `rest` is the whole text and `scheme` empty.
bool SplitScheme(std::string_view url, std::string_view& scheme, std::string_view& rest);

// The authority at the start of what follows "://", up to the first "/", "?" or "#", without the
// credentials in front of its last "@".
std::string_view AuthorityOf(std::string_view rest);

// "file://" + `location` for a local path (one that starts with "/"); anything else unchanged.
std::string FileUrlOf(std::string_view location);

} // namespace OrnUtil::internal
