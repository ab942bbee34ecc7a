// Arbitrary bytes with %NAME% references to set and unset variables: without a "%" the text must
// come back as it was (up to its first NUL), and expansion must never lose a byte of it.
#include "FuzzSupport.h"

#include <OrnUtil/System.h>

FUZZ_TARGET(text) {
    static const bool prepared =
        setenv("A", "alpha", 1) == 0 && setenv("EMPTY", "", 1) == 0 && setenv("PCT", "%A%", 1) == 0;
    (void)prepared;
    const std::string visible(text.c_str());
    const std::string expanded = OrnUtil::ExpandEnvStrings(text);
    fuzz::Require(visible.find('%') != std::string::npos || expanded == visible);
    // A value is put in as it is, never expanded again.
    fuzz::Require(visible != "%PCT%" || expanded == "%A%");
}
