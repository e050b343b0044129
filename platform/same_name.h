// Whether two output names may reach one file.
#pragma once

namespace ravoth {

// True when the file system may take `a` and `b` for the same file: equal,
// or equal but for the case of letters, which the usual file systems of
// Windows (and some elsewhere) do not tell apart. Erring towards true costs
// a wait, never a file.
bool mayNameSameFile(const char* a, const char* b);

}  // namespace ravoth
