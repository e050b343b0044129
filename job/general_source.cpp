#include "job/general_source.h"

#include <utility>

#include "image/coded_header.h"
#include "job/page_files.h"
#include "job/page_loop.h"
#include "pdf/title_name.h"

namespace ravoth {

namespace {

// What one page's images may decode to, each: far above any scan (an A0
// page at 1200 dpi in 24-bit colour is 2 GB less a fifth), and a bound on
// what a forged image can make the run hold.
constexpr std::size_t generalImageLimitBytes = std::size_t{1} << 31;

// A title of this many bytes already gives a name past the system's limit.
constexpr std::size_t longestTitleBytes = 4096;

std::string_view codingName(ImageCoding coding)
{
    switch (coding) {
    case ImageCoding::Jpeg: return "jpeg";
    case ImageCoding::Jpx: return "jp2";
    case ImageCoding::Ccitt: return "ccitt";
    case ImageCoding::Jbig2: return "jbig2";
    case ImageCoding::Samples: break;
    }
    return "";
}

// The components a JPEG or JPEG 2000 picture counts in its own header.
std::int32_t codedComponents(ImageCoding coding, const Byte* data, std::size_t bytes)
{
    if (coding == ImageCoding::Jpeg) return jpegComponents(data, bytes);
    return coding == ImageCoding::Jpx ? jpxComponents(data, bytes) : 0;
}

ImageFacts generalFacts(const GeneralImage& image)
{
    ImageFacts facts;
    facts.format = codingName(image.coding);
    facts.width = image.width;
    facts.height = image.height;
    facts.bits = image.bitsPerComponent;
    facts.colours = image.colour == ColourModel::Indexed ? 1 : image.components;
    facts.storedBytes = image.storedBytes;
    facts.dpiX = dotsPerInch(image.width, image.mediaWidth);
    facts.dpiY = dotsPerInch(image.height, image.mediaHeight);
    return facts;
}

std::string_view decodedFormatName(std::string_view extension)
{
    return extension == ".bmp"   ? formatName(OutputFormat::Bmp)
           : extension == ".png" ? formatName(OutputFormat::Png)
                                 : formatName(OutputFormat::Tiff);
}

}  // namespace

bool GeneralSource::readTitles()
{
    if (settings_.readTitles) titles_ = document_.firstBookmarkTitles();
    return true;
}

ImageStep GeneralSource::openPage(int pageIndex, std::size_t* images)
{
    images_.clear();
    image_ = nullptr;
    const GeneralStatus listed = document_.pageImages(pageIndex, &images_);
    if (listed == GeneralStatus::Stopped) return {PageStage::Stopped, 0};
    if (listed != GeneralStatus::Ok) return {PageStage::Decode, static_cast<std::int32_t>(listed)};
    if (images_.empty()) return {PageStage::NoImage, 0};
    *images = images_.size();
    return {};
}

bool GeneralSource::isCopiedInPlace(const GeneralImage& image) const
{
    return image.inPlaceOffset >= 0 && static_cast<std::uint64_t>(image.inPlaceOffset) + image.storedBytes <= viewBytes_;
}

ImageStep GeneralSource::describeImage(std::size_t k, PageFile& file, std::string_view* extension)
{
    const GeneralImage& image = images_[k];
    image_ = &image;
    file.facts = generalFacts(image);
    // Coded bytes that stand in the file as they are go from there to the
    // page file, as a JPEG page of Mesker's does.
    if (isCopiedInPlace(image)) {
        file.jpegSource = &file_;
        file.jpegView = view_ + image.inPlaceOffset;
        file.jpegOffset = static_cast<std::uint64_t>(image.inPlaceOffset);
        file.jpegBytes = static_cast<std::size_t>(image.storedBytes);
        if (file.facts.colours == 0) file.facts.colours = codedComponents(image.coding, file.jpegView, file.jpegBytes);
        *extension = image.coding == ImageCoding::Jpeg ? ".jpg" : ".jp2";
        return {};
    }
    *extension = imageFileExtension(image, settings_.format, settings_.faxForm);
    file.isBitmap = true;
    file.isEncoded = *extension != ".bmp";
    if (image.coding == ImageCoding::Samples) file.facts.format = decodedFormatName(*extension);
    return {};
}

ImageStep GeneralSource::loadImage(PageFile& file, PageLoop& loop)
{
    const GeneralImage& image = *image_;
    if (!file.isBitmap) return {};
    loop.makeRoomForPage();
    PendingImage pending;
    const GeneralStatus read = document_.imageData(image, generalImageLimitBytes, &pending.data, &pending.globals);
    if (read == GeneralStatus::Stopped) return {PageStage::Stopped, 0};
    if (read != GeneralStatus::Ok) return {PageStage::Decode, static_cast<std::int32_t>(read)};
    if (file.facts.colours == 0)
        file.facts.colours = codedComponents(image.coding, pending.data.block.get(), pending.data.bytes);
    pending.image = image;
    pending.decodeLimit = generalImageLimitBytes;
    pending.format = settings_.format;
    pending.faxForm = settings_.faxForm;
    pending.extension = imageFileExtension(image, settings_.format, settings_.faxForm);
    file.decoded = std::move(pending);
    return {};
}

bool GeneralSource::formTitleName(int pageIndex, const OutputNames& names, std::string_view extension,
                                  PathBuffer& name)
{
    if (pageIndex < 0 || static_cast<std::size_t>(pageIndex) >= titles_.size()) return false;
    const std::optional<std::string>& title = titles_[static_cast<std::size_t>(pageIndex)];
    if (!title || title->size() > longestTitleBytes) return false;
    const int capacity = titleBufferBytes(static_cast<int>(title->size()) + 2);
    OwnedBlock<char> text(reinterpret_cast<char*>(allocBlock(static_cast<std::size_t>(capacity))));
    if (!text) return false;
    const int textBytes = titleBytesToFileName(reinterpret_cast<const Byte*>(title->data()),
                                               static_cast<int>(title->size()), text.get(), capacity);
    if (textBytes < 1) return false;
    return ravoth::formTitleName(names, text.get(), static_cast<std::size_t>(textBytes), extension, name);
}

std::optional<std::string> GeneralSource::titleText(int pageIndex)
{
    if (pageIndex < 0 || static_cast<std::size_t>(pageIndex) >= titles_.size()) return std::nullopt;
    const std::optional<std::string>& title = titles_[static_cast<std::size_t>(pageIndex)];
    return title ? titleBytesToText(*title) : std::nullopt;
}

}  // namespace ravoth
