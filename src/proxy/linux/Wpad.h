// Where WPAD discovery looks for a script.
#pragma once

#include <string>
#include <vector>

namespace OrnUtil::proxy {

// "http://wpad/wpad.dat" first (the system resolver applies its search list to the bare name),
// then "http://wpad.<d>/wpad.dat" for the host's domain and each parent with at least two labels
// ("a.corp.example" gives wpad.a.corp.example and wpad.corp.example, never wpad.example). Where
// the host name carries no domain, the resolver's search domains take its place.
std::vector<std::string> WpadCandidates(const std::string& hostName,
                                        const std::vector<std::string>& searchDomains);

// This host's name and the resolver's search domains, as the system has them now.
std::string SystemHostName();
std::vector<std::string> SystemSearchDomains();

} // namespace OrnUtil::proxy
