#include "platform/text.h"

#include <langinfo.h>
#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>
#include <unicode/unorm2.h>
#include <unicode/utf16.h>

#include <cstdint>
#include <cstring>

#include "platform/memory.h"

namespace ravoth {
namespace {

class Converter {
public:
    explicit Converter(const char* encoding)
    {
        UErrorCode status = U_ZERO_ERROR;
        converter_ = ucnv_open(encoding, &status);
        if (U_FAILURE(status)) converter_ = nullptr;
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    ~Converter()
    {
        if (converter_) ucnv_close(converter_);
    }
    UConverter* get() const { return converter_; }

private:
    UConverter* converter_ = nullptr;
};

bool setFromUnicodeAction(UConverter* converter, UConverterFromUCallback action)
{
    UErrorCode status = U_ZERO_ERROR;
    ucnv_setFromUCallBack(converter, action, nullptr, nullptr, nullptr, &status);
    return U_SUCCESS(status);
}

// Whether every character of `text` has a mapping of its own in the
// encoding; the converter must stop at unmappable characters.
bool isRepresentable(UConverter* converter, const UChar* text, std::int32_t length)
{
    std::int32_t i = 0;
    while (i < length) {
        const std::int32_t start = i;
        UChar32 c;
        U16_NEXT(text, i, length, c);
        // One character never needs more than a few bytes in any encoding.
        char scratch[64];
        UErrorCode status = U_ZERO_ERROR;
        ucnv_fromUChars(converter, scratch, sizeof scratch, text + start, i - start, &status);
        if (U_FAILURE(status)) return false;
    }
    return true;
}

// Composes runs of a base character and its marks where the whole composed
// run maps into the encoding; every other run is kept as written. Only a
// composition that shortens the run is taken, which also keeps the result no
// longer than the source (into `chosen`, with room for length + 1 units).
// Returns the length written, or -1.
std::int32_t composeWhereMapped(const UChar* source, std::int32_t length, UChar* chosen,
                                UConverter* converter)
{
    UErrorCode status = U_ZERO_ERROR;
    const UNormalizer2* nfc = unorm2_getNFCInstance(&status);
    if (U_FAILURE(status)) return -1;
    std::int32_t written = 0;
    std::int32_t i = 0;
    while (i < length) {
        // A run ends where composition cannot reach across.
        const std::int32_t runStart = i;
        UChar32 c;
        U16_NEXT(source, i, length, c);
        while (i < length) {
            std::int32_t next = i;
            U16_NEXT(source, next, length, c);
            if (unorm2_hasBoundaryBefore(nfc, c)) break;
            i = next;
        }
        const std::int32_t runLength = i - runStart;
        status = U_ZERO_ERROR;
        const std::int32_t composedLength =
            unorm2_normalize(nfc, source + runStart, runLength, chosen + written,
                             length + 1 - written, &status);
        if (U_SUCCESS(status) && composedLength < runLength &&
            isRepresentable(converter, chosen + written, composedLength)) {
            written += composedLength;
        } else {
            std::memcpy(chosen + written, source + runStart, runLength * sizeof(UChar));
            written += runLength;
        }
    }
    return written;
}

}  // namespace

const char* localEncodingName() { return nl_langinfo(CODESET); }

int localTextToPathText(char* text, int bytes, int capacity)
{
    if (!text || bytes < 0 || bytes >= capacity) return 0;
    text[bytes] = '\0';
    return bytes + 1;
}

int wideCharToMultiByte(const char16_t* units, char* output, int outputBytes)
{
    if (!units || !output || outputBytes <= 0) return 0;
    std::size_t count = 0;
    while (units[count] != 0) ++count;
    if (count >= static_cast<std::size_t>(INT32_MAX) / sizeof(UChar)) return 0;
    const auto length = static_cast<std::int32_t>(count);

    Converter converter(localEncodingName());
    if (!converter.get()) return 0;
    OwnedBlock<UChar> chosen(
        static_cast<UChar*>(static_cast<void*>(allocBlock((count + 1) * sizeof(UChar)))));
    if (!chosen) return 0;

    if (!setFromUnicodeAction(converter.get(), UCNV_FROM_U_CALLBACK_STOP)) return 0;
    const std::int32_t chosenLength =
        composeWhereMapped(units, length, chosen.get(), converter.get());
    if (chosenLength < 0) return 0;

    // An unpaired surrogate is no character of any encoding; a code unit of
    // our own makes sure it becomes the one "?" like any other.
    UChar* text = chosen.get();
    for (std::int32_t i = 0; i < chosenLength; ++i) {
        if (U16_IS_LEAD(text[i]) && i + 1 < chosenLength && U16_IS_TRAIL(text[i + 1])) {
            ++i;
        } else if (U16_IS_SURROGATE(text[i])) {
            text[i] = u'?';
        }
    }

    UErrorCode status = U_ZERO_ERROR;
    ucnv_setSubstChars(converter.get(), "?", 1, &status);
    if (U_FAILURE(status) ||
        !setFromUnicodeAction(converter.get(), UCNV_FROM_U_CALLBACK_SUBSTITUTE))
        return 0;
    const std::int32_t bytes =
        ucnv_fromUChars(converter.get(), output, outputBytes, text, chosenLength, &status);
    // A result that fills the buffer exactly has no room left for its NUL.
    if (U_FAILURE(status) || status == U_STRING_NOT_TERMINATED_WARNING || bytes >= outputBytes)
        return 0;
    return bytes + 1;
}

}  // namespace ravoth
