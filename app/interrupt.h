// Stopping a run when the user interrupts the program: Ctrl+C or a request
// to terminate on Linux, Ctrl+C, Ctrl+Break or closing the console window on
// Windows. The run then gives up the file it is writing, so that nothing
// half-written is left behind, and the program ends with the status a shell
// expects after such a signal.
#pragma once

#include <atomic>

namespace ravoth {

// From now on an interrupt turns *flag true instead of ending the program
// at once; on Linux a signal the program was started with ignored stays
// ignored, and a Ctrl+C after the first interrupt ends the program at once
// with 130, without waiting for its run to stop. Also makes a write past
// the file-size limit fail as a write error rather than end the program,
// and a write to a closed pipe fail rather than end it, for the same
// reason. The flag must outlive the program's run.
void stopOnInterrupt(std::atomic<bool>* flag);

// The exit status for the interrupt that came (130 for Ctrl+C or SIGINT,
// 143 for SIGTERM or a closed console, 129 for SIGHUP), 0 while none came.
int interruptExitStatus();

// Tells the interrupt handling that the program has cleaned up and is about
// to end. A closed console window gives a program only a few seconds, so
// the handler waits for this before it lets the system end the program.
void interruptHandled();

}  // namespace ravoth
