// The names of a run's page files: the numbered name formed from the output
// base, and the name formed from a page's bookmark title.
#pragma once

#include <cstddef>
#include <string_view>

#include "platform/file.h"

namespace ravoth {

using PathBuffer = char[maxPathBytes + 1];

struct OutputNames {
    // The output base without a final ".pdf" (any case).
    PathBuffer stem;
    std::size_t stemBytes;
    // The bytes of the stem's folder part, found in the whole output base:
    // more than stemBytes when the base is cut and its folder with it.
    std::size_t folderBytes;
    // Page numbers are zero-padded to the digits of the page count.
    int numberWidth;
};

// Sets up the names for a document of `pageCount` pages whose files are
// named from `outputBase`.
void setOutputNames(OutputNames* names, const char* outputBase, int pageCount);

// stem "-" zero-padded page number, extension. False when the name would
// not fit the platform's path length.
bool formNumberedName(const OutputNames& names, int pageNumber, std::string_view extension,
                      PathBuffer& name);

// The stem's folder, the decoded title (`titleBytes` bytes, no NUL needed)
// and the extension, with the title cut so that the whole name fits the
// platform's path length. False when that gives no usable name: nothing of
// the title fits, or it is not a plain file name.
bool formTitleName(const OutputNames& names, const char* title, std::size_t titleBytes,
                   std::string_view extension, PathBuffer& name);

}  // namespace ravoth
