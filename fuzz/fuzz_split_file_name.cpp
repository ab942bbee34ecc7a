// Arbitrary bytes as a path: the name, the dot and the extension must rebuild it.
#include <OrnUtil/System.h>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path(reinterpret_cast<const char*>(data), size);
    std::string name, extension = "\x01unchanged";
    if (OrnUtil::SplitFileName(path, name, extension)) {
        if (name + "." + extension != path || extension.find('.') != std::string::npos)
            std::abort();
    } else if (name != path || extension != "\x01unchanged" ||
               path.find('.') != std::string::npos) {
        std::abort();
    }
    return 0;
}
