// The documents of one Extract in the window, run one after another on the
// window's worker thread; the window reads the ends once the thread is done.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/window_choices.h"
#include "app/window_logic.h"

namespace ravoth {

struct BatchProgress {
    int document = 1;  // from 1
    int documents = 1;
    int pagesDone = 0;
    int pagesInRange = 0;
};

// How one document of the batch ended. A document the batch never reached
// (it was stopped before) has started false.
struct DocumentEnd {
    std::string path;
    bool started = false;
    RunReport report;
    bool filesWritten = false;
};

class WindowBatch {
public:
    WindowBatch(std::vector<std::string> documents, WindowChoices choices, bool outlineNames, int firstPage,
                int lastPage);

    // Called on the batch's thread after each page of each document.
    void setProgress(std::function<void(const BatchProgress&)> progress) { progress_ = std::move(progress); }

    // Runs every document in order, until the end or a stop request; what
    // each leaves is in ends(). Also for the window's own thread when no
    // other can be had.
    void run();

    // From any thread: the document in hand stops after its page, keeping
    // every whole file, and no further document starts.
    void requestStop() { stop_.store(true); }

    const std::vector<DocumentEnd>& ends() const { return ends_; }
    int documentCount() const { return static_cast<int>(ends_.size()); }

private:
    WindowChoices choices_;
    bool outlineNames_;
    int firstPage_;
    int lastPage_;
    std::function<void(const BatchProgress&)> progress_;
    std::atomic<bool> stop_{false};
    std::vector<DocumentEnd> ends_;
};

// What Extract starts from the window's choices: the batch, or else the
// message that stands in its place (no folder given, or one that cannot be
// made). `anyProducer` adds the general reader, for "Extract anyway".
struct BatchStart {
    std::unique_ptr<WindowBatch> batch;
    std::string message;
};
BatchStart startBatch(Language language, std::vector<std::string> documents, WindowChoices choices,
                      bool anyProducer, bool outlineNames, const ExtractRequest& request);

// The box that ends a batch of several documents: Cancelled when it was
// stopped, else Complete when every document was, Failure when none left a
// file, and Complete but partly between. Below it, one line for each
// document that did not end Complete: its path, ": ", and why.
struct BatchSummary {
    const Text* message = &texts::complete;
    std::string reasons;
    // Documents refused as another producer's that the general reader would
    // read: the box offers to extract them anyway.
    std::vector<std::string> readableAnyway;
};

BatchSummary summarizeBatch(Language language, const std::vector<DocumentEnd>& ends);

}  // namespace ravoth
