// The failures a test asks of what it calls on its own thread: each test
// holds a fresh plan of its own from its start to its end (test_main.cpp).
// A run holds its own plan (ExtractionRun::faults()), which these do not
// reach.
#pragma once

#include "platform/fault_plan.h"

namespace ravoth {

namespace testing {
FaultPlan& testFaults();
}  // namespace testing

inline void failAllocationAt(long long n) { testing::testFaults().failAllocationAt(n); }
inline long long allocationsAttempted() { return testing::testFaults().allocationsAttempted(); }
inline void resetAllocationCount() { testing::testFaults().resetAllocationCount(); }
inline void failWriteAt(long long n) { testing::testFaults().failWriteAt(n); }
inline void refuseMapping(bool refuse) { testing::testFaults().refuseMapping(refuse); }
inline void refuseSystemCopy(bool refuse) { testing::testFaults().refuseSystemCopy(refuse); }

}  // namespace ravoth
