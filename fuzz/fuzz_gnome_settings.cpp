// Arbitrary bytes as GNOME proxy keys: a mode byte, four 32-bit ports, then newline-separated
// texts (PAC URL, http, https, ftp and socks hosts, then the ignore-hosts entries). Whatever they
// hold, the lists handed on must stay well-formed.
#include "FuzzSupport.h"
#include "proxy/GnomeProxyMapping.h"

#include <algorithm>
#include <cstring>
#include <vector>

using namespace OrnUtil::proxy;
using fuzz::Require;
using OrnUtil::internal::SplitList;

namespace {

void CheckProxyList(const std::string& list) {
    for (const std::string& entry : SplitList(list)) {
        const size_t equals = entry.find('=');
        Require(equals != std::string::npos);
        const std::string scheme = entry.substr(0, equals);
        Require(scheme == "http" || scheme == "https" || scheme == "ftp" || scheme == "socks");
        const std::string value = entry.substr(equals + 1);
        const size_t colon = value.find(':');
        const std::string host = value.substr(0, colon);
        Require(!host.empty() && host.find_first_of("=/:@ \t\r\n") == std::string::npos);
        if (colon != std::string::npos) {
            const std::string port = value.substr(colon + 1);
            Require(OrnUtil::internal::IsDigits(port, 5) && std::atol(port.c_str()) >= 1 &&
                    std::atol(port.c_str()) <= 65535);
        }
    }
}

} // namespace

FUZZ_TARGET(input) {
    if (input.size() < 17)
        return;
    const auto* head = reinterpret_cast<const uint8_t*>(input.data());
    static const char* const MODES[] = {"auto", "manual", "none"};
    GnomeProxyValues values;
    std::vector<std::string> lines = SplitList(input.substr(17), '\n');
    values.mode = head[0] < 3 ? MODES[head[0]] : lines[0];
    int32_t ports[4];
    std::memcpy(ports, head + 1, sizeof ports);
    GnomeProxyHost* hosts[] = {&values.http, &values.https, &values.ftp, &values.socks};
    lines.resize(std::max<size_t>(lines.size(), 5));
    values.autoconfigUrl = lines[0];
    for (int i = 0; i < 4; ++i)
        *hosts[i] = {lines[i + 1], ports[i]};
    values.ignoreHosts.assign(lines.begin() + 5, lines.end());

    const auto settings = MapGnomeProxySettings(values);
    if (values.mode != "auto" && values.mode != "manual") {
        Require(!settings);
        return;
    }
    if (!settings || !settings->Any()) {
        Require(values.mode != "auto");
        return;
    }
    if (values.mode == "auto") {
        Require(settings->autoDetect != settings->pacUrl.has_value() && !settings->proxyList &&
                !settings->bypassList);
        return;
    }
    Require(!settings->autoDetect && !settings->pacUrl && settings->proxyList);
    CheckProxyList(*settings->proxyList);
    if (settings->bypassList) {
        const std::vector<std::string> rules = SplitList(*settings->bypassList);
        Require(rules.size() <= 128 * values.ignoreHosts.size());
        for (const std::string& rule : rules)
            Require(!rule.empty() && rule.find_first_of(" \t\r\n/") == std::string::npos);
    }
}
