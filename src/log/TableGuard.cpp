#include "log/TableGuard.h"

#include "log/LevelFile.h"
#include "platform/Signals.h"

#include <OrnUtil/Log.h>

namespace OrnUtil::internal {

namespace {

int32_t* guardedTable = nullptr;
void** guardedView = nullptr;
struct sigaction previous {};

bool InTable(const siginfo_t* info) {
    const auto* table =
        reinterpret_cast<const char*>(__atomic_load_n(&guardedTable, __ATOMIC_ACQUIRE));
    const auto* address = static_cast<const char*>(platform::FaultAddress(info));
    return table != nullptr && address >= table && address < table + TABLE_BYTES;
}

void OnBusError(int signal, siginfo_t* info, void* context) {
    if (!InTable(info))
        return platform::PassOn(signal, info, context, previous);
    MapPrivateTable(guardedTable, WARN);
    __atomic_store_n(guardedView, nullptr, __ATOMIC_RELEASE);
}

// The handler's code goes with the library: at unload the handler from before comes back, unless
// the application has put its own in place since.
struct Installation {
    bool installed = false;
    ~Installation() {
        if (installed)
            platform::RestoreHandler(SIGBUS, OnBusError, previous);
    }
} installation;

} // namespace

void GuardLevelTable(int32_t* table, void** view) {
    __atomic_store_n(&guardedView, view, __ATOMIC_RELAXED);
    __atomic_store_n(&guardedTable, table, __ATOMIC_RELEASE);
    if (installation.installed)
        return;
    installation.installed = platform::InstallHandler(SIGBUS, OnBusError, previous);
}

} // namespace OrnUtil::internal
