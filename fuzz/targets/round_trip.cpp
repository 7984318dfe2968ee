// decrypt(encrypt(x)) = x for any text, password and parameters. The writer's
// steps run with parameters taken from the input instead of drawn ones, so a
// finding replays exactly (and small round counts keep a run fast). Input: an
// options byte (bits 0-1 the cipher scheme, bit 3 a block size of its own,
// bit 4 a hint), the shuffle level, two bytes of block size, a password
// length in bytes, 16 bytes of salt, three bytes that pick the round counts,
// 31 bytes of short-text padding; then the password, then the text.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "cipher/key_setup.h"
#include "container/payload.h"
#include "container/container_header.h"
#include "container/container_session.h"
#include "fuzz_support.h"
#include "platform/byte_order.h"

namespace {

constexpr std::size_t PREFIX = 24 + 31;

struct Written {
    std::uint16_t scheme;
    std::uint32_t shuffleLevel;
    std::uint8_t salt[16];
    std::uint32_t mixRounds;
    std::uint32_t scheduleRounds;
    std::uint32_t stirRounds;
};

// Writes the container from chosen parameters through the same steps the save
// pipeline runs, so that every scheme and round count is reachable.
void writeWithParameters(const std::uint8_t* prefix, const std::uint8_t* text, std::size_t length,
                         const char16_t* password, const char16_t* hint, Written* written)
{
    ContainerSession session;
    initSession(&session);
    initHeaderForSave(&session, length, hint, prefix[1] & 7u, 0);
    ContainerHeader& h = session.header;
    h.cipherScheme = static_cast<std::uint16_t>(prefix[0] & 3u);
    if ((prefix[0] & 8) != 0 && (h.flags & HEADER_FLAG_SHORT_TEXT) == 0) {
        h.blockSize = 2048u + loadLe16(prefix + 2);
    }
    std::memcpy(h.salt, prefix + 5, sizeof h.salt);
    h.mixRounds = 4096u + prefix[21];
    h.scheduleRounds = 256u + prefix[22];
    h.stirRounds = 4096u + prefix[23];
    std::memcpy(session.shortBlock, prefix + 24, SHORT_TEXT_SIZE - 1);

    written->scheme = h.cipherScheme;
    written->shuffleLevel = h.shuffleLevel;
    std::memcpy(written->salt, h.salt, sizeof h.salt);
    written->mixRounds = h.mixRounds;
    written->scheduleRounds = h.scheduleRounds;
    written->stirRounds = h.stirRounds;

    removeScratch();
    session.targetFile = createNewFile(scratchPath());
    FUZZ_CHECK(session.targetFile != INVALID_FILE);
    FUZZ_CHECK(setupKey(&session, password) == RESULT_OK);
    FUZZ_CHECK(encryptPayload(&session, text) == RESULT_OK);
    teardownSession(&session);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < PREFIX) {
        return 0;
    }
    const std::uint8_t* prefix = data;
    std::size_t passwordBytes = prefix[4];
    if (passwordBytes > size - PREFIX) {
        passwordBytes = size - PREFIX;
    }
    char16_t password[256];
    passwordFromBytes(data + PREFIX, passwordBytes, password);
    const std::uint8_t* text = data + PREFIX + passwordBytes;
    const std::size_t length = size - PREFIX - passwordBytes;
    const char16_t* hint = (prefix[0] & 16) != 0 ? u"a hint \u00e9\u20ac" : nullptr;

    Written written{};
    writeWithParameters(prefix, text, length, password, hint, &written);

    ContainerSession reader;
    initSession(&reader);
    FUZZ_CHECK(openContainer(&reader, scratchPath()) == RESULT_OK);
    const ContainerHeader& h = reader.header;
    FUZZ_CHECK(reader.generation == 2);
    const bool shortText = length < SHORT_TEXT_SIZE;
    FUZZ_CHECK(((h.flags & HEADER_FLAG_SHORT_TEXT) != 0) == shortText);
    FUZZ_CHECK(headerPlainSize(h) == (shortText ? SHORT_TEXT_SIZE : length));
    FUZZ_CHECK(h.cipherScheme == written.scheme);
    FUZZ_CHECK(h.shuffleLevel == (h.blockSize < 2 ? 0 : written.shuffleLevel));
    FUZZ_CHECK(std::memcmp(h.salt, written.salt, sizeof h.salt) == 0);
    FUZZ_CHECK(h.mixRounds == written.mixRounds && h.scheduleRounds == written.scheduleRounds &&
               h.stirRounds == written.stirRounds);
    if (hint != nullptr) {
        FUZZ_CHECK(std::memcmp(h.hint, hint, 10 * sizeof(char16_t)) == 0);
    } else {
        FUZZ_CHECK(h.hint[0] == 0);
    }

    auto plain = std::make_unique<std::uint8_t[]>(length + 2);
    FUZZ_CHECK(setupKey(&reader, password) == RESULT_OK);
    const ResultCode code = decryptPayload(&reader, plain.get(), length);
    teardownSession(&reader);
    FUZZ_CHECK(code == RESULT_OK);
    FUZZ_CHECK(headerPlainSize(reader.header) == length);
    FUZZ_CHECK(length == 0 || std::memcmp(plain.get(), text, length) == 0);
    FUZZ_CHECK(plain[length] == 0 && plain[length + 1] == 0);
    return 0;
}
