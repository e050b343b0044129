// How much slower the sanitizer builds run the code than a plain build, for
// the few tests that bound a time to catch work that grows faster than its
// input: such work takes minutes where the bound allows seconds, so a
// generous factor keeps them sharp.
#pragma once

namespace ravoth::testing {

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
inline constexpr int sanitizerSlowdown = 10;
#else
inline constexpr int sanitizerSlowdown = 1;
#endif

}  // namespace ravoth::testing
