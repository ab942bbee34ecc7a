// Arbitrary PAC answers into the translator: every entry it keeps must have a known form.
#include "proxy/PacAnswer.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string list =
        OrnUtil::proxy::TranslatePacAnswer(std::string(reinterpret_cast<const char*>(data), size));
    size_t start = 0;
    while (!list.empty() && start <= list.size()) {
        const size_t end = std::min(list.find(';', start), list.size());
        const std::string entry = list.substr(start, end - start);
        const bool known = entry == "DIRECT" || entry.rfind("PROXY ", 0) == 0 ||
                           entry.rfind("https://", 0) == 0 || entry.rfind("socks4://", 0) == 0 ||
                           entry.rfind("socks5://", 0) == 0;
        if (!known || entry.find_first_of(" \t\r\n", entry[0] == 'P' ? 6 : 0) != std::string::npos)
            std::abort();
        start = end + 1;
    }
    return 0;
}
