// The dynamic loader, for libraries loaded at run time.
#pragma once

namespace OrnUtil::platform {

// Opens the library with every symbol resolved at once and none made global; null when it cannot
// be loaded (or `path` is null or empty).
void* OpenLibrary(const char* path);

// Closes a handle that OpenLibrary returned.
void CloseLibrary(void* handle);

} // namespace OrnUtil::platform
