#include "proxy/linux/Wpad.h"

#include <algorithm>
#include <cctype>
#include <netinet/in.h>
#include <resolv.h>
#include <unistd.h>

namespace OrnUtil::proxy {

namespace {

bool IsDomainName(const std::string& name) {
    return !name.empty() && name.size() <= 253 && name.front() != '.' && name.back() != '.' &&
           name.find("..") == std::string::npos &&
           std::all_of(name.begin(), name.end(), [](unsigned char c) {
               return std::isalnum(c) != 0 || c == '-' || c == '.';
           });
}

void AddDomainAndParents(std::string domain, std::vector<std::string>& candidates) {
    while (!domain.empty() && domain.back() == '.')
        domain.pop_back();
    if (!IsDomainName(domain))
        return;
    for (size_t dot = 0; domain.find('.', dot) != std::string::npos;
         dot = domain.find('.', dot) + 1) {
        const std::string url = "http://wpad." + domain.substr(dot) + "/wpad.dat";
        if (std::find(candidates.begin(), candidates.end(), url) == candidates.end())
            candidates.push_back(url);
    }
}

} // namespace

std::vector<std::string> WpadCandidates(const std::string& hostName,
                                        const std::vector<std::string>& searchDomains) {
    std::vector<std::string> candidates{"http://wpad/wpad.dat"};
    const size_t dot = hostName.find('.');
    if (dot != std::string::npos) {
        AddDomainAndParents(hostName.substr(dot + 1), candidates);
        return candidates;
    }
    for (const auto& domain : searchDomains)
        AddDomainAndParents(domain, candidates);
    return candidates;
}

std::string SystemHostName() {
    char name[256] = "";
    if (gethostname(name, sizeof name - 1) != 0)
        return std::string();
    return name;
}

std::vector<std::string> SystemSearchDomains() {
    std::vector<std::string> domains;
    struct __res_state state {};
    if (res_ninit(&state) != 0)
        return domains;
    for (const char* const* domain = state.dnsrch; *domain != nullptr; ++domain)
        domains.emplace_back(*domain);
    res_nclose(&state);
    return domains;
}

} // namespace OrnUtil::proxy
