// Name lookups with a time limit, and this host's own addresses, for the PAC helper functions.
#pragma once

#include <string>
#include <vector>

namespace OrnUtil::proxy {

enum class AddressFamily { IPV4, ANY };

// The addresses of `host` as text (IPv4 first), or none when it does not resolve within
// `timeoutMs`. A lookup that overruns goes on in the background; while too many are still running,
// further lookups fail at once instead of piling up threads.
std::vector<std::string> ResolveHost(const std::string& host, AddressFamily family,
                                     unsigned timeoutMs);

// The addresses of this host's interfaces that are up, as the browsers rank them: the ordinary
// ones, else the link-local ones, else loopback; "127.0.0.1" when there are none at all.
std::vector<std::string> LocalAddresses(AddressFamily family);

} // namespace OrnUtil::proxy
