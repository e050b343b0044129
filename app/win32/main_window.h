// The program's one window on Win32: start-up, the window and its controls,
// the commands, drag and drop, and the message loop.
#pragma once

#include <windows.h>

namespace ravoth::win32 {

// Runs the program from start-up to the end of the message loop. Returns
// the quit message's parameter, or 0 when the window class or the window
// cannot be made.
int runMainWindow(HINSTANCE instance, const wchar_t* commandLine, int showState);

}  // namespace ravoth::win32
