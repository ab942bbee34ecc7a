// unload_probe SCRIPT: loads the shared library at run time, sends a request whose proxy the PAC
// script at SCRIPT decides, unloads the library and goes on; prints whether the library is still
// mapped. A script stuck in a builtin must keep it mapped: its thread still runs the library's
// code.
#include <OrnUtil/Http.h>
#include <cstdlib>
#include <dlfcn.h>
#include <iostream>

int main(int argc, char** argv) {
    if (argc != 2)
        return 2;
    setenv("auto_proxy", argv[1], 1);
    void* library = dlopen(ORNUTILS_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr)
        return 3;
    // The class's members, reached as the loader sees them: the object comes first.
    using Construct = void (*)(void*, std::vector<char>&);
    using Perform = bool (*)(void*, const std::string&, const std::string&, const std::string&);
    using Destroy = void (*)(void*);
    const auto construct =
        reinterpret_cast<Construct>(dlsym(library, "_ZN8HTTPcURLC1ERSt6vectorIcSaIcEE"));
    const auto perform = reinterpret_cast<Perform>(
        dlsym(library,
              "_ZN8HTTPcURL7PerformERKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEES7_S7_"));
    const auto destroy = reinterpret_cast<Destroy>(dlsym(library, "_ZN8HTTPcURLD1Ev"));
    alignas(HTTPcURL) unsigned char http[sizeof(HTTPcURL)];
    std::vector<char> body;
    construct(http, body);
    try {
        perform(http, "http://127.0.0.1:1/", "", ""); // refused at once, after the proxy lookup
    } catch (const std::exception&) {
    }
    destroy(http);
    dlclose(library);
    std::cout << (dlopen(ORNUTILS_LIBRARY, RTLD_NOW | RTLD_NOLOAD) ? "mapped" : "unmapped")
              << std::endl;
    return 0;
}
