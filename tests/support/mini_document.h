// Small documents for the structure reader's tests: numbered objects laid
// out in the order given, with the XrefTable text that locates them.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "pdf/primitives.h"
#include "tests/support/exact_buffer.h"

namespace ravoth::testing {

class MiniDocument {
public:
    explicit MiniDocument(std::string_view header = "%PDF-1.4\n") : text_(header) {}

    // Writes "n 0 obj\n" body tail; the default tail closes the object, an
    // empty one leaves the document ending inside it.
    MiniDocument& add(int number, std::string_view body, std::string_view tail = "\nendobj\n")
    {
        Placed& placed = objects_[number];
        placed.offset = text_.size();
        text_ += std::to_string(number) + " 0 obj\n";
        placed.bodyOffset = text_.size();
        placed.bodyLength = body.size();
        text_.append(body);
        text_.append(tail);
        return *this;
    }

    const std::string& text() const { return text_; }

    // Changes one byte in place; the offsets stay as they were.
    MiniDocument& setByte(std::size_t offset, char b)
    {
        text_.at(offset) = b;
        return *this;
    }

    // Where object n's body starts, and its length as given.
    std::size_t bodyOffset(int number) const { return objects_.at(number).bodyOffset; }
    std::size_t bodyLength(int number) const { return objects_.at(number).bodyLength; }

    // One line "number offset 0 n" per object, ascending.
    std::string xrefTable() const
    {
        std::string table;
        for (const auto& [number, placed] : objects_)
            table += std::to_string(number) + " " + std::to_string(placed.offset) + " 0 n\n";
        return table;
    }

private:
    struct Placed {
        std::size_t offset = 0;
        std::size_t bodyOffset = 0;
        std::size_t bodyLength = 0;
    };
    std::string text_;
    std::map<int, Placed> objects_;
};

inline constexpr const char* objectEnd = "\nendobj\n";

// One object to lay out: its body and what follows it.
struct ObjectText {
    int number;
    std::string body;
    std::string tail = objectEnd;
};

// An object after which the document ends.
inline ObjectText last(int number, std::string body) { return {number, std::move(body), ""}; }

// The catalogue is object 1, first in the file, so that every later byte can
// be cut or changed without moving its extent; the others follow in order.
inline MiniDocument compose(const std::string& catalogue, const std::vector<ObjectText>& objects)
{
    MiniDocument d;
    d.add(1, catalogue);
    for (const ObjectText& o : objects) d.add(o.number, o.body, o.tail);
    return d;
}

// The document (or its first `length` bytes) and its XrefTable, each flush
// against the end of its own allocation, with the extent of the catalogue
// dictionary: from just after its "<<" to its closing ">>". The catalogue's
// body must be written as "<< ... >>".
class PreparedDocument {
public:
    PreparedDocument(const MiniDocument& source, int catalogueNumber,
                     std::size_t length = std::string::npos)
        : document_(std::string_view(source.text()).substr(0, length)),
          table_(source.xrefTable()),
          catalogueStart_(source.bodyOffset(catalogueNumber) + 2),
          catalogueEnd_(source.bodyOffset(catalogueNumber) + source.bodyLength(catalogueNumber) - 2)
    {
        reader_.start = document_.begin();
        reader_.end = document_.end();
        reader_.tableStart = table_.begin();
        reader_.tableEnd = table_.end();
    }
    // A reader over the document and its table, as a run sets one up.
    DocumentReader& reader() { return reader_; }
    const Byte* begin() const { return document_.begin(); }
    const Byte* end() const { return document_.end(); }
    const Byte* tableStart() const { return table_.begin(); }
    const Byte* tableEnd() const { return table_.end(); }
    const Byte* catalogueStart() const { return document_.at(catalogueStart_); }
    const Byte* catalogueEnd() const { return document_.at(catalogueEnd_); }
    bool holds(const Byte* p) const { return p >= begin() && p < end(); }

private:
    ExactBuffer document_;
    ExactBuffer table_;
    DocumentReader reader_;
    std::size_t catalogueStart_;
    std::size_t catalogueEnd_;
};

// The body of a dictionary that must end the document, closed for the
// dictionary scan only. Its first pass sees a comment at the start and
// another one running to the end, finds no ">>" and gives up; its second
// pass takes "%" as a token and "(" as the start of a string that runs to the
// ")" near the end, and closes at the ">>" behind it. Key lookups and value
// readers see the comments, so for them `content` is followed by a comment
// running to the end of the document, then an LF when `lineEndAfter`.
inline std::string closedForScanOnly(std::string_view content, bool lineEndAfter = false)
{
    return "<<% (\n" + std::string(content) + "%c ) >> x" + (lineEndAfter ? "\n" : "");
}

}  // namespace ravoth::testing
