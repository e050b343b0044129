// The page list (--list): one JSON object a line for each image a run would
// write, for scripts to read.
#pragma once

#include <string>

#include "job/extraction.h"

namespace ravoth {

// One line of the list, newline included: what the image is and the file a
// run would write for it, with `pdf` first where given (several
// documents). Bytes that are no UTF-8 (a name in another locale's
// encoding) show as U+FFFD.
std::string listingLine(const PageOutcome& outcome, const std::string* pdf);

}  // namespace ravoth
