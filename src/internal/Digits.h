// Decimal digits by pairs, for the hand-written numbers of log lines and dates: one copy per pair
// instead of two divisions.
#pragma once

#include <cstring>

namespace OrnUtil::internal {

// The two digits of every number below 100.
struct DigitPairs {
    char of[200] = {};
    constexpr DigitPairs() {
        for (int i = 0; i < 100; ++i) {
            of[2 * i] = static_cast<char>('0' + i / 10);
            of[2 * i + 1] = static_cast<char>('0' + i % 10);
        }
    }
};
inline constexpr DigitPairs DIGIT_PAIRS;

// Writes the two digits of `value`, below 100.
inline void PutTwoDigits(char* out, unsigned value) {
    std::memcpy(out, DIGIT_PAIRS.of + 2 * value, 2);
}

} // namespace OrnUtil::internal
