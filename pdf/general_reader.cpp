#include "pdf/general_reader.h"

#include "platform/allocation_ceiling.h"
#include "platform/growing_block.h"

#include <qpdf/Buffer.hh>
#include <qpdf/BufferInputSource.hh>
#include <qpdf/Pipeline.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFNameTreeObjectHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFTokenizer.hh>

#include <algorithm>
#include <cmath>
#include <functional>
#include <cstring>
#include <limits>
#include <map>
#include <set>
#include <stdexcept>
#include <string_view>

namespace ravoth {

namespace {

// A page's content streams and forms are decoded to be searched for the
// images they draw; scanned pages hold a few hundred bytes of them, and a
// page that decodes to more than this is no scan but a trap.
constexpr std::size_t contentLimitBytes = std::size_t{64} << 20;
// Forms drawn inside forms: deeper than this is a loop or a trap.
constexpr int formDepthLimit = 12;
// Form XObjects entered on one page, however they nest.
constexpr int formsPerPageLimit = 4096;
// A page's images written: more is a trap, not a scan.
constexpr std::size_t imagesPerPageLimit = 4096;
// Bookmarks followed, against an outline tree that links back into itself
// or holds millions of entries to cost time.
constexpr std::size_t bookmarkLimit = 1'000'000;

// Why a sink stopped taking bytes, kept in the sink: the library may catch
// what a pipeline throws and report only that the stream failed.
enum class SinkEnd { Open, Full, OverLimit, NoMemory, Stopped };

struct SinkAbort : std::runtime_error {
    SinkAbort() : std::runtime_error("sink closed") {}
};

// Gathers a stream's bytes into one of the core's blocks, no further than a
// limit: a block of exactly `exact` bytes that ends the stream when full, or
// one that grows up to `limit`.
class BlockSink final : public Pipeline {
public:
    BlockSink(std::size_t exact, std::size_t limit, const StopFlags& stops)
        : Pipeline("block sink", nullptr), exact_(exact), stops_(stops), growing_(limit)
    {
    }

    bool reserve()
    {
        if (exact_ == 0) return true;
        block_.reset(allocZeroedBlock(exact_));
        if (block_) return true;
        end_ = SinkEnd::NoMemory;
        return false;
    }

    void write(unsigned char const* data, size_t length) override
    {
        if (end_ == SinkEnd::Full) return;
        if (end_ != SinkEnd::Open) throw SinkAbort();
        if (stops_.isRaised()) close(SinkEnd::Stopped);
        if (exact_ == 0) {
            if (!growing_.write(data, length))
                close(length > limitLeft() ? SinkEnd::OverLimit : SinkEnd::NoMemory);
            return;
        }
        const std::size_t taken = std::min(length, exact_ - bytes_);
        std::memcpy(block_.get() + bytes_, data, taken);
        bytes_ += taken;
        // Every row is in: what follows is padding, or a bomb's tail.
        if (bytes_ == exact_) close(SinkEnd::Full);
    }

    void finish() override {}

    SinkEnd end() const { return end_; }
    std::size_t bytes() const { return exact_ ? bytes_ : growing_.size(); }
    void handTo(StreamBytes* out)
    {
        if (exact_) {
            out->block = std::move(block_);
            out->bytes = bytes_;
        } else {
            out->block = growing_.take(&out->bytes);
        }
    }

private:
    [[noreturn]] void close(SinkEnd why)
    {
        end_ = why;
        throw SinkAbort();
    }

    std::size_t limitLeft() const { return growing_.limit() - growing_.size(); }

