#include "proxy/linux/PacLibrary.h"

#include "internal/Text.h"
#include "proxy/linux/HostLookup.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <string>
#include <vector>

namespace OrnUtil::proxy {

// PacHelpers.js, compiled in by the build.
extern const char* const PAC_HELPERS_SCRIPT;

namespace {

// The time a DNS helper may wait. Past the script's deadline it throws instead: a script that
// calls helpers in a loop would otherwise reach the interpreter's own check only after thousands
// of calls.
unsigned ResolveMs(duk_context* context) {
    duk_push_global_stash(context);
    duk_get_prop_string(context, -1, "timer");
    const auto* timer = static_cast<const PacTimer*>(duk_get_pointer(context, -1));
    duk_pop_2(context);
    if (timer == nullptr || timer->Expired())
        duk_error(context, DUK_ERR_RANGE_ERROR, "execution timeout");
    return timer->ResolveBudgetMs();
}

duk_ret_t DnsResolve(duk_context* context) {
    const std::vector<std::string> addresses =
        ResolveHost(duk_safe_to_string(context, 0), AddressFamily::IPV4, ResolveMs(context));
    if (addresses.empty())
        duk_push_null(context);
    else
        duk_push_string(context, addresses.front().c_str());
    return 1;
}

duk_ret_t DnsResolveEx(duk_context* context) {
    duk_push_string(context, internal::JoinList(ResolveHost(duk_safe_to_string(context, 0),
                                                            AddressFamily::ANY, ResolveMs(context)))
                                 .c_str());
    return 1;
}

duk_ret_t MyIpAddress(duk_context* context) {
    duk_push_string(context, LocalAddresses(AddressFamily::IPV4).front().c_str());
    return 1;
}

duk_ret_t MyIpAddressEx(duk_context* context) {
    duk_push_string(context, internal::JoinList(LocalAddresses(AddressFamily::ANY)).c_str());
    return 1;
}

// An address of either family as 16 bytes (IPv4 mapped into IPv6), or false.
bool AddressBytes(const std::string& text, unsigned char (&bytes)[16]) {
    in_addr v4{};
    if (inet_pton(AF_INET, text.c_str(), &v4) == 1) {
        std::memset(bytes, 0, 10);
        bytes[10] = bytes[11] = 0xff;
        std::memcpy(bytes + 12, &v4, 4);
        return true;
    }
    return inet_pton(AF_INET6, text.c_str(), bytes) == 1;
}

// isInNetEx(address, "prefix/length"), for either family.
duk_ret_t IsInNetEx(duk_context* context) {
    const std::string address = duk_safe_to_string(context, 0);
    const std::string prefix = duk_safe_to_string(context, 1);
    const size_t slash = prefix.find('/');
    unsigned char host[16], net[16];
    bool inside = slash != std::string::npos && AddressBytes(address, host) &&
                  AddressBytes(prefix.substr(0, slash), net);
    const std::string lengthText = inside ? prefix.substr(slash + 1) : "";
    inside = inside && internal::IsDigits(lengthText, 3);
    unsigned bits = inside ? static_cast<unsigned>(std::stoul(lengthText)) : 0;
    if (inside && prefix.find(':') == std::string::npos)
        bits += 96; // an IPv4 prefix counts within the mapped form
    inside = inside && bits <= 128;
    for (unsigned bit = 0; inside && bit < bits; ++bit) {
        const unsigned mask = 0x80u >> (bit % 8);
        inside = (host[bit / 8] & mask) == (net[bit / 8] & mask);
    }
    duk_push_boolean(context, inside);
    return 1;
}

// sortIpAddressList("a;b;..."): IPv6 first, then IPv4, each in numeric order; false when an item
// is no address.
duk_ret_t SortIpAddressList(duk_context* context) {
    std::vector<std::pair<std::string, std::string>> sorted; // (sort key, text)
    for (const std::string& item : internal::SplitList(duk_safe_to_string(context, 0))) {
        unsigned char bytes[16];
        if (!AddressBytes(item, bytes)) {
            duk_push_false(context);
            return 1;
        }
        const bool v4 = item.find(':') == std::string::npos;
        sorted.emplace_back(std::string(1, v4 ? '1' : '0') +
                                std::string(reinterpret_cast<char*>(bytes), sizeof bytes),
                            item);
    }
    std::sort(sorted.begin(), sorted.end());
    std::vector<std::string> list;
    for (const auto& item : sorted)
        list.push_back(item.second);
    duk_push_string(context, internal::JoinList(list).c_str());
    return 1;
}

} // namespace

unsigned PacTimer::ResolveBudgetMs() const {
    if (deadlineMs == 0)
        return resolveMs;
    const uint64_t now = platform::MonotonicMs();
    return now >= deadlineMs
               ? 0
               : static_cast<unsigned>(std::min<uint64_t>(resolveMs, deadlineMs - now));
}

void DefinePacLibrary(duk_context* context, const PacTimer* timer) {
    duk_push_global_stash(context);
    duk_push_pointer(context, const_cast<PacTimer*>(timer));
    duk_put_prop_string(context, -2, "timer");
    duk_pop(context);
    const struct {
        const char* name;
        duk_c_function function;
        duk_idx_t arguments;
    } NATIVES[] = {{"dnsResolve", DnsResolve, 1},   {"dnsResolveEx", DnsResolveEx, 1},
                   {"myIpAddress", MyIpAddress, 0}, {"myIpAddressEx", MyIpAddressEx, 0},
                   {"isInNetEx", IsInNetEx, 2},     {"sortIpAddressList", SortIpAddressList, 1}};
    for (const auto& native : NATIVES) {
        duk_push_c_function(context, native.function, native.arguments);
        duk_put_global_string(context, native.name);
    }
    duk_eval_string_noresult(context, PAC_HELPERS_SCRIPT);
}

} // namespace OrnUtil::proxy
