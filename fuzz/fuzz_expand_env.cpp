// Arbitrary bytes with %NAME% references to set and unset variables: without a "%" the text must
// come back as it was (up to its first NUL), and expansion must never lose a byte of it.
#include <OrnUtil/System.h>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool prepared =
        setenv("A", "alpha", 1) == 0 && setenv("EMPTY", "", 1) == 0 && setenv("PCT", "%A%", 1) == 0;
    (void)prepared;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string visible(text.c_str());
    const std::string expanded = OrnUtil::ExpandEnvStrings(text);
    if (visible.find('%') == std::string::npos && expanded != visible)
        std::abort();
    // A value is put in as it is, never expanded again.
    if (visible == "%PCT%" && expanded != "%A%")
        std::abort();
    return 0;
}