    const std::size_t exact_;
    const StopFlags& stops_;
    OwnedBlock<Byte> block_;
    std::size_t bytes_ = 0;
    GrowingBlock growing_;
    SinkEnd end_ = SinkEnd::Open;
};

GeneralStatus statusOf(SinkEnd end)
{
    switch (end) {
    case SinkEnd::NoMemory: return GeneralStatus::NoMemory;
    case SinkEnd::Stopped: return GeneralStatus::Stopped;
    case SinkEnd::OverLimit: return GeneralStatus::TooLarge;
    default: return GeneralStatus::Truncated;
    }
}

// Runs one stream through the library into `sink`; Ok when the whole
// stream (or, for an exact sink, every declared byte) arrived.
GeneralStatus pipeInto(QPDFObjectHandle stream, BlockSink& sink, qpdf_stream_decode_level_e level)
{
    bool filtered = false;
    bool succeeded = false;
    try {
        succeeded = stream.pipeStreamData(&sink, &filtered, 0, level, true, false);
    } catch (const std::exception&) {
        succeeded = false;
    }
    if (sink.end() == SinkEnd::Full) return GeneralStatus::Ok;
    if (sink.end() != SinkEnd::Open) return statusOf(sink.end());
    // Asked to decode, the library declined: a filter or parameter it
    // does not know. Handed on raw, such bytes would be wrong pixels.
    if (level != qpdf_dl_none && !filtered) return GeneralStatus::Unsupported;
    return succeeded ? GeneralStatus::Ok : GeneralStatus::Truncated;
}

std::int32_t intValue(QPDFObjectHandle object, std::int32_t fallback)
{
    if (!object.isInteger()) return fallback;
    const long long value = object.getIntValue();
    if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max())
        return fallback;
    return static_cast<std::int32_t>(value);
}

bool boolValue(QPDFObjectHandle object, bool fallback)
{
    return object.isBool() ? object.getBoolValue() : fallback;
}

// The stream's filters and their parameters, as parallel lists.
void filterChain(QPDFObjectHandle dict, std::vector<std::string>* filters, std::vector<QPDFObjectHandle>* parms)
{
    QPDFObjectHandle filter = dict.getKey("/Filter");
    QPDFObjectHandle parm = dict.getKey("/DecodeParms");
    if (parm.isNull()) parm = dict.getKey("/DP");
    if (filter.isName()) {
        filters->push_back(filter.getName());
        parms->push_back(parm.isArray() ? parm.getArrayItem(0) : parm);
        return;
    }
    if (!filter.isArray()) return;
    const int count = filter.getArrayNItems();
    for (int i = 0; i < count; ++i) {
        QPDFObjectHandle item = filter.getArrayItem(i);
        filters->push_back(item.isName() ? item.getName() : std::string());
        parms->push_back(parm.isArray() ? parm.getArrayItem(i) : (i == 0 ? parm : QPDFObjectHandle::newNull()));
    }
}

// The filters that only pack bytes, which the library undoes.
bool isPackingFilter(const std::string& filter)
{
    static constexpr std::string_view names[] = {"/FlateDecode",    "/Fl",  "/LZWDecode",       "/LZW",
                                                 "/ASCIIHexDecode", "/AHx", "/ASCII85Decode",   "/A85",
                                                 "/RunLengthDecode", "/RL"};
    return std::find(std::begin(names), std::end(names), filter) != std::end(names);
}

ImageCoding codingOf(const std::string& lastFilter)
{
    if (lastFilter == "/DCTDecode" || lastFilter == "/DCT") return ImageCoding::Jpeg;
    if (lastFilter == "/JPXDecode") return ImageCoding::Jpx;
    if (lastFilter == "/CCITTFaxDecode" || lastFilter == "/CCF") return ImageCoding::Ccitt;
    if (lastFilter == "/JBIG2Decode") return ImageCoding::Jbig2;
    return ImageCoding::Samples;
}

// Reads a colour space into the image: device and calibrated spaces, ICC
// profiles by their component count, and Indexed over any of those.
void readColourSpace(QPDFObjectHandle space, QPDFObjectHandle resources, GeneralImage* image, int depth = 0)
{
    image->colour = ColourModel::Unsupported;
    if (depth > 4) return;
    if (space.isName()) {
        const std::string name = space.getName();
        if (name == "/DeviceGray" || name == "/G" || name == "/CalGray") {
            image->colour = ColourModel::Gray;
            image->components = 1;
        } else if (name == "/DeviceRGB" || name == "/RGB") {
            image->colour = ColourModel::Rgb;
            image->components = 3;
        } else if (name == "/DeviceCMYK" || name == "/CMYK") {
            image->colour = ColourModel::Cmyk;
            image->components = 4;
        } else if (resources.isDictionary()) {
            QPDFObjectHandle named = resources.getKey("/ColorSpace");
            if (named.isDictionary() && named.hasKey(name))
                readColourSpace(named.getKey(name), QPDFObjectHandle::newNull(), image, depth + 1);
        }
        return;
    }
    if (!space.isArray() || space.getArrayNItems() < 1) return;
    QPDFObjectHandle family = space.getArrayItem(0);
    if (!family.isName()) return;
    const std::string name = family.getName();
    if (name == "/CalGray" || name == "/CalRGB" || name == "/CalCMYK") {
        readColourSpace(QPDFObjectHandle::newName(name == "/CalGray" ? "/DeviceGray"
                                                  : name == "/CalRGB" ? "/DeviceRGB"
                                                                      : "/DeviceCMYK"),
                        resources, image, depth + 1);
    } else if (name == "/ICCBased" && space.getArrayNItems() >= 2) {
        QPDFObjectHandle profile = space.getArrayItem(1);
        const int n = profile.isStream() ? intValue(profile.getDict().getKey("/N"), 0) : 0;
        const char* device = n == 1 ? "/DeviceGray" : n == 3 ? "/DeviceRGB" : n == 4 ? "/DeviceCMYK" : nullptr;
        if (device) readColourSpace(QPDFObjectHandle::newName(device), resources, image, depth + 1);
    } else if ((name == "/Indexed" || name == "/I") && space.getArrayNItems() >= 4) {
        GeneralImage base;
        readColourSpace(space.getArrayItem(1), resources, &base, depth + 1);
        if (base.colour != ColourModel::Gray && base.colour != ColourModel::Rgb &&
            base.colour != ColourModel::Cmyk)
            return;
        const std::int32_t hival = intValue(space.getArrayItem(2), -1);
        if (hival < 0 || hival > 255) return;
        QPDFObjectHandle lookup = space.getArrayItem(3);
        std::string table;
        if (lookup.isString()) {
            table = lookup.getStringValue();
        } else if (lookup.isStream()) {
            StopFlags none;
            BlockSink sink(0, 4 * 256, none);
            if (pipeInto(lookup, sink, qpdf_dl_specialized) != GeneralStatus::Ok) return;
            StreamBytes bytes;
            sink.handTo(&bytes);
            table.assign(reinterpret_cast<const char*>(bytes.block.get()), bytes.bytes);
        }
        const std::size_t needed = static_cast<std::size_t>(hival + 1) * static_cast<std::size_t>(base.components);
        if (table.size() < needed) return;
        table.resize(needed);
        image->colour = ColourModel::Indexed;
        image->components = base.components;
        image->indexedHival = hival;
        image->palette = std::move(table);
        // The base space's model decides how the looked-up colours are written.
        image->paletteModel = base.colour;
    }
}

// Reads what an image XObject's dictionary says about its samples.
bool describeImage(QPDFObjectHandle stream, QPDFObjectHandle resources, GeneralImage* image)
{
    QPDFObjectHandle dict = stream.getDict();
    std::vector<std::string> filters;
    std::vector<QPDFObjectHandle> parms;
    filterChain(dict, &filters, &parms);
    image->coding = filters.empty() ? ImageCoding::Samples : codingOf(filters.back());
    image->width = intValue(dict.getKey("/Width"), 0);
    image->height = intValue(dict.getKey("/Height"), 0);
    image->imageMask = boolValue(dict.getKey("/ImageMask"), false) || boolValue(dict.getKey("/IM"), false);
    image->bitsPerComponent = image->imageMask ? 1 : intValue(dict.getKey("/BitsPerComponent"), 0);
    const std::int64_t length = dict.getKey("/Length").isInteger() ? dict.getKey("/Length").getIntValue() : 0;
    image->storedBytes = length > 0 ? static_cast<std::uint64_t>(length) : 0;
    if (image->imageMask) {
        image->colour = ColourModel::Gray;
        image->components = 1;
    } else if (image->coding == ImageCoding::Samples || image->coding == ImageCoding::Ccitt ||
               image->coding == ImageCoding::Jbig2) {
        QPDFObjectHandle space = dict.getKey("/ColorSpace");
        if (space.isNull()) space = dict.getKey("/CS");
        // Fax and JBIG2 data are one bit of grey whatever the dictionary says.
        if (image->coding != ImageCoding::Samples) {
            image->colour = ColourModel::Gray;
            image->components = 1;
            image->bitsPerComponent = 1;
        } else {
            readColourSpace(space, resources, image);
        }
    } else {
        // JPEG and JPEG 2000 hold their own colour: a space the dictionary
        // names only counts their components, and where it names none (or
        // one not read here) the picture's header counts them (0 until then).
        QPDFObjectHandle space = dict.getKey("/ColorSpace");
        if (space.isNull()) space = dict.getKey("/CS");
        readColourSpace(space, resources, image);
        if (image->colour == ColourModel::Unsupported || image->colour == ColourModel::Indexed) {
            image->colour = ColourModel::Unsupported;
            image->components = 0;
        }
    }
    QPDFObjectHandle decode = dict.getKey("/Decode");
    if (decode.isNull()) decode = dict.getKey("/D");
    if (decode.isArray()) {
        const int count = decode.getArrayNItems();
        for (int i = 0; i < count && i < 64; ++i) {
            QPDFObjectHandle item = decode.getArrayItem(i);
            image->decode.push_back(item.isNumber() ? item.getNumericValue() : 0.0);
        }
    }
    if (image->coding == ImageCoding::Ccitt && !parms.empty() && parms.back().isDictionary()) {
        QPDFObjectHandle p = parms.back();
        image->ccittK = intValue(p.getKey("/K"), 0);
        image->ccittColumns = intValue(p.getKey("/Columns"), 1728);
        image->ccittRows = intValue(p.getKey("/Rows"), 0);
        image->ccittBlackIs1 = boolValue(p.getKey("/BlackIs1"), false);
        image->ccittByteAligned = boolValue(p.getKey("/EncodedByteAlign"), false);
    } else if (image->coding == ImageCoding::Ccitt) {
        image->ccittK = 0;
    }
    return true;
}

// The names a content stream draws with "Do", in order.
std::vector<std::string> drawnNames(Byte* content, std::size_t bytes)
{
    std::vector<std::string> names;
    Buffer buffer(content, bytes);
    auto input = std::make_shared<BufferInputSource>("content", &buffer, false);
    QPDFTokenizer tokenizer;
    tokenizer.allowEOF();
    std::string operand;
    for (;;) {
        const QPDFTokenizer::Token token = tokenizer.readToken(input, "content", true, 0);
        const auto type = token.getType();
        if (type == QPDFTokenizer::tt_eof) break;
        if (type == QPDFTokenizer::tt_name) {
            operand = token.getValue();
            continue;
        }
        if (type == QPDFTokenizer::tt_word) {
            const std::string& word = token.getValue();
            if (word == "Do" && !operand.empty()) names.push_back(operand);
            // Inline image data is binary and must not be read as tokens.
            else if (word == "ID") tokenizer.expectInlineImage(input);
        }
        operand.clear();
    }
    return names;
}

// Lists the leaves of the page tree under `node` in page order. False when
// the walk takes more than `visits` node visits (a tree listing nodes over
// and over, or in a loop), goes deeper than any real tree, or is stopped.
bool collectPageObjects(QPDFObjectHandle node, int depth, std::size_t& visits, std::vector<QPDFObjectHandle>& pages,
                        const StopFlags& stops)
{
    constexpr int depthLimit = 64;
    if (visits == 0 || depth > depthLimit) return false;
    --visits;
    if ((visits & 1023) == 0 && stops.isRaised()) return false;
    if (!node.isDictionary()) return true;
    QPDFObjectHandle type = node.getKey("/Type");
    QPDFObjectHandle kids = node.getKey("/Kids");
    const bool isLeaf = (type.isName() && type.getName() == "/Page") || !kids.isArray();
    if (isLeaf) {
        pages.push_back(node);
        return true;
    }
    const int count = kids.getArrayNItems();
    for (int i = 0; i < count; ++i)
        if (!collectPageObjects(kids.getArrayItem(i), depth + 1, visits, pages, stops)) return false;
    return true;
}

}  // namespace

