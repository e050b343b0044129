// The pages of any producer's PDF, read by the general reader: each page's
// images in drawing order, the bookmarks' titles as the library gives them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "image/general_image.h"
#include "image/page_format.h"
#include "job/page_source.h"
#include "pdf/general_reader.h"
#include "platform/file.h"

namespace ravoth {

class GeneralSource final : public PageSource {
public:
    struct Settings {
        OutputFormat format = OutputFormat::Bmp;
        FaxForm faxForm = FaxForm::Coded;
        bool readTitles = false;
    };

    // `document` was opened over the view of `file` that starts at `view`,
    // `viewBytes` long.
    GeneralSource(GeneralDocument& document, const InputFile& file, const Byte* view, std::uint64_t viewBytes,
                  const Settings& settings)
        : document_(document), file_(file), view_(view), viewBytes_(viewBytes), settings_(settings)
    {
    }

    int pageCount() const override { return document_.pageCount(); }
    bool readTitles() override;
    ImageStep openPage(int pageIndex, std::size_t* images) override;
    ImageStep describeImage(std::size_t k, PageFile& file, std::string_view* extension) override;
    ImageStep loadImage(PageFile& file, PageLoop& loop) override;
    bool formTitleName(int pageIndex, const OutputNames& names, std::string_view extension,
                       PathBuffer& name) override;
    std::optional<std::string> titleText(int pageIndex) override;

private:
    // Whether image k's coded bytes stand in the file as they are, to be
    // copied from there.
    bool isCopiedInPlace(const GeneralImage& image) const;

    GeneralDocument& document_;
    const InputFile& file_;
    const Byte* view_;
    std::uint64_t viewBytes_;
    const Settings settings_;
    std::vector<GeneralImage> images_;
    const GeneralImage* image_ = nullptr;
    std::vector<std::optional<std::string>> titles_;
};

}  // namespace ravoth
