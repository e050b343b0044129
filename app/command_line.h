// The program's arguments as the front ends read them.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace ravoth {

// The arguments after the program's name, as UTF-8 on Windows (read from
// the system's UTF-16 command line, so that no character outside the ANSI
// code page is lost) and as the bytes `argv` holds on Linux.
std::vector<std::string> commandLineArguments(int argc, char** argv);

// Whether `stream` (stdout or stderr) is a terminal or console, where a line
// may be written over in place.
bool isTerminal(std::FILE* stream);

}  // namespace ravoth