std::uint64_t declaredImageBytes(const GeneralImage& image)
{
    if (image.width <= 0 || image.height <= 0 || image.bitsPerComponent <= 0 || image.bitsPerComponent > 16)
        return 0;
    const std::uint64_t samplesPerPixel = image.colour == ColourModel::Indexed ? 1 : static_cast<std::uint64_t>(image.components);
    const std::uint64_t rowBits = static_cast<std::uint64_t>(image.width) * samplesPerPixel *
                                  static_cast<std::uint64_t>(image.bitsPerComponent);
    return (rowBits + 7) / 8 * static_cast<std::uint64_t>(image.height);
}

// What the library may take in one allocation while it reads a document of
// `bytes` bytes: far above what any sound document asks of it, far below
// what a number forged into a stream's parameters (a predictor's row of
// gigabytes) would take.
std::size_t libraryCeilingFor(std::size_t bytes)
{
    constexpr std::size_t base = std::size_t{256} << 20;
    return bytes > std::numeric_limits<std::size_t>::max() - base ? bytes : base + bytes;
}

struct GeneralDocument::State {
    QPDF pdf;
    const Byte* data = nullptr;
    std::size_t bytes = 0;
    // Where each object of the file's own tables starts; empty for an
    // encrypted document, whose stream bytes are never the image's.
    std::map<QPDFObjGen, qpdf_offset_t> offsets;
    std::vector<QPDFObjectHandle> pages;
    std::vector<QPDFObjectHandle> images;  // of the page last listed
    StopFlags stops;
    int formsEntered = 0;
};

