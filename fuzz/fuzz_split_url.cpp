// Arbitrary bytes as a URL: the parts must come from the URL, and a URL without "://" must leave
// every output alone.
#include <OrnUtil/System.h>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string url(reinterpret_cast<const char*>(data), size);
    const std::string untouched = "\x01untouched";
    std::string scheme = untouched, host = untouched, path = untouched, file = untouched;
    const bool split = OrnUtil::SplitURL(url, scheme, host, path, file);
    const size_t separator = url.find("://");
    if (split != (separator != std::string::npos))
        std::abort();
    if (!split) {
        if (scheme != untouched || host != untouched || path != untouched || file != untouched)
            std::abort();
        return 0;
    }
    if (scheme.size() != separator + 3 || scheme.compare(separator, 3, "://") != 0)
        std::abort();
    if (file != untouched && url.compare(url.size() - file.size(), file.size(), file) != 0)
        std::abort();
    if ((!host.empty() && host.back() != '/') || (!path.empty() && path.back() != '/'))
        std::abort();
    return 0;
}
