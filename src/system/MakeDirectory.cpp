#include "platform/Files.h"

#include <OrnUtil/System.h>
#include <cerrno>

namespace OrnUtil {

bool MakeDirectory(const std::string& path) {
    const std::vector<std::string> components = SplitString(path, std::set<char>{'/', '\\'});
    // An empty first component is the root of an absolute path; later ones are doubled separators.
    std::string made;
    for (size_t i = 0; i < components.size(); ++i) {
        if (components[i].empty())
            continue;
        if (i > 0)
            made += '/';
        made += components[i];
        // A name that exists counts as made, whatever it names: a later level fails if it matters.
        const int error = platform::MakeOneDirectory(made);
        if (error != 0 && error != EEXIST)
            return false;
    }
    return true;
}

} // namespace OrnUtil
