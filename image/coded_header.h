// What a coded picture's own header says of it, for the images a PDF stores
// without naming their colour space: JPEG 2000 may leave it to its header,
// and a JPEG's frame header counts its components whatever the PDF claims.
#pragma once

#include <cstddef>

#include "pdf/primitives.h"

namespace ravoth {

// Components of a JPEG's frame (1 grey, 3 colour, 4 CMYK); 0 when no frame
// header stands in the `bytes` bytes at `data` before the scan.
int jpegComponents(const Byte* data, std::size_t bytes);

// Components of a JPEG 2000 image, from the JP2 file's image header box or
// a bare code stream's SIZ segment; 0 when neither reads.
int jpxComponents(const Byte* data, std::size_t bytes);

}  // namespace ravoth
