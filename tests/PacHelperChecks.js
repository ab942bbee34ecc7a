// What I check before I ship a PAC script: each helper answers as in the browsers, at my clock
// (local time two hours ahead of UTC). DIRECT when every check holds, else the failed ones.
var RealDate = Date, clock, failed = [];
Date = function (y, mo, d, h, mi, s) {
    return arguments.length ? new RealDate(y, mo, d, h, mi, s) : new RealDate(clock);
};
function at(y, mo, d, h, mi, s) { clock = new RealDate(y, mo - 1, d, h, mi, s).getTime(); }
function hold(checks) {
    for (var i = 0; i < checks.length; i++)
        if (eval(checks[i]) !== true) failed.push(new Date() + ': ' + checks[i]);
}
function refused(args) { try { timeRange.apply(null, args); } catch (e) { return true; } }

function FindProxyForURL(url, host) {
    at(2024, 3, 15, 17, 59, 59); // a Friday; an end hour counts to its last second
    hold(['timeRange(17)', 'timeRange(9, 17)', 'timeRange(15, "GMT")',
        'timeRange(18, 0, 0, 17, 59, 59)', '!timeRange(9, 16)', '!timeRange(17, "GMT")',
        'refused([1, 2, 3])', 'refused(["GMT"])', 'weekdayRange("FRI")',
        'weekdayRange("MON", "FRI")', 'weekdayRange("THU", "MON")',
        'weekdayRange("FRI", "SAT", "GMT")', '!weekdayRange("fri")', 'dateRange(15)',
        'dateRange("MAR")', 'dateRange("FEB", "APR")', 'dateRange(1, "MAR", 31, "MAR")',
        'dateRange("MAR", 2024, "APR", 2024)', 'dateRange("DEC", "MAR")',
        'dateRange(1, "JAN", 2024, 31, "DEC", 2024)', '!dateRange(16)', '!dateRange("mar")',
        '!dateRange(16, 31)', '!dateRange("APR", "DEC")', '!dateRange("JAN", "FEB")']);
    at(2024, 3, 15, 17, 0, 59); // an end minute counts to its last second too
    hold(['timeRange(8, 30, 17, 0)', 'timeRange(8, 0, 0, 17, 0, 59)']);
    at(2024, 3, 15, 17, 1, 0);
    hold(['!timeRange(8, 30, 17, 0)', '!timeRange(8, 0, 0, 17, 0, 59)']);
    at(2024, 3, 15, 23, 30, 0); // hours never wrap past midnight; minutes and seconds do
    hold(['timeRange(0, 23)', 'timeRange(23, 0, 1, 0)', 'timeRange(21, "GMT")', '!timeRange(22, 2)',
        '!timeRange(0, 0, 23, 29)', '!timeRange(23, 31, 23, 59)']);
    at(2024, 3, 16, 1, 0, 0); // Saturday here, still Friday in UTC
    hold(['weekdayRange("SAT")', 'weekdayRange("FRI", "GMT")', '!weekdayRange("SAT", "GMT")']);
    at(2024, 3, 2, 12, 0, 0); // a range ending in February ends on "February 31", March 2
    hold(['dateRange("JAN", "FEB")', 'dateRange(2)']);
    at(2024, 4, 1, 1, 0, 0); // April here, still March 31 in UTC
    hold(['dateRange("APR")', 'dateRange("MAR", "GMT")', 'dateRange(31, "GMT")', 'dateRange("GMT")',
        'dateRange(1, "MAR", 31, "MAR", "GMT")', '!dateRange("MAR")', '!dateRange("APR", "GMT")']);
    hold(['isPlainHostName("www")', '!isPlainHostName("a.example")', '!isPlainHostName("::1")',
        'dnsDomainIs("a.b.com", ".b.com")', '!dnsDomainIs("a.B.com", ".b.com")',
        '!dnsDomainIs("b.com", ".b.com")', 'localHostOrDomainIs("www", "www.a.b")',
        'localHostOrDomainIs("www.a", "www.a.b")', '!localHostOrDomainIs("ww", "www.a")',
        'dnsDomainLevels("a.b.c") === 2', 'shExpMatch("http://a.b/x", "*.b/*")',
        'shExpMatch("ab", "a?")', 'shExpMatch("b.net", "[ab].net")', 'shExpMatch("aab", "a+b")',
        '!shExpMatch("a+b", "a+b")', '!shExpMatch("wwwxexample", "www.example")',
        'convert_addr("1.2.3.4") === 0x01020304', 'isInNet("10.1.2.3", "10.0.0.0", "255.0.0.0")',
        'isInNet("10.1.2.3", "10", "255")', 'isInNet("localhost", "127.0.0.0", "255.0.0.0")',
        '!isInNet("11.1.2.3", "10.0.0.0", "255.0.0.0")', '!isInNet("300.1.2.3", "0.0.0.0", "0")',
        'isResolvable("localhost")', '!isResolvable("x.invalid")', 'isResolvableEx("::1")',
        'dnsResolve("localhost") === "127.0.0.1"',
        '/(^|;)127[.]0[.]0[.]1(;|$)/.test(dnsResolveEx("localhost"))',
        'dnsResolveEx("x.invalid") === ""', 'isInNetEx("10.128.2.3", "10.0.0.0/8")',
        'isInNetEx("2001:db8::1", "2001:db8::/32")', '!isInNetEx("2001:db9::1", "2001:db8::/32")',
        'isInNetEx("::ffff:10.1.2.3", "::ffff:10.0.0.0/104")',
        '!isInNetEx("::ffff:10.1.2.3", "10.0.0.0/8")', '!isInNetEx("10.1.2.3", "::ffff:a00:0/104")',
        '!isInNetEx("10.1.2.3", "10.0.0.0/33")', '!isInNetEx("10.1.2.3", "10.0.0.0")',
        '!isInNetEx("localhost", "127.0.0.0/8")', '!sortIpAddressList(" ; ")',
        'sortIpAddressList("10.0.0.2;::1;10.0.0.1") === "::1;10.0.0.1;10.0.0.2"',
        'sortIpAddressList(" 10.0.0.2 ;;\t10.0.0.1") === "10.0.0.1;10.0.0.2"',
        'sortIpAddressList("::1;0::1;::") === "::;::1;0::1"', '!sortIpAddressList("1.1.1.1;x")',
        '!sortIpAddressList("")', '/^[0-9.]+$/.test(myIpAddress())',
        'myIpAddressEx().indexOf(myIpAddress()) >= 0', '!!sortIpAddressList(myIpAddressEx())',
        '!/(^|;)(169[.]254[.]|fe80:)/.test(myIpAddressEx())']);
    return failed.length === 0 ? 'DIRECT' : 'PROXY ' + failed.join('\n');
}
