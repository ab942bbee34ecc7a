#include "platform/Iconv.h"

#include <iconv.h>

namespace OrnUtil::platform {

namespace {
const iconv_t NO_DESCRIPTOR = reinterpret_cast<iconv_t>(-1);
}

CConverter::CConverter(const std::string& to, const std::string& from)
    : m_Descriptor(iconv_open(to.c_str(), from.c_str())) {}

CConverter::~CConverter() {
    if (IsOpen())
        iconv_close(m_Descriptor);
}

bool CConverter::IsOpen() const {
    return m_Descriptor != NO_DESCRIPTOR;
}

bool CConverter::Convert(const char*& in, size_t& inLeft, char*& out, size_t& outLeft) {
    // glibc's iconv takes the input as char** but never writes through it.
    char* input = const_cast<char*>(in);
    const size_t result = iconv(m_Descriptor, &input, &inLeft, &out, &outLeft);
    in = input;
    return result == 0;
}

} // namespace OrnUtil::platform
