// The PAC helper functions that need nothing but the language; the native ones (DNS, this host's
// addresses, isInNetEx, sortIpAddressList) are defined in PacLibrary.cpp. Dates follow the local
// time unless the last argument is "GMT". Compiled into the library as a string.
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
