// The proxy settings that a Linux user gives through the environment, in the conventions that curl
// and the browsers follow, turned into the settings record of the proxy platform.
//
//   http_proxy=http://user:pw@proxy.corp:3128/  no_proxy=.corp,localhost
//     -> proxy list "http=proxy.corp:3128", bypass list "corp;*.corp;localhost;*.localhost"
#pragma once

#include "proxy/ProxyPlatform.h"

#include <optional>
#include <string>
#include <string_view>

namespace OrnUtil::proxy {

// Reads one variable: null when it is unset.
using EnvironmentLookup = const char* (*)(const char* name);

// Fills `settings` from the variables and returns true when they configure a proxy at all (an
// auto_proxy, or a usable proxy variable). A no_proxy on its own configures nothing: it is often
// set for the whole system where no proxy exists. A lower-case variable that is set, even empty,
// hides its upper-case twin.
bool ProxySettingsFromEnvironment(EnvironmentLookup lookup, ProxySettings& settings);

// host or host:port from a proxy variable's value: no scheme or http:// only (the manual settings
// carry plain HTTP proxies), credentials and path removed. Absent when the value is unusable.
std::optional<std::string> ProxyFromEnvironmentValue(std::string_view value);

// no_proxy's comma-separated entries as bypass rules joined with ";"; each domain D covers itself
// and its subdomains ("D;*.D"), "*" covers everything.
std::string BypassListFromNoProxy(std::string_view value);

} // namespace OrnUtil::proxy
