// Arbitrary bytes into the hex dump: every line must keep its layout.
#include <OrnUtil/Log.h>
#include <cstdint>
#include <cstdlib>
#include <sstream>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    OrnUtil::CHex hex(data, static_cast<unsigned int>(size));
    hex.Stream(data, static_cast<unsigned int>(size / 2));
    std::ostringstream out;
    out << hex;
    const size_t lines = (size + 15) / 16 + (size / 2 + 15) / 16;
    if (out.str().size() != lines * 79)
        std::abort();
    return 0;
}