GeneralDocument::GeneralDocument() = default;
GeneralDocument::~GeneralDocument() = default;

GeneralStatus GeneralDocument::open(const Byte* data, std::size_t bytes, const StopFlags& stops)
{
    state_ = std::make_unique<State>();
    state_->stops = stops;
    const AllocationCeiling ceiling(libraryCeilingFor(bytes));
    try {
        state_->pdf.setSuppressWarnings(true);
        state_->pdf.processMemoryFile("document", reinterpret_cast<const char*>(data), bytes, "");
        state_->data = data;
        state_->bytes = bytes;
        const bool encrypted = state_->pdf.isEncrypted();
        std::size_t objects = 0;
        for (const auto& [id, entry] : state_->pdf.getXRefTable()) {
            objects = std::max(objects, static_cast<std::size_t>(std::max(id.getObj(), 0)));
            if (!encrypted && entry.getType() == 1) state_->offsets.emplace(id, entry.getOffset());
        }
        // The library's own page list copies a page object for every
        // further listing of it: a tree listing one large page thousands of
        // times would cost gigabytes. The tree is walked here instead, with
        // no more visits than twice the document's objects, counted by the
        // highest number its tables give: the library's own count first
        // parses every object of the file to find those referred to but
        // missing, which cost a damaged document more than all the rest of
        // its opening.
        std::size_t visits = 2 * objects + 16;
        if (!collectPageObjects(state_->pdf.getRoot().getKey("/Pages"), 0, visits, state_->pages, stops))
            state_->pages.clear();
    } catch (const QPDFExc& e) {
        state_.reset();
        if (e.getErrorCode() == qpdf_e_password) return GeneralStatus::Encrypted;
        return GeneralStatus::Damaged;
    } catch (const std::bad_alloc&) {
        state_.reset();
        return ceiling.wasReached() ? GeneralStatus::Damaged : GeneralStatus::NoMemory;
    } catch (const std::exception&) {
        state_.reset();
        return GeneralStatus::Damaged;
    }
    if (state_->pages.empty()) {
        state_.reset();
        return GeneralStatus::Damaged;
    }
    return GeneralStatus::Ok;
}

