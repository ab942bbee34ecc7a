// Arbitrary bytes as a path: the name, the dot and the extension must rebuild it.
#include "FuzzSupport.h"

#include <OrnUtil/System.h>

FUZZ_TARGET(path) {
    std::string name, extension = "\x01unchanged";
    if (OrnUtil::SplitFileName(path, name, extension))
        fuzz::Require(name + "." + extension == path && extension.find('.') == std::string::npos);
    else
        fuzz::Require(name == path && extension == "\x01unchanged" &&
                      path.find('.') == std::string::npos);
}
