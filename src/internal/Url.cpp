#include "internal/Url.h"

namespace OrnUtil::internal {

bool SplitScheme(std::string_view url, std::string_view& scheme, std::string_view& rest) {
    const size_t separator = url.find("://");
    if (separator == std::string_view::npos) {
        scheme = {};
        rest = url;
        return false;
    }
    scheme = url.substr(0, separator);
    rest = url.substr(separator + 3);
    return true;
}

std::string_view AuthorityOf(std::string_view rest) {
    std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
    const size_t at = authority.rfind('@');
    if (at != std::string_view::npos)
        authority.remove_prefix(at + 1);
    return authority;
}

std::string FileUrlOf(std::string_view location) {
    if (!location.empty() && location.front() == '/')
        return "file://" + std::string(location);
    return std::string(location);
}

} // namespace OrnUtil::internal