int GeneralDocument::pageCount() const
{
    if (!state_) return 0;
    const std::size_t count = state_->pages.size();
    return count > static_cast<std::size_t>(std::numeric_limits<int>::max()) ? std::numeric_limits<int>::max()
                                                                             : static_cast<int>(count);
}

namespace {

struct ImageWalk {
    std::function<std::int64_t(QPDFObjectHandle, const GeneralImage&)> inPlace;
    std::vector<QPDFObjectHandle>* found;
    std::vector<GeneralImage>* images;
    std::set<QPDFObjGen> seen;
    std::size_t contentBytes = 0;
    int formsEntered = 0;
    const StopFlags* stops;
};

GeneralStatus walkContent(ImageWalk& walk, QPDFObjectHandle resources, const std::vector<std::string>& names,
                          std::vector<QPDFObjGen>& formStack);

// Decodes one content stream (or a page's several, joined) and follows what
// it draws.
template <typename Pipe>
GeneralStatus walkStream(ImageWalk& walk, QPDFObjectHandle resources, Pipe pipe, std::vector<QPDFObjGen>& formStack)
{
    BlockSink sink(0, contentLimitBytes - walk.contentBytes, *walk.stops);
    try {
        pipe(sink);
    } catch (const std::exception&) {
        if (sink.end() == SinkEnd::Open) throw;
    }
    if (sink.end() == SinkEnd::Stopped) return GeneralStatus::Stopped;
    if (sink.end() == SinkEnd::NoMemory) return GeneralStatus::NoMemory;
    if (sink.end() == SinkEnd::OverLimit) return GeneralStatus::TooLarge;
    walk.contentBytes += sink.bytes();
    StreamBytes content;
    sink.handTo(&content);
    const std::vector<std::string> names = drawnNames(content.block.get(), content.bytes);
    content.block.reset();
    return walkContent(walk, resources, names, formStack);
}

GeneralStatus walkContent(ImageWalk& walk, QPDFObjectHandle resources, const std::vector<std::string>& names,
                          std::vector<QPDFObjGen>& formStack)
{
    QPDFObjectHandle xobjects = resources.isDictionary() ? resources.getKey("/XObject") : QPDFObjectHandle::newNull();
    if (!xobjects.isDictionary()) return GeneralStatus::Ok;
    for (const std::string& name : names) {
        if (walk.stops->isRaised()) return GeneralStatus::Stopped;
        QPDFObjectHandle xobject = xobjects.getKey(name);
        if (!xobject.isStream()) continue;
        QPDFObjectHandle dict = xobject.getDict();
        QPDFObjectHandle subtype = dict.getKey("/Subtype");
        if (!subtype.isName()) continue;
        const QPDFObjGen id = xobject.getObjGen();
        if (subtype.getName() == "/Image") {
            if (!walk.seen.insert(id).second) continue;
            if (walk.images->size() >= imagesPerPageLimit) return GeneralStatus::TooLarge;
            GeneralImage image;
            describeImage(xobject, resources, &image);
            image.inPlaceOffset = walk.inPlace(xobject, image);
            image.index = walk.found->size();
            walk.found->push_back(xobject);
            walk.images->push_back(std::move(image));
        } else if (subtype.getName() == "/Form") {
            if (formStack.size() >= formDepthLimit || ++walk.formsEntered > formsPerPageLimit) continue;
            if (std::find(formStack.begin(), formStack.end(), id) != formStack.end()) continue;
            QPDFObjectHandle formResources = dict.getKey("/Resources");
            if (!formResources.isDictionary()) formResources = resources;
            formStack.push_back(id);
            const GeneralStatus status = walkStream(
                walk, formResources,
                [&](BlockSink& sink) { pipeInto(xobject, sink, qpdf_dl_generalized); }, formStack);
            formStack.pop_back();
            if (status != GeneralStatus::Ok) return status;
        }
    }
    return GeneralStatus::Ok;
}

}  // namespace

