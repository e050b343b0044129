// libFuzzer entry point: the archive's description over titles of any bytes.
// The input is split into titles at each byte 0xFE (which UTF-8 never
// holds); the description must parse as XML and name as many bookmarks.
#include <expat.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "job/comic_info.h"

using namespace ravoth;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<ComicBookmark> bookmarks;
    for (std::size_t at = 0; at <= input.size();) {
        const std::size_t end = std::min(input.find('\xFE', at), input.size());
        bookmarks.push_back({bookmarks.size() * 2, input.substr(at, end - at)});
        at = end + 1;
    }
    const std::string xml = comicInfoXml(bookmarks.size() * 2, bookmarks);
    std::size_t pages = 0;
    XML_Parser parser = XML_ParserCreate(nullptr);
    XML_SetUserData(parser, &pages);
    XML_SetStartElementHandler(parser, [](void* counted, const XML_Char* name, const XML_Char**) {
        if (std::string_view(name) == "Page") ++*static_cast<std::size_t*>(counted);
    });
    const bool wellFormed = XML_Parse(parser, xml.data(), static_cast<int>(xml.size()), XML_TRUE) == XML_STATUS_OK;
    XML_ParserFree(parser);
    if (!wellFormed || pages != bookmarks.size()) std::abort();
    return 0;
}
