// Arbitrary bytes into the hex dump: every line must keep its layout.
#include "FuzzSupport.h"

#include <sstream>

FUZZ_TARGET(input) {
    const auto size = static_cast<unsigned int>(input.size());
    OrnUtil::CHex hex(input.data(), size);
    hex.Stream(input.data(), size / 2);
    std::ostringstream out;
    out << hex;
    const size_t lines = (size + 15) / 16 + (size / 2 + 15) / 16;
    fuzz::Require(out.str().size() == lines * 79);
}
