#include "log/TableGuard.h"

#include "log/LevelFile.h"

#include <OrnUtil/Log.h>
#include <csignal>

namespace OrnUtil::internal {

namespace {

int32_t* guardedTable = nullptr;
void** guardedView = nullptr;
struct sigaction previous {};

bool InTable(const siginfo_t* info) {
    const auto* table =
        reinterpret_cast<const char*>(__atomic_load_n(&guardedTable, __ATOMIC_ACQUIRE));
    const auto* address = static_cast<const char*>(info->si_addr);
    // Only the kernel's own reports (a positive code) carry the address of a fault.
    return info->si_code > 0 && table != nullptr && address >= table &&
           address < table + TABLE_BYTES;
}

// What the process would have done without this handler.
void PassOn(int signal, siginfo_t* info, void* context) {
    if ((previous.sa_flags & SA_SIGINFO) != 0)
        return previous.sa_sigaction(signal, info, context);
    if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN)
        return previous.sa_handler(signal);
    if (previous.sa_handler == SIG_IGN && info->si_code <= 0)
        return; // sent by a process, and ignored
    // The default action, taken as the handler returns: a fault is never ignored.
    std::signal(signal, SIG_DFL);
    raise(signal);
}

void OnBusError(int signal, siginfo_t* info, void* context) {
    if (!InTable(info))
        return PassOn(signal, info, context);
    MapPrivateTable(guardedTable, WARN);
    __atomic_store_n(guardedView, nullptr, __ATOMIC_RELEASE);
}

// The handler's code goes with the library: at unload the handler from before comes back, unless
// the application has put its own in place since.
struct Installation {
    bool installed = false;
    ~Installation() {
        struct sigaction current {};
        if (installed && sigaction(SIGBUS, nullptr, &current) == 0 &&
            current.sa_sigaction == OnBusError)
            sigaction(SIGBUS, &previous, nullptr);
    }
} installation;

} // namespace

void GuardLevelTable(int32_t* table, void** view) {
    __atomic_store_n(&guardedView, view, __ATOMIC_RELAXED);
    __atomic_store_n(&guardedTable, table, __ATOMIC_RELEASE);
    if (installation.installed)
        return;
    struct sigaction action {};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    installation.installed = sigaction(SIGBUS, &action, &previous) == 0;
}

} // namespace OrnUtil::internal