namespace {

// Finds the bytes of a stream whose only filter is the image's own where
// they stand in the file: after the "stream" keyword that follows the
// object's start, and followed by "endstream" where its /Length ends them.
// Anything else (a /Length the library had to correct, a keyword it could
// be mistaken for) leaves the stream to the library: -1.
std::int64_t findInPlace(const Byte* data, std::size_t bytes, qpdf_offset_t objectOffset, std::uint64_t length)
{
    // No image dictionary is longer than this.
    constexpr std::size_t dictionaryReach = 64 * 1024;
    if (objectOffset < 0 || static_cast<std::uint64_t>(objectOffset) >= bytes) return -1;
    const std::string_view file(reinterpret_cast<const char*>(data), bytes);
    const auto from = static_cast<std::size_t>(objectOffset);
    const std::string_view window = file.substr(from, dictionaryReach);
    const std::size_t keyword = window.find("stream");
    if (keyword == std::string_view::npos || keyword == 0) return -1;
    const char before = window[keyword - 1];
    if (before != '>' && before != ' ' && before != '\n' && before != '\r' && before != '\t') return -1;
    std::size_t start = from + keyword + 6;
    if (file.substr(start, 2) == "\r\n") start += 2;
    else if (file.substr(start, 1) == "\n") start += 1;
    else return -1;
    if (length > bytes - start) return -1;
    std::size_t end = start + static_cast<std::size_t>(length);
    while (end < bytes && (file[end] == '\r' || file[end] == '\n' || file[end] == ' ')) ++end;
    if (file.substr(end, 9) != "endstream") return -1;
    return static_cast<std::int64_t>(start);
}

}  // namespace

std::int64_t GeneralDocument::inPlaceOffset(State& state, QPDFObjectHandle stream, const GeneralImage& image)
{
    if (image.coding != ImageCoding::Jpeg && image.coding != ImageCoding::Jpx) return -1;
    std::vector<std::string> filters;
    std::vector<QPDFObjectHandle> parms;
    filterChain(stream.getDict(), &filters, &parms);
    if (filters.size() != 1) return -1;
    const auto found = state.offsets.find(stream.getObjGen());
    if (found == state.offsets.end()) return -1;
    return findInPlace(state.data, state.bytes, found->second, image.storedBytes);
}

namespace {

// The page's media box, inherited where the page has none of its own.
void mediaBoxOf(QPDFPageObjectHelper& page, double* width, double* height)
{
    QPDFObjectHandle box = page.getAttribute("/MediaBox", false);
    if (!box.isRectangle()) return;
    const QPDFObjectHandle::Rectangle r = box.getArrayAsRectangle();
    double unit = 1;
    QPDFObjectHandle userUnit = page.getObjectHandle().getKey("/UserUnit");
    if (userUnit.isNumber() && userUnit.getNumericValue() > 0) unit = userUnit.getNumericValue();
    *width = std::fabs(r.urx - r.llx) * unit;
    *height = std::fabs(r.ury - r.lly) * unit;
}

}  // namespace

