// The channels keep their descriptors unsigned, all ones meaning none, as their interface gives
// them; the system calls take them signed.
#pragma once

namespace OrnUtil::internal {

inline int AsFd(unsigned int descriptor) {
    return static_cast<int>(descriptor);
}

} // namespace OrnUtil::internal
