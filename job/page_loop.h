// The run's side of its page files: hands them to the writing threads,
// takes them back in page order and reports each page's outcome, adding an
// archive's entries as they come back.
#pragma once

#include "image/inflate.h"
#include "job/page_files.h"
#include "job/page_outcome.h"

namespace ravoth {

class PageLoop {
public:
    // What the loop asks of the run it serves.
    class Host {
    public:
        // A stop was asked for, or the document was found changed.
        virtual bool isStopped() = 0;
        virtual void report(PageOutcome outcome) = 0;

    protected:
        ~Host() = default;
    };

    // Pages the threads did not take are inflated with `inflater`; the
    // threads hold `faults` as the run's thread does.
    PageLoop(Host& host, WholeInflater& inflater, PageWriting writing, FaultPlan* faults = nullptr)
        : host_(host), inflater_(inflater), writer_(inflater, writing, faults)
    {
    }

    bool holdsName(const char* name) { return writer_.holdsName(name); }

    // Takes back and reports every file in hand, waiting for those still
    // being written.
    void settle();

    // A page that failed, after every file in hand.
    void fail(int pageNumber, PageStage stage, int code, int lastPageNumber = 0);
    // A page that wrote no file, and did not fail, after every file in hand.
    void report(int pageNumber, PageStage stage, int code = 0);
    // One image of a page that draws several, which wrote no file.
    void failImage(int pageNumber, int imageNumber, bool endsPage, PageStage stage, int code);

    // Waits until a thread may take another unconverted page, before the
    // page's block is allocated: no more pages' memory is alive than there
    // are threads to convert them.
    void makeRoomForPage();

    void write(PageFile&& file);

    // Settles the last files; whether any page failed.
    bool end();

private:
    // Reports the oldest file in hand; false when there is none, or when it
    // is still being written and `wait` is false.
    bool takeBack(bool wait);
    // Finishes a file taken back: inflated the streaming way where the
    // threads could not, added to its archive. Its outcome's stage.
    PageStage finish(PageFile& file, int* code);
    void reportNow(PageOutcome outcome);

    Host& host_;
    WholeInflater& inflater_;
    PageFileWriter writer_;
    bool pageFailed_ = false;
};

}  // namespace ravoth
