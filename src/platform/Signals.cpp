#include "platform/Signals.h"

namespace OrnUtil::platform {

bool InstallHandler(int signal, FaultHandler handler, struct sigaction& previous) {
    struct sigaction action {};
    action.sa_sigaction = handler;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    return sigaction(signal, &action, &previous) == 0;
}

void RestoreHandler(int signal, FaultHandler handler, const struct sigaction& previous) {
    struct sigaction current {};
    if (sigaction(signal, nullptr, &current) == 0 && current.sa_sigaction == handler)
        sigaction(signal, &previous, nullptr);
}

const void* FaultAddress(const siginfo_t* info) {
    // Only the kernel's own reports (a positive code) carry an address.
    return info->si_code > 0 ? info->si_addr : nullptr;
}

void PassOn(int signal, siginfo_t* info, void* context, const struct sigaction& previous) {
    if ((previous.sa_flags & SA_SIGINFO) != 0)
        return previous.sa_sigaction(signal, info, context);
    if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN)
        return previous.sa_handler(signal);
    if (previous.sa_handler == SIG_IGN && info->si_code <= 0)
        return;
    std::signal(signal, SIG_DFL);
    raise(signal);
}

struct sigaction CurrentAction(int signal) {
    struct sigaction current {};
    sigaction(signal, nullptr, &current);
    return current;
}

void SetAction(int signal, const struct sigaction& action) {
    sigaction(signal, &action, nullptr);
}

} // namespace OrnUtil::platform