GeneralStatus GeneralDocument::pageImages(int pageIndex, std::vector<GeneralImage>* images)
{
    images->clear();
    if (!state_ || pageIndex < 0 || static_cast<std::size_t>(pageIndex) >= state_->pages.size())
        return GeneralStatus::Damaged;
    state_->images.clear();
    const AllocationCeiling ceiling(libraryCeilingFor(state_->bytes));
    ImageWalk walk{[this](QPDFObjectHandle stream, const GeneralImage& image) { return inPlaceOffset(*state_, stream, image); },
                   &state_->images, images, {}, 0, 0, &state_->stops};
    std::vector<QPDFObjGen> formStack;
    try {
        QPDFPageObjectHelper page(state_->pages[static_cast<std::size_t>(pageIndex)]);
        QPDFObjectHandle resources = page.getAttribute("/Resources", false);
        const GeneralStatus status = walkStream(
            walk, resources, [&](BlockSink& sink) { page.pipeContents(&sink); }, formStack);
        if (status != GeneralStatus::Ok) {
            images->clear();
            return status;
        }
        double width = 0;
        double height = 0;
        mediaBoxOf(page, &width, &height);
        for (GeneralImage& image : *images) {
            image.mediaWidth = width;
            image.mediaHeight = height;
        }
        return status;
    } catch (const std::bad_alloc&) {
        images->clear();
        return ceiling.wasReached() ? GeneralStatus::TooLarge : GeneralStatus::NoMemory;
    } catch (const std::exception&) {
        images->clear();
        return GeneralStatus::Damaged;
    }
}

GeneralStatus GeneralDocument::imageData(const GeneralImage& image, std::size_t limit, StreamBytes* data,
                                         StreamBytes* globals)
{
    if (!state_ || image.index >= state_->images.size()) return GeneralStatus::Damaged;
    const AllocationCeiling ceiling(libraryCeilingFor(state_->bytes));
    try {
        QPDFObjectHandle stream = state_->images[image.index];
        std::vector<std::string> filters;
        std::vector<QPDFObjectHandle> parms;
        filterChain(stream.getDict(), &filters, &parms);
        // Every filter before the image's own must be one the library
        // undoes: bytes it passed on undecoded would be taken for pixels.
        const std::size_t packing = image.coding == ImageCoding::Samples ? filters.size() : filters.size() - 1;
        for (std::size_t i = 0; i < packing; ++i)
            if (!isPackingFilter(filters[i])) return GeneralStatus::Unsupported;
        if (image.coding == ImageCoding::Samples) {
            const std::uint64_t declared = declaredImageBytes(image);
            if (declared == 0) return GeneralStatus::Unsupported;
            if (declared > limit) return GeneralStatus::TooLarge;
            BlockSink sink(static_cast<std::size_t>(declared), limit, state_->stops);
            if (!sink.reserve()) return GeneralStatus::NoMemory;
            const GeneralStatus status = pipeInto(stream, sink, qpdf_dl_specialized);
            if (status != GeneralStatus::Ok) return status;
            if (sink.bytes() < declared) return GeneralStatus::Truncated;
            sink.handTo(data);
            return GeneralStatus::Ok;
        }

        if (globals && image.coding == ImageCoding::Jbig2 && !parms.empty() && parms.back().isDictionary()) {
            QPDFObjectHandle shared = parms.back().getKey("/JBIG2Globals");
            if (shared.isStream()) {
                BlockSink sink(0, limit, state_->stops);
                const GeneralStatus status = pipeInto(shared, sink, qpdf_dl_specialized);
                if (status != GeneralStatus::Ok) return status;
                sink.handTo(globals);
            }
        }
        BlockSink sink(0, limit, state_->stops);
        GeneralStatus status;
        if (filters.size() <= 1) {
            status = pipeInto(stream, sink, qpdf_dl_none);
        } else {
            // The packing filters before the image's own are undone by the
            // library on a copy of the stream that names only them.
            QPDFObjectHandle prefix = QPDFObjectHandle::newArray();
            QPDFObjectHandle prefixParms = QPDFObjectHandle::newArray();
            for (std::size_t i = 0; i + 1 < filters.size(); ++i) {
                prefix.appendItem(QPDFObjectHandle::newName(filters[i]));
                prefixParms.appendItem(parms[i].isDictionary() ? parms[i] : QPDFObjectHandle::newNull());
            }
            QPDFObjectHandle copy = QPDFObjectHandle::newStream(&state_->pdf, stream.getRawStreamData());
            copy.replaceStreamData(copy.getRawStreamData(), prefix, prefixParms);
            status = pipeInto(copy, sink, qpdf_dl_specialized);
        }
        if (status != GeneralStatus::Ok) return status;
        sink.handTo(data);
        return GeneralStatus::Ok;
    } catch (const std::bad_alloc&) {
        return ceiling.wasReached() ? GeneralStatus::TooLarge : GeneralStatus::NoMemory;
    } catch (const std::exception&) {
        return GeneralStatus::Damaged;
    }
}

