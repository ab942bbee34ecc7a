#include "platform/Library.h"

#include <dlfcn.h>

namespace OrnUtil::platform {

// There is no counterpart of the altered search path: a library's own dependencies are found
// through its RUNPATH, as the dynamic linker always does.
void* OpenLibrary(const char* path) {
    // dlopen hands back the main program for a null or empty name, which no caller means.
    return path == nullptr || *path == '\0' ? nullptr : dlopen(path, RTLD_NOW | RTLD_LOCAL);
}

void CloseLibrary(void* handle) {
    dlclose(handle);
}

} // namespace OrnUtil::platform
