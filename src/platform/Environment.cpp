#include "platform/Environment.h"

#include <cstdlib>

namespace OrnUtil::platform {

bool GetVariable(const std::string& name, std::string& value) {
    // getenv("A=B") would match the variable A holding "B=...".
    if (name.empty() || name.find_first_of(std::string("=\0", 2)) != std::string::npos)
        return false;
    const char* found = std::getenv(name.c_str());
    if (found == nullptr)
        return false;
    value = found;
    return true;
}

} // namespace OrnUtil::platform
