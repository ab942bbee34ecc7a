// Arbitrary bytes as a URL: the parts must come from the URL, and a URL without "://" must leave
// every output alone.
#include "FuzzSupport.h"

#include <OrnUtil/System.h>

using fuzz::Require;

FUZZ_TARGET(url) {
    const std::string untouched = "\x01untouched";
    std::string scheme = untouched, host = untouched, path = untouched, file = untouched;
    const bool split = OrnUtil::SplitURL(url, scheme, host, path, file);
    const size_t separator = url.find("://");
    Require(split == (separator != std::string::npos));
    if (!split) {
        Require(scheme == untouched && host == untouched && path == untouched && file == untouched);
        return;
    }
    Require(scheme.size() == separator + 3 && scheme.compare(separator, 3, "://") == 0);
    Require(file == untouched || url.compare(url.size() - file.size(), file.size(), file) == 0);
    Require((host.empty() || host.back() == '/') && (path.empty() || path.back() == '/'));
}
