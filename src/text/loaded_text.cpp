#include "text/loaded_text.h"

namespace {

// Repairs the unpaired surrogates of every stretch of the n / 2 units,
// terminated, between NUL units: a reader that goes past a NUL meets no
// half pair either.
void repairEveryStretch(char16_t* text, std::size_t units)
{
    std::size_t position = 0;
    for (;;) {
        repairSurrogates(text + position);
        while (position < units && text[position] != 0) {
            ++position;
        }
        if (position >= units) {
            return;
        }
        ++position;
    }
}

}  // namespace

LoadedTextPlan planLoadedText(const std::uint8_t* raw, std::size_t n, LoadedSource source)
{
    TextKind kind = TEXT_EMPTY;
    if (n == 0 && (source == LOADED_CONTAINER_UTF8 || source == LOADED_CONTAINER_UTF16)) {
        // An empty text container: the spare zero bytes are the text.
    } else if (source == LOADED_CONTAINER_UTF8) {
        kind = TEXT_BYTES;
    } else if (source == LOADED_CONTAINER_UTF16) {
        kind = TEXT_UTF16LE;
    } else {
        kind = detectEncoding(raw, n);
    }
    const bool expandBreaks = source == LOADED_PLAIN_FILE;
    std::size_t convertedBytes = 0;
    if (kind == TEXT_BYTES) {
        const std::size_t units = expandBreaks ? n + countBareLineFeeds(raw, n) : n;
        convertedBytes = units * 2 + 2;
    }
    return {kind, expandBreaks, convertedBytes};
}

LoadedText convertLoadedText(std::uint8_t* raw, std::size_t n, const LoadedTextPlan& plan, std::uint8_t* converted)
{
    auto* wide = reinterpret_cast<char16_t*>(raw);
    switch (plan.kind) {
        case TEXT_EMPTY:
            return {wide, 0};
        case TEXT_BYTES: {
            auto* out = reinterpret_cast<char16_t*>(converted);
            const std::size_t units = plan.expandBreaks ? expandLineBreaks(raw, n, out) : decodeUtf8(raw, n, out);
            return {out, units};
        }
        case TEXT_UTF16BE:
            swapByteOrder(raw, n);
            [[fallthrough]];
        case TEXT_UTF16LE:
            terminateUtf16(raw, n);
            repairEveryStretch(wide, n / 2);
            return {wide, n / 2};
        default:
            return {nullptr, 0};
    }
}

ResultCode loadedBytesToText(LockedBuffer* raw, std::size_t n, LoadedSource source, LockedBuffer* converted,
                             const char16_t** text)
{
    *text = nullptr;
    const LoadedTextPlan plan = planLoadedText(raw->data(), n, source);
    if (plan.kind == TEXT_NOT_TEXT) {
        return RESULT_NOT_TEXT;
    }
    if (plan.convertedBytes != 0 && !converted->allocate(plan.convertedBytes)) {
        return RESULT_OUT_OF_MEMORY;
    }
    *text = convertLoadedText(raw->data(), n, plan, converted->data()).text;
    return RESULT_OK;
}
