#include "job/page_loop.h"

#include <utility>

#include "job/flate_pages.h"

namespace ravoth {

namespace {

PageOutcome pageOutcome(int pageNumber, PageStage stage, int code, int lastPageNumber)
{
    PageOutcome outcome;
    outcome.pageNumber = pageNumber;
    outcome.lastPageNumber = lastPageNumber ? lastPageNumber : pageNumber;
    outcome.stage = stage;
    outcome.code = code;
    return outcome;
}

// The stage of a file whose writing (or adding) gave `file.code`.
PageStage writeStage(const PageFile& file)
{
    if (file.failedStage != PageStage::Written) return file.failedStage;
    return file.isEncoded ? PageStage::WriteFile : file.isBitmap ? PageStage::WriteBmp : PageStage::WriteJpeg;
}

}  // namespace

void PageLoop::settle()
{
    while (takeBack(true)) {}
}

void PageLoop::fail(int pageNumber, PageStage stage, int code, int lastPageNumber)
{
    reportNow(pageOutcome(pageNumber, stage, code, lastPageNumber));
    pageFailed_ = true;
}

void PageLoop::report(int pageNumber, PageStage stage, int code)
{
    reportNow(pageOutcome(pageNumber, stage, code, 0));
}

void PageLoop::failImage(int pageNumber, int imageNumber, bool endsPage, PageStage stage, int code)
{
    PageOutcome outcome = pageOutcome(pageNumber, stage, code, 0);
    outcome.imageNumber = imageNumber;
    outcome.endsPage = endsPage;
    reportNow(std::move(outcome));
    pageFailed_ = true;
}

void PageLoop::makeRoomForPage()
{
    for (;;) {
        while (takeBack(false)) {}
        if (writer_.waitForRoomForPage()) return;
    }
}

void PageLoop::write(PageFile&& file)
{
    while (takeBack(false)) {}
    while (writer_.full(file)) takeBack(true);
    writer_.start(std::move(file));
}

bool PageLoop::end()
{
    settle();
    return pageFailed_;
}

void PageLoop::reportNow(PageOutcome outcome)
{
    settle();
    host_.report(std::move(outcome));
}

PageStage PageLoop::finish(PageFile& file, int* code)
{
    if (file.needsStreaming) {
        // Its turn has come: no later page's outcome is out yet.
        if (host_.isStopped()) return PageStage::Stopped;
        const PageStage stage = inflateByStreaming(file, inflater_, code);
        if (stage != PageStage::Written) return stage;
        writePageFile(file, inflater_);
    }
    if (file.isKeptConverted() && file.code == 0) {
        if (host_.isStopped()) return PageStage::Stopped;
        file.code = file.sink->take(file);
    }
    *code = file.code;
    if (file.code == 0) return file.sink ? file.sink->takenStage() : PageStage::Written;
    // Given up half-way because the run was asked to stop, or its document
    // changed: the page did not fail, and nothing of it was left behind.
    return host_.isStopped() ? PageStage::Stopped : writeStage(file);
}

bool PageLoop::takeBack(bool wait)
{
    PageFile done;
    if (!writer_.takeBack(&done, wait)) return false;
    PageOutcome outcome = pageOutcome(done.pageNumber, PageStage::Written, 0, 0);
    outcome.imageNumber = done.imageNumber;
    outcome.endsPage = done.endsPage;
    outcome.stage = finish(done, &outcome.code);
    if (outcome.stage == PageStage::Written || outcome.stage == PageStage::Listed) {
        outcome.fileName = done.name + done.entryOffset;
        outcome.bytes = done.bytes() + (done.isBitmap ? done.bitmap.headerBytes : 0);
        outcome.facts = done.facts;
        outcome.title = std::move(done.title);
    } else if (outcome.stage != PageStage::Stopped) {
        pageFailed_ = true;
    } else {
        outcome.code = 0;
    }
    host_.report(std::move(outcome));
    return true;
}

}  // namespace ravoth
