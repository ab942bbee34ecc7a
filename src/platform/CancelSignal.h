// The cancel signal of a channel's receive: an event descriptor that any thread can raise and that
// a receive waits on together with its input.
#pragma once

namespace OrnUtil::platform {

// A new signal with nothing pending; -1 when the system has no descriptor left.
int CreateCancelSignal();

// Raises the signal. Raises that nobody consumed in between count as one.
void RaiseCancelSignal(int signal);

void CloseCancelSignal(int signal);

enum class Wake {
    Cancelled, // the signal was raised; the raise is consumed
    Ready,     // the input has data, or its end, or an error to read
    Invalid,   // the input is not an open descriptor
    Failed,    // the wait itself failed; errno tells why
};

// Waits without a time limit for the signal or the input, whichever comes first. When both are
// there at once the signal wins.
Wake WaitSignalOrInput(int signal, int input);

} // namespace OrnUtil::platform
