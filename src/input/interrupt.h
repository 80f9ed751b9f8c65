// SIGINT and SIGTERM as a request to stop: the handler only records the
// signal and wakes whoever waits for input, so that the program can finish
// what it has (flush the character in progress, print its summary) and end
// with the status a shell expects (128 + the signal number).
#pragma once

namespace talvo {

// Installs the handlers for SIGINT and SIGTERM. System calls they interrupt
// are not restarted: a read that blocks on a pipe returns with EINTR.
// Returns false when the handlers cannot be installed.
bool catch_interrupts();

// The signal that asked to stop (SIGINT or SIGTERM), or 0.
int interrupted();

// A descriptor that becomes readable once a stop was requested (the read
// end of a self-pipe), for poll() next to an input; -1 before
// catch_interrupts().
int interrupt_fd();

// Forgets a request (tests run several decodes in one process).
void clear_interrupt();

}  // namespace talvo
