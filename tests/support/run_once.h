// One extraction run over a document, as the front ends make one, with what
// a test looks at afterwards.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "job/extraction.h"

namespace ravoth::testing {

struct RunOnce {
    int result = 0;
    long long allocations = 0;  // the run's, on every thread
    bool written = false;
    std::int32_t lastError = 0;
    std::vector<PageOutcome> outcomes;
};

// Every page file goes through a writing thread, however small, so that the
// tests of the job run that path.
inline constexpr PageWriting allOnThreads{0, 2};

// Extracts pages first to last of `pdf` (0: an open end), forming names from
// `base` (the PDF's own path when empty).
// `arm` asks the run's fault plan for the failures a test wants.
inline RunOnce runOnce(const std::string& pdf, int first = 0, int last = 0, const std::string& base = {},
                       bool outlineNames = false, PageWriting writing = allOnThreads,
                       const std::function<void(FaultPlan&)>& arm = {})
{
    ExtractionRun run;
    run.setOutlineNames(outlineNames);
    run.setPageWriting(writing);
    run.faults().resetAllocationCount();
    if (arm) arm(run.faults());
    RunOnce once;
    once.result = run.run(pdf.c_str(), first, last, base.empty() ? pdf.c_str() : base.c_str());
    once.allocations = run.faults().allocationsAttempted();
    once.written = run.filesWritten();
    once.lastError = run.lastError();
    once.outcomes = run.pageOutcomes();
    return once;
}

}  // namespace ravoth::testing
