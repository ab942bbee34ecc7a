#include "proxy/linux/LibraryPin.h"

#include <atomic>
#include <dlfcn.h>

namespace OrnUtil::proxy {

void KeepLibraryLoaded() {
    static std::atomic<bool> pinned{false};
    if (pinned.exchange(true))
        return;
    // Opening ourselves again by our own path marks the loaded copy as never to be unloaded; the
    // handle is kept for good. Linked statically into a program, the path names the program, which
    // is never unloaded anyway, and the call finds nothing.
    Dl_info self{};
    if (dladdr(reinterpret_cast<void*>(&KeepLibraryLoaded), &self) != 0 &&
        self.dli_fname != nullptr)
        dlopen(self.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

} // namespace OrnUtil::proxy
