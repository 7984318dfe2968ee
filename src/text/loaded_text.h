#pragma once
// Loaded bytes become the editor's text: detection, decoding, line breaks,
// byte order and surrogate repair, as one sequence that the editor's open
// jobs, vtxt and the fuzz targets all run. Two steps on caller-owned buffers
// (planLoadedText, convertLoadedText), and loadedBytesToText, which runs both
// with the core's self-wiping buffers.
#include <cstddef>
#include <cstdint>

#include "platform/locked_memory.h"
#include "platform/result_codes.h"
#include "text/text_encoding.h"

// Where the bytes come from, which decides how they are read.
enum LoadedSource : std::int32_t {
    LOADED_PLAIN_FILE = 0,       // any file: detected; 8-bit text has bare LF expanded to CR LF
    LOADED_CONTAINER_BYTES = 1,  // a container that is not a text container: detected, breaks kept
    LOADED_CONTAINER_UTF8 = 2,   // a text container storing UTF-8
    LOADED_CONTAINER_UTF16 = 3,  // a text container whose entry holds UTF-16LE
};

// What n loaded bytes are, and the zeroed bytes a conversion into a second
// buffer needs (0 when the text is read in place).
struct LoadedTextPlan {
    TextKind kind;
    bool expandBreaks;  // 8-bit text: bare LF becomes CR LF
    std::size_t convertedBytes;
};
LoadedTextPlan planLoadedText(const std::uint8_t* raw, std::size_t n, LoadedSource source);

struct LoadedText {
    const char16_t* text;  // NUL-terminated; null when the bytes are not text
    std::size_t units;     // units written before the terminator (for text read in place: n / 2)
};
// Carries out plan on raw (the n bytes and two zero bytes after them) and, for
// 8-bit text, converted (plan.convertedBytes zeroed bytes): UTF-16 is put in
// little-endian order, terminated and its unpaired surrogates repaired in
// place, in every stretch between NUL units; 8-bit text is decoded into
// converted. The text may begin with a byte order mark.
LoadedText convertLoadedText(std::uint8_t* raw, std::size_t n, const LoadedTextPlan& plan, std::uint8_t* converted);

// Both steps: raw holds the n loaded bytes (its two spare zero bytes
// terminate them); *text is set to the text, in raw or in converted.
// RESULT_NOT_TEXT for bytes that are no text, RESULT_OUT_OF_MEMORY when
// converted cannot be allocated.
ResultCode loadedBytesToText(LockedBuffer* raw, std::size_t n, LoadedSource source, LockedBuffer* converted,
                             const char16_t** text);
