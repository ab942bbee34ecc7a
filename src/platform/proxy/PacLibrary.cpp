#include "platform/proxy/PacLibrary.h"

#include "platform/proxy/HostLookup.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <string>
#include <vector>

namespace OrnUtil::platform {

namespace {

// The helpers that need nothing but the language. Dates follow the local time unless the last
// argument is "GMT".
const char* const SCRIPT_HELPERS = R"js(
function isPlainHostName(host) { return String(host).indexOf('.') < 0; }

function dnsDomainIs(host, domain) {
    host = String(host).toLowerCase(); domain = String(domain).toLowerCase();
    return host.length >= domain.length && host.substring(host.length - domain.length) === domain;
}

function localHostOrDomainIs(host, hostdom) {
    host = String(host).toLowerCase(); hostdom = String(hostdom).toLowerCase();
    return host === hostdom || (host.indexOf('.') < 0 && hostdom.split('.')[0] === host);
}

function isResolvable(host) { return dnsResolve(host) !== null; }
function isResolvableEx(host) { return dnsResolveEx(host) !== ''; }

function dnsDomainLevels(host) { return String(host).split('.').length - 1; }

function __ornIPv4(text) {
    var parts = String(text).split('.');
    if (parts.length !== 4) return null;
    var value = 0;
    for (var i = 0; i < 4; i++) {
        if (!/^[0-9]{1,3}$/.test(parts[i]) || Number(parts[i]) > 255) return null;
        value = value * 256 + Number(parts[i]);
    }
    return value;
}

function isInNet(host, pattern, mask) {
    var address = __ornIPv4(host);
    if (address === null) {
        var resolved = dnsResolve(host);
        if (resolved === null) return false;
        address = __ornIPv4(resolved);
    }
    var net = __ornIPv4(pattern), bits = __ornIPv4(mask);
    if (address === null || net === null || bits === null) return false;
    for (var i = 0; i < 4; i++) {
        var shift = Math.pow(256, 3 - i);
        var a = Math.floor(address / shift) % 256, n = Math.floor(net / shift) % 256;
        var m = Math.floor(bits / shift) % 256;
        if ((a & m) !== (n & m)) return false;
    }
    return true;
}

// Scripts test the same few patterns on every call: each is compiled once.
var __ornPatterns = {};
function shExpMatch(text, pattern) {
    pattern = String(pattern);
    var compiled = __ornPatterns[pattern];
    if (compiled === undefined) {
        compiled = new RegExp('^' + pattern.replace(/[.+^${}()|[\]\\]/g, '\\$&')
            .replace(/\*/g, '.*').replace(/\?/g, '.') + '$');
        __ornPatterns[pattern] = compiled;
    }
    return compiled.test(String(text));
}

function __ornArgs(args) {
    var list = Array.prototype.slice.call(args), gmt = false;
    if (list.length > 0 && String(list[list.length - 1]).toUpperCase() === 'GMT') {
        gmt = true; list.pop();
    }
    var now = new Date();
    return { list: list, gmt: gmt, now: now };
}

function __ornInRange(value, low, high) {
    return low <= high ? value >= low && value <= high : value >= low || value <= high;
}

var __ornDays = ['SUN', 'MON', 'TUE', 'WED', 'THU', 'FRI', 'SAT'];
var __ornMonths = ['JAN', 'FEB', 'MAR', 'APR', 'MAY', 'JUN', 'JUL', 'AUG', 'SEP', 'OCT', 'NOV',
                   'DEC'];

function weekdayRange() {
    var a = __ornArgs(arguments);
    var first = __ornDays.indexOf(String(a.list[0]).toUpperCase());
    var last = a.list.length > 1 ? __ornDays.indexOf(String(a.list[1]).toUpperCase()) : first;
    if (first < 0 || last < 0) return false;
    return __ornInRange(a.gmt ? a.now.getUTCDay() : a.now.getDay(), first, last);
}

// Each argument is a day (1-31), a month name or a year (four digits); one value of each kind
// names a date, two of each a range, wrapping over the year's end where no year is given.
function dateRange() {
    var a = __ornArgs(arguments), now = a.now;
    var today = {
        day: a.gmt ? now.getUTCDate() : now.getDate(),
        month: a.gmt ? now.getUTCMonth() : now.getMonth(),
        year: a.gmt ? now.getUTCFullYear() : now.getFullYear()
    };
    var parts = [];
    for (var i = 0; i < a.list.length; i++) {
        var month = __ornMonths.indexOf(String(a.list[i]).toUpperCase());
        var number = Number(a.list[i]);
        if (month >= 0) parts.push({ kind: 'month', value: month });
        else if (number >= 1 && number <= 31 && Math.floor(number) === number)
            parts.push({ kind: 'day', value: number });
        else if (number > 31 && Math.floor(number) === number)
            parts.push({ kind: 'year', value: number });
        else return false;
    }
    if (parts.length === 0 || parts.length > 6) return false;
    var half = parts.length === 1 ? 1 : parts.length / 2;
    if (Math.floor(half) !== half) return false;
    function key(list, date) {
        var weights = { year: 10000, month: 100, day: 1 }, value = 0;
        for (var j = 0; j < list.length; j++)
            value += weights[list[j].kind] * (date ? date[list[j].kind] : list[j].value);
        return value;
    }
    var low = parts.slice(0, half), high = parts.length === 1 ? low : parts.slice(half);
    for (var k = 0; k < half; k++)
        if (low[k].kind !== high[k].kind) return false;
    var hasYear = low.some(function (p) { return p.kind === 'year'; });
    var current = key(low, today), from = key(low), to = key(high);
    return hasYear ? current >= from && current <= to : __ornInRange(current, from, to);
}

// (hour), (h1, h2), (h1, m1, h2, m2) or (h1, m1, s1, h2, m2, s2): the end is exclusive at the
// precision given, so timeRange(9, 17) holds from 9:00:00 to 16:59:59.
function timeRange() {
    var a = __ornArgs(arguments), now = a.now, n = a.list.length;
    for (var i = 0; i < n; i++)
        if (isNaN(Number(a.list[i]))) return false;
    var v = a.list.map(Number);
    var seconds = (a.gmt ? now.getUTCHours() : now.getHours()) * 3600 +
        (a.gmt ? now.getUTCMinutes() : now.getMinutes()) * 60 +
        (a.gmt ? now.getUTCSeconds() : now.getSeconds());
    var from, to;
    if (n === 1) { from = v[0] * 3600; to = from + 3600; }
    else if (n === 2) { from = v[0] * 3600; to = v[1] * 3600; }
    else if (n === 4) { from = v[0] * 3600 + v[1] * 60; to = v[2] * 3600 + v[3] * 60; }
    else if (n === 6) { from = v[0] * 3600 + v[1] * 60 + v[2]; to = v[3] * 3600 + v[4] * 60 + v[5]; }
    else return false;
    if (from === to) return false;
    return from < to ? seconds >= from && seconds < to : seconds >= from || seconds < to;
}

function getClientVersion() { return '1.0'; }
function alert() {}
)js";

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

std::string Joined(const std::vector<std::string>& items) {
    std::string text;
    for (const auto& item : items)
        text += (text.empty() ? "" : ";") + item;
    return text;
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
    duk_push_string(context, Joined(ResolveHost(duk_safe_to_string(context, 0), AddressFamily::ANY,
                                                ResolveMs(context)))
                                 .c_str());
    return 1;
}

duk_ret_t MyIpAddress(duk_context* context) {
    duk_push_string(context, LocalAddresses(AddressFamily::IPV4).front().c_str());
    return 1;
}

duk_ret_t MyIpAddressEx(duk_context* context) {
    duk_push_string(context, Joined(LocalAddresses(AddressFamily::ANY)).c_str());
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
    inside = inside && !lengthText.empty() && lengthText.size() <= 3 &&
             lengthText.find_first_not_of("0123456789") == std::string::npos;
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
    std::string list = duk_safe_to_string(context, 0);
    std::vector<std::pair<std::string, std::string>> sorted; // (sort key, text)
    for (size_t start = 0; start <= list.size();) {
        size_t end = std::min(list.find(';', start), list.size());
        const std::string item = list.substr(start, end - start);
        unsigned char bytes[16];
        if (!AddressBytes(item, bytes)) {
            duk_push_false(context);
            return 1;
        }
        const bool v4 = item.find(':') == std::string::npos;
        sorted.emplace_back(std::string(1, v4 ? '1' : '0') +
                                std::string(reinterpret_cast<char*>(bytes), sizeof bytes),
                            item);
        start = end + 1;
    }
    std::sort(sorted.begin(), sorted.end());
    list.clear();
    for (const auto& item : sorted)
        list += (list.empty() ? "" : ";") + item.second;
    duk_push_string(context, list.c_str());
    return 1;
}

} // namespace

unsigned PacTimer::ResolveBudgetMs() const {
    if (deadlineMs == 0)
        return resolveMs;
    const uint64_t now = MonotonicMs();
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
    duk_eval_string_noresult(context, SCRIPT_HELPERS);
}

} // namespace OrnUtil::platform
