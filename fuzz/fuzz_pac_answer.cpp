// Arbitrary PAC answers into the translator: every entry it keeps must have a known form.
#include "FuzzSupport.h"
#include "proxy/PacAnswer.h"

FUZZ_TARGET(input) {
    const std::string list = OrnUtil::proxy::TranslatePacAnswer(input);
    if (list.empty())
        return;
    for (const std::string& entry : OrnUtil::internal::SplitList(list)) {
        const bool known = entry == "DIRECT" || entry.rfind("PROXY ", 0) == 0 ||
                           entry.rfind("https://", 0) == 0 || entry.rfind("socks4://", 0) == 0 ||
                           entry.rfind("socks5://", 0) == 0;
        fuzz::Require(known);
        fuzz::Require(entry.find_first_of(" \t\r\n", entry[0] == 'P' ? 6 : 0) == std::string::npos);
    }
}
