#include "platform/same_name.h"

#include <windows.h>

namespace ravoth {

// Names are compared as the file system compares them: UTF-16 units, case
// ignored for every letter that has a case, not only the ASCII ones.
bool mayNameSameFile(const char* a, const char* b)
{
    WCHAR wideA[MAX_PATH];
    WCHAR wideB[MAX_PATH];
    const int unitsA = MultiByteToWideChar(CP_UTF8, 0, a, -1, wideA, MAX_PATH);
    const int unitsB = MultiByteToWideChar(CP_UTF8, 0, b, -1, wideB, MAX_PATH);
    // A name without a wide form reaches no file; comparing its bytes errs
    // towards a wait.
    if (unitsA <= 0 || unitsB <= 0) return lstrcmpiA(a, b) == 0;
    return CompareStringOrdinal(wideA, -1, wideB, -1, TRUE) == CSTR_EQUAL;
}

}  // namespace ravoth
