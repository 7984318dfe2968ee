// detectEncoding on arbitrary bytes: a valid kind, and the verdicts that
// follow from the bytes alone (empty, byte order marks, no zero byte at all)
// hold; then the plain-file open runs on the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_support.h"
#include "text/text_encoding.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const TextKind kind = detectEncoding(data, size);
    FUZZ_CHECK(kind >= TEXT_NOT_TEXT && kind <= TEXT_UTF16BE);
    FUZZ_CHECK((kind == TEXT_EMPTY) == (size == 0));
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
        FUZZ_CHECK(kind == TEXT_UTF16LE);
    }
    if (size >= 2 && data[0] == 0xFE && data[1] == 0xFF) {
        FUZZ_CHECK(kind == TEXT_UTF16BE);
    }
    if (size != 0 && std::memchr(data, 0, size) == nullptr) {
        const bool marked = size >= 2 && ((data[0] == 0xFF && data[1] == 0xFE) || (data[0] == 0xFE && data[1] == 0xFF));
        FUZZ_CHECK(marked || kind == TEXT_BYTES);
    }
    runPlainFileChain(data, size);
    return 0;
}
