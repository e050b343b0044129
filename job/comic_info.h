// ComicInfo.xml, the description comic readers take from an archive: how
// many pictures it holds, and where each bookmarked page begins.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace ravoth {

struct ComicBookmark {
    std::size_t image;       // the entry that begins the page, from 0 in archive order
    std::string_view title;  // UTF-8, as the bookmark reads
};

// The description as well-formed XML 1.0 whatever the titles hold: markup
// escaped, line breaks and tabs kept as references, characters XML cannot
// carry left out, and bytes that are no UTF-8 read as U+FFFD. Throws
// std::bad_alloc as the standard strings do.
std::string comicInfoXml(std::size_t images, const std::vector<ComicBookmark>& bookmarks);

}  // namespace ravoth
