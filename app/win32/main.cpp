// ravoth.exe: the Windows main window.
#include <windows.h>

#include "app/win32/main_window.h"

// The wide entry point, so that the command line keeps every character.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int showState)
{
    return ravoth::win32::runMainWindow(instance, commandLine, showState);
}
