// Character-set conversion through glibc's iconv.
#pragma once

#include <cstddef>
#include <string>

namespace OrnUtil::platform {

// One iconv conversion descriptor, closed with the object.
class CConverter {
public:
    // Opens the conversion from `from` to `to`; names go to iconv unchanged.
    CConverter(const std::string& to, const std::string& from);
    ~CConverter();
    CConverter(const CConverter&) = delete;
    CConverter& operator=(const CConverter&) = delete;

    // False when iconv knows no such conversion.
    bool IsOpen() const;

    // One iconv call: converts from `in` into `out`, advancing both and counting down what is
    // left. True exactly when iconv returned 0 (everything converted, nothing substituted);
    // otherwise errno holds iconv's reason (E2BIG when `out` is full), untouched after the call.
    bool Convert(const char*& in, size_t& inLeft, char*& out, size_t& outLeft);

private:
    void* m_Descriptor;
};

} // namespace OrnUtil::platform
