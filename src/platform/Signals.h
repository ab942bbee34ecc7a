// Handlers for fault signals, chained in front of the handler that was there before; a signal's
// action read and put back.
#pragma once

#include <csignal>

namespace OrnUtil::platform {

using FaultHandler = void (*)(int signal, siginfo_t* info, void* context);

// Installs `handler` for `signal` and keeps the handler it replaces in `previous`. False when the
// system refuses.
bool InstallHandler(int signal, FaultHandler handler, struct sigaction& previous);

// Puts `previous` back, unless a handler other than `handler` has been installed since.
void RestoreHandler(int signal, FaultHandler handler, const struct sigaction& previous);

// The address of a fault the kernel reported, or null for a signal that a process sent.
const void* FaultAddress(const siginfo_t* info);

// Does what `previous` would have done with the signal: calls its function, ignores a signal sent
// by a process if it ignored them, or else takes the default action as the handler returns (a
// fault is never ignored).
void PassOn(int signal, siginfo_t* info, void* context, const struct sigaction& previous);

// The action for `signal` as it stands.
struct sigaction CurrentAction(int signal);

// Makes `action` the action for `signal`.
void SetAction(int signal, const struct sigaction& action);

} // namespace OrnUtil::platform
