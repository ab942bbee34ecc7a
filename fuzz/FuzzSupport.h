// What every fuzz target shares: the entry point, the check that reports a finding, the split of an
// input into fields, and a quiet log. A target file holds only its property:
//
//   FUZZ_TARGET(input) {                      // the input's bytes as a std::string
//       const auto [list, url] = Fields<2>(input, '\n');
//       Require(Parse(list).size() <= list.size());
//   }
#pragma once

#include "internal/Text.h"

#include <OrnUtil/Log.h>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzz {

// A property that does not hold is a finding: the run stops here with the input saved.
inline void Require(bool holds) {
    if (!holds)
        std::abort();
}

// The first N - 1 fields up to `separator`, the last field the rest; missing fields are empty.
template <size_t N>
std::array<std::string, N> Fields(const std::string& input, char separator) {
    std::array<std::string, N> fields;
    size_t start = 0;
    for (size_t i = 0; i < N && start <= input.size(); ++i) {
        const size_t end = i + 1 < N ? input.find(separator, start) : std::string::npos;
        fields[i] = input.substr(start, end == std::string::npos ? end : end - start);
        start = end == std::string::npos ? input.size() + 1 : end + 1;
    }
    return fields;
}

// The library's log lines go to /dev/null: targets feed inputs that make it warn on every call.
inline void SilenceLog() {
    static FILE* const sink = [] {
        FILE* file = std::fopen("/dev/null", "w");
        OrnUtil::CLog::SetPipe(APP, file);
        return file;
    }();
    (void)sink;
}

} // namespace fuzz

#define FUZZ_TARGET(input)                                                                         \
    static void FuzzOne(const std::string& input);                                                 \
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {                      \
        fuzz::SilenceLog();                                                                        \
        FuzzOne(std::string(reinterpret_cast<const char*>(data), size));                           \
        return 0;                                                                                  \
    }                                                                                              \
    static void FuzzOne(const std::string& input)
