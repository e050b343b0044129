#include "app/interrupt.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>

#include <csignal>
#endif

namespace ravoth {
namespace {

std::atomic<bool>* stopFlag = nullptr;
std::atomic<int> exitStatus{0};
std::atomic<bool> handled{false};

void noteInterrupt(int status)
{
    int none = 0;
    exitStatus.compare_exchange_strong(none, status);
    if (stopFlag) stopFlag->store(true);
}

}  // namespace

#ifdef _WIN32

namespace {

BOOL WINAPI onConsoleEvent(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        // A second Ctrl+C while the run is stopping: the person wants out
        // now, not after the run has tidied up.
        if (exitStatus.load() != 0) ExitProcess(130);
        noteInterrupt(130);
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        noteInterrupt(143);
        // The system ends the program as soon as this returns; the run
        // needs the moment to remove the file it was writing.
        for (int waited = 0; waited < 450 && !handled.load(); ++waited) Sleep(10);
        return TRUE;
    default: return FALSE;
    }
}

}  // namespace

void stopOnInterrupt(std::atomic<bool>* flag)
{
    stopFlag = flag;
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

#else

namespace {

// Only lock-free atomics and _exit are touched here, which a signal
// handler may do.
void onSignal(int signalNumber)
{
    // A second Ctrl+C means the person will not wait for the run to tidy up
    // (it may be stuck writing to a pipe nobody reads).
    if (signalNumber == SIGINT && exitStatus.load() != 0) _exit(130);
    noteInterrupt(128 + signalNumber);
}

}  // namespace

void stopOnInterrupt(std::atomic<bool>* flag)
{
    static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free);
    stopFlag = flag;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // Writes go on after the handler; the run notices the flag between
    // them.
    action.sa_flags = SA_RESTART;
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        // One that came ignored was meant to pass the program by: nohup
        // ignores SIGHUP, and a shell ignores SIGINT for a script's
        // background job so that Ctrl+C in the terminal leaves it running.
        struct sigaction inherited {};
        if (sigaction(signalNumber, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN) continue;
        sigaction(signalNumber, &action, nullptr);
    }
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
}

#endif

int interruptExitStatus() { return exitStatus.load(); }

void interruptHandled() { handled.store(true); }

}  // namespace ravoth
