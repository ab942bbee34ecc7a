// Fetching a PAC script: http, https or file, never through a proxy, within the resolver's
// timeouts and a size cap.
#pragma once

#include <cstdint>
#include <string>

namespace OrnUtil::proxy {

struct ScriptFetch {
    enum Outcome {
        FETCHED,      // `script` holds the body
        NOT_FOUND,    // no such host, nothing listening, or an HTTP error other than below
        LOGIN_NEEDED, // the server or a proxy asked for credentials (401, 407)
        TIMED_OUT,
        REFUSED, // a scheme other than http, https and file, a redirect elsewhere, too large
    };
    Outcome outcome = NOT_FOUND;
    std::string script;
};

struct FetchLimits {
    // A corporate script is rarely over 100 KiB; a larger body is refused, not evaluated.
    static constexpr size_t MAX_BYTES = 1u << 20;

    unsigned connectMs; // resolving the name and connecting
    unsigned totalMs;   // the whole transfer
};

ScriptFetch FetchScript(const std::string& url, const FetchLimits& limits);

} // namespace OrnUtil::proxy
