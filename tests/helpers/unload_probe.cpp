// unload_probe SCRIPT: loads the shared library, sends a request whose proxy the PAC script at
// SCRIPT decides, unloads the library, lives on a while and says if the library is still mapped.
#include <OrnUtil/Http.h>
#include <ctime>
#include <dlfcn.h>
#include <iostream>
#include <thread>
#include <unistd.h>

using Construct = void (*)(void*, std::vector<char>&);
using Perform = CURLcode (*)(void*, const std::string&, const std::string&, const std::string&);

int main(int, char** argv) {
    setenv("auto_proxy", argv[1], 1);
    void* library = dlopen(ORNUTILS_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    const auto member = [library](const char* name) { return dlsym(library, name); };
    std::thread([&] { // whose end runs the library's thread-local destructors, which pin it
        alignas(HTTPcURL) unsigned char http[sizeof(HTTPcURL)];
        std::vector<char> body;
        reinterpret_cast<Construct>(member("_ZN8HTTPcURLC1ERSt6vectorIcSaIcEE"))(http, body);
        reinterpret_cast<Perform>(member("_ZN8HTTPcURL14PerformRequestERKNSt7__cxx1112basic_string"
                                         "IcSt11char_traitsIcESaIcEEES7_S7_"))(
            http, "http://127.0.0.1:1/", "", ""); // refused at once, once the proxy is decided
        reinterpret_cast<void (*)(void*)>(member("_ZN8HTTPcURLD1Ev"))(http);
    })
        .join();
    dlclose(library);
    for (const std::clock_t start = std::clock(); std::clock() < start + CLOCKS_PER_SEC / 10;)
        usleep(1000);
    std::cout << (dlopen(ORNUTILS_LIBRARY, RTLD_NOW | RTLD_NOLOAD) ? "mapped" : "unmapped") << "\n";
}
