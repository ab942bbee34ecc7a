// For threads of the library that could not be stopped in time: they still run its code, so the
// library must stay mapped after the application unloads it.
#pragma once

namespace OrnUtil::proxy {

// Keeps the library that holds this code loaded until the process ends. Call it when a thread is
// given up, before anyone can unload the library: unloading decides what to unmap first.
void KeepLibraryLoaded();

} // namespace OrnUtil::proxy
