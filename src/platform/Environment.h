// The process environment.
#pragma once

#include <string>

namespace OrnUtil::platform {

// True with the variable's value when `name` is set; false for a name that no variable can have
// (empty, or holding "=" or NUL).
bool GetVariable(const std::string& name, std::string& value);

} // namespace OrnUtil::platform
