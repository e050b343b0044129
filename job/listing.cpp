#include "job/listing.h"

#include <nlohmann/json.hpp>

namespace ravoth {

std::string listingLine(const PageOutcome& outcome, const std::string* pdf)
{
    nlohmann::ordered_json line;
    if (pdf) line["pdf"] = *pdf;
    line["page"] = outcome.pageNumber;
    if (outcome.imageNumber > 0) line["image"] = outcome.imageNumber;
    line["file"] = outcome.fileName;
    line["format"] = std::string(outcome.facts.format);
    line["width"] = outcome.facts.width;
    line["height"] = outcome.facts.height;
    line["bits"] = outcome.facts.bits;
    line["colours"] = outcome.facts.colours;
    line["bytes"] = outcome.facts.storedBytes;
    if (outcome.facts.dpiX > 0 && outcome.facts.dpiY > 0)
        line["dpi"] = {outcome.facts.dpiX, outcome.facts.dpiY};
    else
        line["dpi"] = nullptr;
    if (outcome.title)
        line["title"] = *outcome.title;
    else
        line["title"] = nullptr;
    return line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

}  // namespace ravoth
