// The PAC helper functions that need nothing but the language; the native ones (DNS, this host's
// addresses, isInNetEx, sortIpAddressList) are defined in PacLibrary.cpp. Scripts are written and
// tested against the browsers, so each helper answers as theirs do, old quirks included: names
// compare case-sensitively, shExpMatch leaves regular-expression characters other than . * ? live,
// isInNet reads a short pattern or mask as if the missing parts were 0, timeRange(h1, h2) never
// wraps past midnight, and a range of dateRange ends on the 31st of its last month, which rolls
// over into the next month where that one is shorter. Compiled into the library as a string.
function isPlainHostName(host) {
    host = String(host);
    return host.indexOf('.') < 0 && host.indexOf(':') < 0; // an IPv6 literal is not plain
}

function dnsDomainIs(host, domain) {
    host = String(host); domain = String(domain);
    return host.length >= domain.length && host.substring(host.length - domain.length) === domain;
}

// True for the name itself, and for a host that is the name's first labels ("www.example" of
// "www.example.com" too).
function localHostOrDomainIs(host, hostdom) {
    host = String(host); hostdom = String(hostdom);
    return host === hostdom || hostdom.substring(0, host.length + 1) === host + '.';
}

function isResolvable(host) { return dnsResolve(host) !== null; }
function isResolvableEx(host) { return dnsResolveEx(host) !== ''; }

function dnsDomainLevels(host) { return String(host).split('.').length - 1; }

// A dotted address as a 32-bit number, each part taken modulo 256 and missing parts as 0. Some
// scripts call it themselves, under this name.
function convert_addr(ipchars) {
    var parts = String(ipchars).split('.'), value = 0;
    for (var i = 0; i < 4; i++)
        value = (value << 8) | (parts[i] & 0xff);
    return value;
}

// A host that is no dotted quad is resolved; a quad with a part over 255 never matches.
function isInNet(ipaddr, pattern, maskstr) {
    var quad = /^(\d{1,4})\.(\d{1,4})\.(\d{1,4})\.(\d{1,4})$/.exec(ipaddr);
    if (quad === null) {
        ipaddr = dnsResolve(ipaddr);
        if (ipaddr === null) return false;
    } else {
        for (var i = 1; i <= 4; i++)
            if (Number(quad[i]) > 255) return false;
    }
    var mask = convert_addr(maskstr);
    return (convert_addr(ipaddr) & mask) === (convert_addr(pattern) & mask);
}

// Scripts test the same few patterns on every call: each is compiled once. The key's prefix keeps
// a pattern such as "__proto__" an ordinary key.
var __ornPatterns = {};
function shExpMatch(text, pattern) {
    var key = '#' + pattern, compiled = __ornPatterns[key];
    if (compiled === undefined) {
        compiled = new RegExp('^' + String(pattern).replace(/\./g, '\\.').replace(/\*/g, '.*')
            .replace(/\?/g, '.') + '$');
        __ornPatterns[key] = compiled;
    }
    return compiled.test(text);
}

var __ornDays = { SUN: 0, MON: 1, TUE: 2, WED: 3, THU: 4, FRI: 5, SAT: 6 };
var __ornMonths = { JAN: 0, FEB: 1, MAR: 2, APR: 3, MAY: 4, JUN: 5, JUL: 6, AUG: 7, SEP: 8,
                    OCT: 9, NOV: 10, DEC: 11 };

// The table's number for a name, or -1; `in` finds inherited names too, as in the browsers.
function __ornIndex(table, name) { return name in table ? table[name] : -1; }

// How many arguments come before a trailing "GMT", and whether it is there.
function __ornCount(args) {
    var gmt = args.length > 0 && args[args.length - 1] == 'GMT';
    return { count: gmt ? args.length - 1 : args.length, gmt: gmt };
}

function __ornWithin(value, low, high) {
    return low <= high ? low <= value && value <= high : value <= high || value >= low;
}

// Gives the date's local fields its UTC values, one field after the other, so that a range built
// from local fields compares with the time in UTC.
function __ornUtcFields(date) {
    date.setFullYear(date.getUTCFullYear());
    date.setMonth(date.getUTCMonth());
    date.setDate(date.getUTCDate());
    date.setHours(date.getUTCHours());
    date.setMinutes(date.getUTCMinutes());
    date.setSeconds(date.getUTCSeconds());
}

function weekdayRange() {
    if (arguments.length < 1) return false;
    var a = __ornCount(arguments), now = new Date();
    var first = __ornIndex(__ornDays, arguments[0]);
    var last = a.count === 2 ? __ornIndex(__ornDays, arguments[1]) : first;
    if (first === -1 || last === -1) return false;
    return __ornWithin(a.gmt ? now.getUTCDay() : now.getDay(), first, last);
}

// One argument names a day (below 32), a month or a year. More are split in two halves: the
// first sets fields of January 1 00:00:00, the second of December 31 23:59:59, both of this year,
// in the order given. Two days alone stay within the current month.
function dateRange() {
    if (arguments.length < 1) return false;
    var a = __ornCount(arguments), now = new Date();
    if (a.count === 1) {
        var number = parseInt(arguments[0]);
        if (isNaN(number))
            return (a.gmt ? now.getUTCMonth() : now.getMonth()) ==
                __ornIndex(__ornMonths, arguments[0]);
        if (number < 32) return (a.gmt ? now.getUTCDate() : now.getDate()) == number;
        return (a.gmt ? now.getUTCFullYear() : now.getFullYear()) == number;
    }
    var year = now.getFullYear(), half = a.count >> 1, dayFirst = false;
    var from = new Date(year, 0, 1, 0, 0, 0), to = new Date(year, 11, 31, 23, 59, 59);
    for (var i = 0; i < a.count; i++) {
        var date = i < half ? from : to, value = parseInt(arguments[i]);
        if (isNaN(value)) {
            date.setMonth(__ornIndex(__ornMonths, arguments[i]));
        } else if (value < 32) {
            date.setDate(value);
            dayFirst = dayFirst || (i === 0 && a.count === 2);
        } else {
            date.setFullYear(value);
        }
    }
    if (dayFirst) {
        from.setMonth(now.getMonth());
        to.setMonth(now.getMonth());
    }
    if (a.gmt) __ornUtcFields(now);
    return __ornWithin(now, from, to);
}

// (hour), (h1, h2): whole hours, the end hour included. (h1, m1, h2, m2), (h1, m1, s1, h2, m2, s2):
// today's times, the end included to its last second; these wrap past midnight.
function timeRange() {
    if (arguments.length < 1) return false;
    var a = __ornCount(arguments), v = arguments, now = new Date();
    var hour = a.gmt ? now.getUTCHours() : now.getHours();
    if (a.count === 1) return hour == v[0];
    if (a.count === 2) return v[0] <= hour && hour <= v[1];
    if (a.count !== 4 && a.count !== 6) throw 'timeRange takes 1, 2, 4 or 6 numbers and "GMT"';
    var from = new Date(), to = new Date(), seconds = a.count === 6;
    from.setHours(v[0], v[1]);
    to.setHours(v[seconds ? 3 : 2], v[seconds ? 4 : 3]);
    if (seconds) from.setSeconds(v[2]);
    to.setSeconds(seconds ? v[5] : 59);
    if (a.gmt) __ornUtcFields(now);
    return __ornWithin(now, from, to);
}

function getClientVersion() { return '1.0'; }
function alert() {}
