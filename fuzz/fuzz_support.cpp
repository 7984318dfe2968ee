#include "fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#include "cipher/checksum.h"
#include "container/payload.h"
#include "container/container_header.h"
#include "container/container_session.h"
#include "platform/byte_order.h"
#include "text/loaded_text.h"
#include "text/text_encoding.h"

namespace {

struct ScratchDirectory {
    std::string directory;
    std::string utf8[2];
    std::u16string utf16[2];

    ScratchDirectory()
    {
        std::error_code error;
        std::filesystem::path base = "/dev/shm";
        if (!std::filesystem::is_directory(base, error) || access(base.c_str(), W_OK) != 0) {
            base = std::filesystem::temp_directory_path(error);
        }
        std::string pattern = (base / "tarnwick-fuzz-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            fuzzFail("cannot create a scratch directory");
        }
        directory = pattern;
        for (int k = 0; k < 2; ++k) {
            utf8[k] = directory + "/input" + std::to_string(k) + ".vtxt";
            utf16[k].assign(utf8[k].begin(), utf8[k].end());  // the path is ASCII
        }
    }

    ~ScratchDirectory()
    {
        std::error_code error;
        std::filesystem::remove_all(directory, error);
    }
};

ScratchDirectory& scratch()
{
    static ScratchDirectory instance;
    return instance;
}

std::uint16_t rotl16(std::uint16_t v)
{
    return static_cast<std::uint16_t>((v << 1) | (v >> 15));
}

// Allocates exactly size bytes, zero-filled, so the sanitizers see any step
// that writes or reads past the size the job computed.
std::unique_ptr<std::uint8_t[]> zeroed(std::size_t size)
{
    return std::unique_ptr<std::uint8_t[]>(new std::uint8_t[size]());
}

bool isHigh(char16_t u)
{
    return u >= 0xD800 && u <= 0xDBFF;
}

bool isLow(char16_t u)
{
    return u >= 0xDC00 && u <= 0xDFFF;
}

bool hasBareLineFeed(const char16_t* text, std::size_t length)
{
    for (std::size_t k = 0; k < length; ++k) {
        if (text[k] == 0x0A && (k == 0 || text[k - 1] != 0x0D)) {
            return true;
        }
    }
    return false;
}

// Runs the open's conversion planned for the n bytes in buffer (capacity
// bytes, zero past n) into a buffer of exactly the planned size, and checks
// the text it gives: terminated within its buffer, no bare LF where breaks
// are expanded, no half pair of surrogates, the mark skipped.
void checkLoadedText(std::uint8_t* buffer, std::size_t n, std::size_t capacity, const LoadedTextPlan& plan)
{
    auto converted = plan.convertedBytes != 0 ? zeroed(plan.convertedBytes) : nullptr;
    const LoadedText loaded = convertLoadedText(buffer, n, plan, converted.get());
    switch (plan.kind) {
        case TEXT_NOT_TEXT:
            FUZZ_CHECK(n != 0 && loaded.text == nullptr);
            return;
        case TEXT_EMPTY:
            FUZZ_CHECK(n == 0);
            FUZZ_CHECK(boundedLength(loaded.text, 1) == 0);
            return;
        case TEXT_BYTES: {
            const std::size_t capacityUnits = plan.convertedBytes / 2;
            FUZZ_CHECK(loaded.text == reinterpret_cast<char16_t*>(converted.get()));
            FUZZ_CHECK(loaded.units < capacityUnits);
            FUZZ_CHECK(loaded.text[loaded.units] == 0);
            // An embedded zero unit (from a zero byte or an overlong C0 80) ends
            // the text the edit control sees; check what lies before it.
            const std::size_t length = boundedLength(loaded.text, capacityUnits);
            FUZZ_CHECK(length <= loaded.units);
            FUZZ_CHECK(!plan.expandBreaks || !hasBareLineFeed(loaded.text, length));
            FUZZ_CHECK(surrogatesPaired(loaded.text, length));
            return;
        }
        case TEXT_UTF16LE:
        case TEXT_UTF16BE: {
            const char16_t* text = loaded.text;
            FUZZ_CHECK(text == reinterpret_cast<char16_t*>(buffer));
            const std::size_t length = boundedLength(text, capacity / 2);
            FUZZ_CHECK(length <= n / 2);
            FUZZ_CHECK(surrogatesPaired(text, length));
            const char16_t* shown = skipByteOrderMark(text);
            FUZZ_CHECK(shown == (text[0] == 0xFEFF ? text + 1 : text));
            return;
        }
    }
    fuzzFail("planLoadedText returned an unknown kind");
}

}  // namespace

