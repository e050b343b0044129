#include "app/window_batch.h"

#include "job/extraction.h"

namespace ravoth {

WindowBatch::WindowBatch(std::vector<std::string> documents, WindowChoices choices, bool outlineNames,
                         int firstPage, int lastPage)
    : choices_(std::move(choices)), outlineNames_(outlineNames), firstPage_(firstPage), lastPage_(lastPage)
{
    // Every end is made here, on the window's thread, so that the batch's
    // own thread allocates nothing of its own that could fail outside a run.
    ends_.resize(documents.size());
    for (std::size_t index = 0; index < documents.size(); ++index) ends_[index].path = std::move(documents[index]);
}

void WindowBatch::run()
{
    const int documents = documentCount();
    for (int index = 0; index < documents && !stop_.load(); ++index) {
        DocumentEnd& end = ends_[static_cast<std::size_t>(index)];
        ExtractionRun run;
        const std::string base = configureWindowRun(run, choices_, outlineNames_, end.path);
        run.setStopRequest(&stop_);
        if (progress_) {
            run.setProgress([&, document = index + 1](const PageProgress& page) {
                progress_({document, documents, page.pagesDone, page.pagesInRange});
            });
        }
        end.started = true;
        const int result = run.run(end.path.c_str(), firstPage_, lastPage_, base.c_str());
        end.report = reportOf(run, result);
        end.filesWritten = run.filesWritten();
    }
}

BatchStart startBatch(Language language, std::vector<std::string> documents, WindowChoices choices,
                      bool anyProducer, bool outlineNames, const ExtractRequest& request)
{
    choices.anyProducer = choices.anyProducer || anyProducer;
    const FolderCheck folder = prepareOutputFolder(choices);
    if (folder != FolderCheck::Ready) return {nullptr, folderCheckMessage(language, folder, choices.folder)};
    return {std::make_unique<WindowBatch>(std::move(documents), std::move(choices), outlineNames, request.firstPage,
                                          request.lastPage),
            {}};
}

BatchSummary summarizeBatch(Language language, const std::vector<DocumentEnd>& ends)
{
    BatchSummary summary;
    bool stopped = false;
    bool allComplete = true;
    bool anyWritten = false;
    for (const DocumentEnd& end : ends) {
        std::string reason;
        if (!end.started) {
            reason = texts::reasonNotStarted.in(language);
        } else {
            stopped = stopped || end.report.result == extractionStopped;
            anyWritten = anyWritten || end.filesWritten;
            reason = failureReason(language, end.report);
            if (generalReaderWouldRead(end.report)) summary.readableAnyway.push_back(end.path);
        }
        if (reason.empty()) continue;
        allComplete = false;
        if (!summary.reasons.empty()) summary.reasons += '\n';
        summary.reasons += end.path + ": " + reason;
    }
    if (stopped || (!ends.empty() && !ends.back().started)) {
        // What was asked was a stop: nothing is offered to run on.
        summary.message = &texts::cancelled;
        summary.readableAnyway.clear();
    }
    else if (allComplete)
        summary.message = &texts::complete;
    else
        summary.message = anyWritten ? &texts::completePartly : &texts::failure;
    return summary;
}

}  // namespace ravoth
