#include "internal/Text.h"

#include <OrnUtil/System.h>
#include <cstring>

namespace OrnUtil {

bool SplitFileName(const std::string& path, std::string& name, std::string& extension) {
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos) {
        name = path;
        return false;
    }
    name = path.substr(0, dot);
    extension = path.substr(dot + 1);
    return true;
}

std::vector<std::string> SplitString(const std::string& text, const std::set<char>& delimiters) {
    std::vector<std::string> tokens;
    const char* const begin = text.c_str();
    const char* const end = begin + std::strlen(begin);
    const char* start = begin;
    for (const char* at = begin; at != end; ++at) {
        if (delimiters.count(*at) != 0) {
            tokens.emplace_back(start, at);
            start = at + 1;
        }
    }
    tokens.emplace_back(start, end);
    return tokens;
}

std::vector<std::string> SplitString(const std::string& text, char delimiter) {
    return SplitString(text, std::set<char>{delimiter});
}

bool SplitURL(const std::string& url, std::string& scheme, std::string& host, std::string& path,
              std::string& file) {
    const size_t separator = url.find("://");
    if (separator == std::string::npos)
        return false;
    const size_t hostStart = separator + 3;
    scheme = internal::Lowered(url.substr(0, hostStart));

    const size_t firstSlash = url.find('/', hostStart);
    if (firstSlash == std::string::npos) {
        file = url.substr(hostStart);
    } else {
        host = url.substr(hostStart, firstSlash + 1 - hostStart);
        const size_t lastSlash = url.rfind('/');
        if (lastSlash > firstSlash + 1)
            path = url.substr(firstSlash + 1, lastSlash - firstSlash - 1);
        file = url.substr(lastSlash + 1);
    }
    // Outputs the URL did not assign keep the caller's text, and get the slash all the same.
    if (!host.empty() && host.back() != '/')
        host += '/';
    if (!path.empty() && path.back() != '/')
        path += '/';
    // A drive letter (file:///C:/dir/f.txt) belongs to the path, not to a host.
    if (!path.empty() && path.find(':') != std::string::npos)
        host.clear();
    return true;
}

} // namespace OrnUtil