void fuzzFail(const char* what)
{
    std::fprintf(stderr, "fuzz property broken: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

const char16_t* scratchPath(int which)
{
    return scratch().utf16[which].c_str();
}

std::string scratchPathUtf8(int which)
{
    return scratch().utf8[which];
}

bool writeScratch(const std::uint8_t* data, std::size_t size, int which)
{
    std::FILE* file = std::fopen(scratch().utf8[which].c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && written;
}

void removeScratch(int which)
{
    std::remove(scratch().utf8[which].c_str());
}

void passwordFromBytes(const std::uint8_t* data, std::size_t size, char16_t out[256])
{
    std::size_t units = 0;
    for (std::size_t k = 0; k + 1 < size && units < 255; k += 2) {
        const auto unit = static_cast<char16_t>(data[k] | (data[k + 1] << 8));
        if (unit == 0) {
            break;
        }
        out[units++] = unit;
    }
    out[units] = 0;
}

std::uint16_t legacyHeaderChecksum(const std::uint8_t header[64])
{
    std::uint16_t c = loadLe16(header + 60);
    for (int i = 0; i < 8; ++i) {
        c = rotl16(static_cast<std::uint16_t>(c + static_cast<std::int8_t>(header[44 + i])));
        c = rotl16(static_cast<std::uint16_t>(c + static_cast<std::int8_t>(header[52 + i])));
    }
    return static_cast<std::uint16_t>(c + loadLe16(header + 62));
}

void repairHeaderChecksum(std::uint8_t* file, std::size_t size)
{
    if (size < 4) {
        return;
    }
    if (file[3] == 2 && size >= HEADER_SIZE) {
        storeLe32(file + HEADER_CHECKED_BYTES, rotateAddChecksum(file, HEADER_CHECKED_BYTES));
    } else if (file[3] <= 1 && size >= LEGACY_HEADER_SIZE) {
        storeLe16(file + 6, legacyHeaderChecksum(file));
    }
}

void repairBlockChecksums(std::uint8_t* file, std::size_t size)
{
    if (size < 4 || file[3] > 2) {
        return;
    }
    const bool modern = file[3] == 2;
    std::size_t position = 0;
    std::uint64_t blockSize = 0;
    std::uint64_t plainSize = 0;
    if (modern) {
        if (size < HEADER_SIZE) {
            return;
        }
        blockSize = loadLe32(file + 12);
        plainSize = loadLe64(file + 76);
        position = HEADER_SIZE;
    } else {
        if (size < LEGACY_HEADER_SIZE) {
            return;
        }
        const std::size_t unit = file[3] == 1 ? 2 : 1;
        std::size_t hintLength = loadLe16(file + 12);
        std::size_t nameLength = loadLe16(file + 14);
        hintLength = hintLength > 127 ? 127 : hintLength;
        nameLength = nameLength > 255 ? 255 : nameLength;
        blockSize = loadLe32(file + 8);
        plainSize = loadLe64(file + 16);
        position = LEGACY_HEADER_SIZE + (hintLength + nameLength) * unit;
    }
    if ((plainSize >> 32) == 0 && blockSize > plainSize) {
        blockSize = plainSize;
    }
    if (blockSize == 0) {
        return;
    }
    std::uint64_t remaining = plainSize;
    std::uint32_t chained = 0;
    while (remaining > 0 && position + BLOCK_HEADER_SIZE <= size) {
        const std::uint64_t expected = remaining < blockSize ? remaining : blockSize;
        std::uint32_t length = loadLe32(file + position);
        if (modern ? length != expected : (length == 0 || length > expected)) {
            length = static_cast<std::uint32_t>(expected);
            storeLe32(file + position, length);
        }
        const std::size_t start = position + BLOCK_HEADER_SIZE;
        if (size - start < length) {
            return;  // the reader meets the end of the file inside this block
        }
        const std::uint32_t checksum = continueRotateAddChecksum(modern ? 0 : chained, file + start, length);
        chained = checksum;
        storeLe32(file + position + 4, checksum);
        position = start + length;
        remaining -= length;
    }
}

bool openRepairedScratch(std::uint8_t options, std::vector<std::uint8_t>* file, ContainerSession* session)
{
    if ((options & 2) != 0) {
        repairBlockChecksums(file->data(), file->size());
    }
    if ((options & 1) != 0) {
        repairHeaderChecksum(file->data(), file->size());
    }
    if (!writeScratch(file->data(), file->size())) {
        fuzzFail("cannot write the scratch file");
    }
    initSession(session);
    if (openContainer(session, scratchPath()) != RESULT_OK) {
        teardownSession(session);
        return false;
    }
    capHeaderWork(&session->header);
    return true;
}

void capHeaderWork(ContainerHeader* header)
{
    if (header->mixRounds > 8192) {
        header->mixRounds = 4096 + (header->mixRounds & 4095);
    }
    if (header->scheduleRounds > 2048) {
        header->scheduleRounds = 256 + (header->scheduleRounds & 1023);
    }
    if (header->stirRounds > 8192) {
        header->stirRounds = 4096 + (header->stirRounds & 4095);
    }
    if (header->shuffleLevel > 7) {
        header->shuffleLevel &= 7;
    }
    if (header->blockSize > 65536) {
        header->blockSize = 2048 + header->blockSize % 63489;
    }
}

std::size_t boundedLength(const char16_t* text, std::size_t capacityUnits)
{
    for (std::size_t k = 0; k < capacityUnits; ++k) {
        if (text[k] == 0) {
            return k;
        }
    }
    fuzzFail("text not terminated within its buffer");
}

bool surrogatesPaired(const char16_t* text, std::size_t length)
{
    for (std::size_t k = 0; k < length; ++k) {
        if (isHigh(text[k])) {
            if (k + 1 >= length || !isLow(text[k + 1])) {
                return false;
            }
            ++k;
        } else if (isLow(text[k])) {
            return false;
        }
    }
    return true;
}

void runPlainFileChain(const std::uint8_t* bytes, std::size_t n)
{
    const std::size_t capacity = n + 2;
    auto buffer = zeroed(capacity);
    if (n != 0) {
        std::memcpy(buffer.get(), bytes, n);
    }
    const LoadedTextPlan plan = planLoadedText(buffer.get(), n, LOADED_PLAIN_FILE);
    if (plan.kind == TEXT_BYTES) {
        const std::size_t bare = countBareLineFeeds(buffer.get(), n);
        FUZZ_CHECK(bare <= n);
        FUZZ_CHECK(plan.convertedBytes == (n + bare) * 2 + 2);
    }
    checkLoadedText(buffer.get(), n, capacity, plan);
}

void markWideEntry(ContainerHeader* header)
{
    static constexpr char16_t WIDE_ENTRY[] = u"vellic_w.txt";
    std::memset(header->entryName, 0, sizeof header->entryName);
    std::memcpy(header->entryName, WIDE_ENTRY, sizeof WIDE_ENTRY);
}

void runContainerTextChain(const std::uint8_t* bytes, std::size_t n, bool isTextContainer, bool wideEntry)
{
    // The buffer the open job allocates for n deciphered bytes, sized by the job's own code.
    ContainerHeader header{};
    header.plainSizeLow = static_cast<std::uint32_t>(n);
    if (wideEntry) {
        markWideEntry(&header);
    }
    const OpenBufferSize size = sizeOpenBuffer(header, isTextContainer);
    const std::size_t unit = size.unit;
    const std::size_t length = openedTextLength(header, size.capacity);
    FUZZ_CHECK(length % unit == 0 && length <= n && n - length < unit);
    const std::size_t capacity = std::size_t{size.capacity} + 2;
    auto buffer = zeroed(capacity);
    if (length != 0) {
        std::memcpy(buffer.get(), bytes, length);
    }
    checkLoadedText(buffer.get(), length, capacity, planLoadedText(buffer.get(), length, size.source));
}
