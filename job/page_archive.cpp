#include "job/page_archive.h"

#include <zip.h>

#include <ctime>

namespace ravoth {

namespace {

// Entries this large need ZIP64's fields.
constexpr std::uint64_t zip64FromBytes = 0xFFFFFFFFu;
// Bitmaps deflate at the fastest level: their runs of white pack almost as
// tight as at the slowest, in a fraction of the time.
constexpr int bitmapLevel = 1;
// Data goes to the library in pieces the size of its length field can hold.
constexpr std::size_t pieceBytes = std::size_t{8} << 20;
// General purpose flag: the entry's name is UTF-8.
constexpr unsigned long utf8NameFlag = 0x800;
// Made by: a Unix host (3) with ZIP 4.5 (45), so that readers take the
// names' bytes as they are.
constexpr unsigned long versionMadeBy = 3u << 8 | 45u;

PageArchive& archiveOf(voidpf stream) { return *static_cast<PageArchive*>(stream); }

voidpf ZCALLBACK openArchive(voidpf, const void* archive, int) { return const_cast<void*>(archive); }
uLong ZCALLBACK readNothing(voidpf, voidpf, void*, uLong) { return 0; }
uLong ZCALLBACK writeArchive(voidpf, voidpf stream, const void* data, uLong bytes)
{
    return archiveOf(stream).writeBytes(data, bytes) ? bytes : 0;
}
ZPOS64_T ZCALLBACK tellArchive(voidpf, voidpf stream) { return archiveOf(stream).position(); }
long ZCALLBACK seekArchive(voidpf, voidpf stream, ZPOS64_T offset, int origin)
{
    PageArchive& archive = archiveOf(stream);
    // The library only goes back to a header it wrote, and then to the end.
    if (origin == ZLIB_FILEFUNC_SEEK_CUR) offset += archive.position();
    else if (origin != ZLIB_FILEFUNC_SEEK_SET) return -1;
    return archive.seekTo(offset) ? 0 : -1;
}
int ZCALLBACK closeNothing(voidpf, voidpf) { return 0; }
int ZCALLBACK noError(voidpf, voidpf) { return 0; }

bool isUtf8(const char* text)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p) {
        const unsigned char lead = *p++;
        const int follow = lead < 0x80 ? 0 : (lead & 0xE0) == 0xC0 && lead >= 0xC2 ? 1 : (lead & 0xF0) == 0xE0 ? 2
                           : (lead & 0xF8) == 0xF0 && lead <= 0xF4                  ? 3
                                                                                    : -1;
        if (follow < 0) return false;
        for (int k = 0; k < follow; ++k)
            if ((*p++ & 0xC0) != 0x80) return false;
    }
    return true;
}

zip_fileinfo nowInfo()
{
    zip_fileinfo info{};
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    info.tmz_date.tm_sec = static_cast<uInt>(local.tm_sec);
    info.tmz_date.tm_min = static_cast<uInt>(local.tm_min);
    info.tmz_date.tm_hour = static_cast<uInt>(local.tm_hour);
    info.tmz_date.tm_mday = static_cast<uInt>(local.tm_mday);
    info.tmz_date.tm_mon = static_cast<uInt>(local.tm_mon);
    info.tmz_date.tm_year = static_cast<uInt>(local.tm_year + 1900);
    // Regular file, rw-r--r--, in the high half as Unix hosts keep it.
    info.external_fa = 0100644ul << 16;
    return info;
}

}  // namespace

PageArchive::~PageArchive() { discard(); }

bool PageArchive::writeBytes(const void* data, std::size_t bytes)
{
    if (failed_ || !file_.write(data, bytes)) {
        failed_ = true;
        return false;
    }
    position_ += bytes;
    if (position_ > end_) end_ = position_;
    return true;
}

bool PageArchive::seekTo(std::uint64_t position)
{
    if (failed_ || position > end_ || !file_.seek(position)) {
        failed_ = true;
        return false;
    }
    position_ = position;
    return true;
}

bool PageArchive::create(const char* path, const StopFlags& stops)
{
    discard();
    file_.stopWhen(stops);
    if (!file_.create(path)) return false;
    failed_ = false;
    position_ = 0;
    end_ = 0;
    zlib_filefunc64_def functions{openArchive, readNothing, writeArchive, tellArchive,
                                  seekArchive, closeNothing, noError, nullptr};
    zip_ = zipOpen2_64(this, APPEND_STATUS_CREATE, nullptr, &functions);
    if (!zip_) {
        file_.discard();
        return false;
    }
    return true;
}

bool PageArchive::add(const char* name, const Byte* head, std::size_t headBytes, const Byte* data,
                      std::size_t bytes, bool compress)
{
    if (!zip_ || failed_) return false;
    const zip_fileinfo info = nowInfo();
    const int zip64 = headBytes + bytes >= zip64FromBytes ? 1 : 0;
    if (zipOpenNewFileInZip4_64(zip_, name, &info, nullptr, 0, nullptr, 0, nullptr, compress ? Z_DEFLATED : 0,
                                compress ? bitmapLevel : 0, 0, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY, nullptr, 0,
                                versionMadeBy, isUtf8(name) ? utf8NameFlag : 0, zip64) != ZIP_OK) {
        failed_ = true;
        return false;
    }
    bool written = headBytes == 0 || zipWriteInFileInZip(zip_, head, static_cast<unsigned>(headBytes)) == ZIP_OK;
    for (std::size_t done = 0; written && done < bytes; done += pieceBytes) {
        const std::size_t piece = bytes - done < pieceBytes ? bytes - done : pieceBytes;
        written = zipWriteInFileInZip(zip_, data + done, static_cast<unsigned>(piece)) == ZIP_OK;
    }
    if (zipCloseFileInZip(zip_) != ZIP_OK) written = false;
    if (!written || failed_) {
        failed_ = true;
        return false;
    }
    return true;
}

bool PageArchive::finish(const char* name, std::string_view text)
{
    if (!zip_) return false;
    const bool added = add(name, nullptr, 0, reinterpret_cast<const Byte*>(text.data()), text.size(), true);
    const bool closed = zipClose(zip_, nullptr) == ZIP_OK;
    zip_ = nullptr;
    if (!added || !closed || failed_) {
        file_.discard();
        return false;
    }
    return file_.close();
}

void PageArchive::discard()
{
    if (zip_) {
        // The library's own blocks go; what it writes on the way is dropped
        // with the file.
        failed_ = true;
        zipClose(zip_, nullptr);
        zip_ = nullptr;
    }
    file_.discard();
}

}  // namespace ravoth
