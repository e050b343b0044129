// ravoth.exe: the Windows main window.
#include <windows.h>

#include "app/win32/main_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showState)
{
    return ravoth::win32::runMainWindow(instance, commandLine, showState);
}
