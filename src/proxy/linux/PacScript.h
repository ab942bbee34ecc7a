// A compiled PAC script, run with bounds: it comes from the network and runs in the application.
//
//   std::string error;
//   auto script = CPacScript::Compile(source, PacBounds{500, 500, PacBounds::HEAP_BYTES}, error);
//   std::string answer;
//   if (script && script->FindProxy("http://a.example/x", "a.example", answer, error)) ...
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace OrnUtil::proxy {

struct PacBounds {
    // Large corporate scripts use a few hundred KiB of heap; a script that wants more than this is
    // runaway, not configuration.
    static constexpr size_t HEAP_BYTES = 32u << 20;
    // Browsers take URLs of up to 2 MiB; a request beyond this is refused before the script runs.
    static constexpr size_t REQUEST_BYTES = 2u << 20;

    unsigned runMs;     // compiling, and each FindProxy, end with an error after this long
    unsigned resolveMs; // each DNS helper call gives up after this long
    size_t heapBytes;   // the script's allocations beyond this fail inside the script
};

class CPacScript {
public:
    // Compiles and runs the script's top level; null with the reason when it does not compile,
    // throws, overruns its bounds or defines no FindProxyForURL.
    static std::unique_ptr<CPacScript> Compile(const std::string& source, const PacBounds& bounds,
                                               std::string& error);
    // Stops the script's thread and joins it, within the script's bound; a thread that overruns
    // even that is left to end by itself.
    ~CPacScript();
    CPacScript(const CPacScript&) = delete;
    CPacScript& operator=(const CPacScript&) = delete;

    // Calls FindProxyForURLEx where the script defines it, else FindProxyForURL. False with the
    // reason when it throws, returns no string or overruns its bounds, or when URL and host
    // together exceed REQUEST_BYTES.
    bool FindProxy(const std::string& url, const std::string& host, std::string& answer,
                   std::string& error);

    struct Worker; // the thread that owns the script's heap (PacScript.cpp)

private:
    CPacScript(std::shared_ptr<Worker> worker, unsigned runMs);
    std::mutex m_Callers; // one request at a time
    std::shared_ptr<Worker> m_Worker;
    unsigned m_RunMs;
    bool m_Abandoned = false;
};

} // namespace OrnUtil::proxy
