// How a Flate page of Mesker's layout is inflated: the bounds that keep a
// forged page from costing the memory and the disk it declares, and the
// ladder of blocks a stream of unknown yield is followed with.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/inflate.h"
#include "job/page_outcome.h"
#include "pdf/page_image.h"
#include "platform/memory.h"

namespace ravoth {

struct PageFile;

// What inflatePage gives for a stream that inflates far past its image.
constexpr int inflationBoundExceeded = -11;
// What a page that declares far more samples than its stream could ever
// yield fails with.
constexpr int declaredBeyondStream = -12;

// The declared samples as a block size; 0 when they are too many to ask
// for (nothing is then known in advance).
std::size_t expectedSampleBytes(const ImageInfo& info);

// Whether a Flate page declares more samples than its stream could yield.
bool declaresMoreThanItsStreamHolds(const ImageInfo& info);

bool isBitmapDepth(std::int32_t bitsPerComponent);

// The first block's size: false when it cannot be represented.
bool firstInflationCapacity(const ImageInfo& info, std::size_t* capacity);

// Whether a page is inflated in one call first (by a writing thread).
bool isWholeInflationTried(const ImageInfo& info);

// Inflates a Flate page into `samples` (a block handed in is the first,
// which the one call did not fill). Returns 0 with the block and its
// produced size, -1 for no memory, inflationBoundExceeded, or inflation's
// code (inflateStopped once a stop flag turned true).
int inflatePage(const ImageInfo& info, WholeInflater& inflater, OwnedBlock<Byte>* samples, std::size_t* produced,
                const StopFlags& stops);

// The stage a failed inflatePage ends its page at.
PageStage inflationStage(int code, bool blockHeld);

// Inflates the streaming way, and converts, a page the one-call inflater
// did not take; Written when its file is ready to be written, else the
// stage it ended at, with its code.
PageStage inflateByStreaming(PageFile& file, WholeInflater& inflater, int* code);

}  // namespace ravoth
