// What a PAC script's answer becomes for the proxy resolver.
#pragma once

#include <string>

namespace OrnUtil::proxy {

// Translates a FindProxyForURL answer ("PROXY a:80; SOCKS5 b:1080; DIRECT") into the list the
// resolver reads: entries trimmed, keywords matched in any case, hosts lower-cased; PROXY and HTTP
// give "PROXY h:p", HTTPS gives "https://h:p", SOCKS and SOCKS4 "socks4://h:p", SOCKS5
// "socks5://h:p", DIRECT stays; other entries are left out; joined with ";". An answer that is
// DIRECT alone, or holds no usable entry, gives the empty text: a direct connection.
std::string TranslatePacAnswer(const std::string& answer);

} // namespace OrnUtil::proxy