namespace {

// The page a destination leads to: an explicit one ([page /Fit ...]), a
// dictionary holding one under /D, or a name or string looked up in the
// catalogue's /Dests or its /Names tree. Null where it leads nowhere.
QPDFObjectHandle destinationPage(QPDF& pdf, QPDFObjectHandle destination, int lookups = 0)
{
    if (destination.isDictionary()) destination = destination.getKey("/D");
    if (destination.isArray()) return destination.getArrayNItems() > 0 ? destination.getArrayItem(0) : QPDFObjectHandle();
    // A named destination names another at most a few times over.
    if (lookups >= 4) return {};
    QPDFObjectHandle root = pdf.getRoot();
    if (destination.isName()) {
        QPDFObjectHandle dests = root.getKey("/Dests");
        return dests.isDictionary() ? destinationPage(pdf, dests.getKey(destination.getName()), lookups + 1)
                                    : QPDFObjectHandle();
    }
    if (destination.isString()) {
        QPDFObjectHandle names = root.getKey("/Names");
        QPDFObjectHandle tree = names.isDictionary() ? names.getKey("/Dests") : QPDFObjectHandle();
        QPDFObjectHandle found;
        if (tree.isDictionary() && QPDFNameTreeObjectHelper(tree, pdf, false).findObject(destination.getUTF8Value(), found))
            return destinationPage(pdf, found, lookups + 1);
    }
    return {};
}

// A bookmark's destination: its /Dest, or a GoTo action's /D.
QPDFObjectHandle bookmarkPage(QPDF& pdf, QPDFObjectHandle item)
{
    QPDFObjectHandle destination = item.getKey("/Dest");
    if (destination.isNull()) {
        QPDFObjectHandle action = item.getKey("/A");
        if (action.isDictionary() && action.getKey("/S").isName() && action.getKey("/S").getName() == "/GoTo")
            destination = action.getKey("/D");
    }
    return destinationPage(pdf, destination);
}

}  // namespace

std::vector<std::optional<std::string>> GeneralDocument::firstBookmarkTitles()
{
    std::vector<std::optional<std::string>> titles;
    if (!state_) return titles;
    titles.resize(state_->pages.size());
    const AllocationCeiling ceiling(libraryCeilingFor(state_->bytes));
    try {
        QPDF& pdf = state_->pdf;
        std::map<QPDFObjGen, std::size_t> pageOf;
        for (std::size_t i = 0; i < state_->pages.size(); ++i) pageOf.emplace(state_->pages[i].getObjGen(), i);
        std::vector<bool> named(state_->pages.size(), false);
        // The outline is walked here, each item once: the library's own
        // helper builds every path to an item, and an outline whose items
        // share children (each /First reached from two parents) has paths
        // in millions from a few kilobytes.
        std::set<QPDFObjGen> visited;
        std::vector<QPDFObjectHandle> pending;
        QPDFObjectHandle outlines = pdf.getRoot().getKey("/Outlines");
        if (outlines.isDictionary()) pending.push_back(outlines.getKey("/First"));
        while (!pending.empty() && visited.size() < bookmarkLimit) {
            if (state_->stops.isRaised()) break;
            QPDFObjectHandle item = pending.back();
            pending.pop_back();
            if (!item.isDictionary() || !item.isIndirect() || !visited.insert(item.getObjGen()).second) continue;
            // Depth-first, children before the next sibling, as the outline is shown.
            pending.push_back(item.getKey("/Next"));
            pending.push_back(item.getKey("/First"));
            QPDFObjectHandle page = bookmarkPage(pdf, item);
            if (!page.isDictionary()) continue;
            const auto found = pageOf.find(page.getObjGen());
            QPDFObjectHandle title = item.getKey("/Title");
            // The first bookmark of a page names it even when its title
            // is no string: the page then keeps its number.
            const bool first = found != pageOf.end() && !named[found->second];
            if (first) named[found->second] = true;
            if (first && title.isString()) titles[found->second] = title.getStringValue();
        }
    } catch (const std::exception&) {
        // Bookmarks only name files: without them pages keep their numbers.
    }
    return titles;
}

}  // namespace ravoth
