// Arbitrary bytes as GNOME proxy keys: a mode byte, four 32-bit ports, then newline-separated
// texts (PAC URL, http, https, ftp and socks hosts, then the ignore-hosts entries). Whatever they
// hold, the lists handed on must stay well-formed.
#include "proxy/GnomeProxyMapping.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace OrnUtil::proxy;

namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t end; (end = text.find(separator, start)) != std::string::npos; start = end + 1)
        parts.push_back(text.substr(start, end - start));
    parts.push_back(text.substr(start));
    return parts;
}

void CheckProxyList(const std::string& list) {
    for (const std::string& entry : Split(list, ';')) {
        const size_t equals = entry.find('=');
        if (equals == std::string::npos)
            std::abort();
        const std::string scheme = entry.substr(0, equals);
        if (scheme != "http" && scheme != "https" && scheme != "ftp" && scheme != "socks")
            std::abort();
        const std::string value = entry.substr(equals + 1);
        const size_t colon = value.find(':');
        const std::string host = value.substr(0, colon);
        if (host.empty() || host.find_first_of("=/:@ \t\r\n") != std::string::npos)
            std::abort();
        if (colon != std::string::npos) {
            const std::string port = value.substr(colon + 1);
            if (port.empty() || port.size() > 5 ||
                port.find_first_not_of("0123456789") != std::string::npos ||
                std::atol(port.c_str()) < 1 || std::atol(port.c_str()) > 65535)
                std::abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 17)
        return 0;
    static const char* const MODES[] = {"auto", "manual", "none"};
    GnomeProxyValues values;
    std::vector<std::string> lines =
        Split(std::string(reinterpret_cast<const char*>(data) + 17, size - 17), '\n');
    values.mode = data[0] < 3 ? MODES[data[0]] : lines[0];
    int32_t ports[4];
    std::memcpy(ports, data + 1, sizeof ports);
    GnomeProxyHost* hosts[] = {&values.http, &values.https, &values.ftp, &values.socks};
    lines.resize(std::max<size_t>(lines.size(), 5));
    values.autoconfigUrl = lines[0];
    for (int i = 0; i < 4; ++i)
        *hosts[i] = {lines[i + 1], ports[i]};
    values.ignoreHosts.assign(lines.begin() + 5, lines.end());

    const auto settings = MapGnomeProxySettings(values);
    if (values.mode != "auto" && values.mode != "manual") {
        if (settings)
            std::abort();
        return 0;
    }
    if (!settings || !settings->Any()) {
        if (values.mode == "auto")
            std::abort();
        return 0;
    }
    if (values.mode == "auto") {
        if (settings->autoDetect == settings->pacUrl.has_value() || settings->proxyList ||
            settings->bypassList)
            std::abort();
        return 0;
    }
    if (settings->autoDetect || settings->pacUrl || !settings->proxyList)
        std::abort();
    CheckProxyList(*settings->proxyList);
    if (settings->bypassList) {
        const std::vector<std::string> rules = Split(*settings->bypassList, ';');
        if (rules.size() > 128 * values.ignoreHosts.size())
            std::abort();
        for (const std::string& rule : rules)
            if (rule.empty() || rule.find_first_of(" \t\r\n/") != std::string::npos)
                std::abort();
    }
    return 0;
}
