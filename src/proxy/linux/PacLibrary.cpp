#include "proxy/linux/PacLibrary.h"

#include "internal/Text.h"
#include "proxy/linux/HostLookup.h"

#include <algorithm>
#include <arpa/inet.h>
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

// The bytes of an IPv4 (4) or IPv6 (16) address; 0 when the text is neither.
size_t AddressBytes(const std::string& text, unsigned char (&bytes)[16]) {
    if (inet_pton(AF_INET, text.c_str(), bytes) == 1)
        return 4;
    return inet_pton(AF_INET6, text.c_str(), bytes) == 1 ? 16 : 0;
}

// isInNetEx(address, "prefix/length"). Address and prefix must be of one family, as in the
// browsers: an IPv4-mapped IPv6 address matches IPv6 prefixes only.
duk_ret_t IsInNetEx(duk_context* context) {
    const std::string address = duk_safe_to_string(context, 0);
    const std::string prefix = duk_safe_to_string(context, 1);
    const size_t slash = prefix.find('/');
    unsigned char host[16], net[16];
    const size_t size = slash == std::string::npos ? 0 : AddressBytes(address, host);
    const std::string lengthText = size == 0 ? "" : prefix.substr(slash + 1);
    bool inside = internal::IsDigits(lengthText, 3) &&
                  AddressBytes(prefix.substr(0, slash), net) == size &&
                  std::stoul(lengthText) <= size * 8;
    const unsigned bits = inside ? static_cast<unsigned>(std::stoul(lengthText)) : 0;
    for (unsigned bit = 0; inside && bit < bits; ++bit) {
        const unsigned mask = 0x80u >> (bit % 8);
        inside = (host[bit / 8] & mask) == (net[bit / 8] & mask);
    }
    duk_push_boolean(context, inside);
    return 1;
}

// sortIpAddressList("a;b;..."): IPv6 first, then IPv4, each in numeric order, equal addresses as
// they came; blanks are dropped and empty items skipped. False when no item is left or one is no
// address.
duk_ret_t SortIpAddressList(duk_context* context) {
    std::string list = duk_safe_to_string(context, 0);
    list.erase(
        std::remove_if(list.begin(), list.end(), [](char c) { return c == ' ' || c == '\t'; }),
        list.end());
    std::vector<std::pair<std::string, std::string>> sorted; // (sort key, text)
    for (const std::string& item : internal::SplitList(list)) {
        if (item.empty())
            continue;
        unsigned char bytes[16];
        const size_t size = AddressBytes(item, bytes);
        if (size == 0) {
            duk_push_false(context);
            return 1;
        }
        sorted.emplace_back(std::string(1, size == 16 ? '0' : '1') +
                                std::string(reinterpret_cast<char*>(bytes), size),
                            item);
    }
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> items;
    for (const auto& item : sorted)
        items.push_back(item.second);
    if (items.empty())
        duk_push_false(context);
    else
        duk_push_string(context, internal::JoinList(items).c_str());
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
