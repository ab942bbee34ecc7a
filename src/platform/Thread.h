// Thread identity as the operating system numbers it.
#pragma once

#include <cstdint>

namespace OrnUtil::platform {

// The kernel's numeric identifier of the calling thread (what ps and top show), not
// std::thread::id.
uint32_t CurrentThreadId();

} // namespace OrnUtil::platform
