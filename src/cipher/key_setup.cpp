#include "cipher/key_setup.h"

#include <cstring>

#include "container/container_session.h"
#include "platform/secure_wipe.h"
#include "text/text_encoding.h"

namespace {

// Passwords longer than this are considered by their first units only; this
// many units always encode to far more bytes than any scheme uses unless the
// text is mostly unpaired surrogates, which the encoder drops.
constexpr std::size_t PASSWORD_UNITS_CONSIDERED = 1024;
constexpr std::size_t PASSWORD_BUFFER_SIZE = 1024;
constexpr std::size_t ENCODE_BUFFER_SIZE = 3 * PASSWORD_UNITS_CONSIDERED + 1;
constexpr std::size_t KEY_MATERIAL_SIZE = 1024;
constexpr std::uint32_t MAX_DIGEST_WORDS = 64;

struct SchemeParameters {
    std::uint32_t tableMask;
    std::size_t passwordLimit;
    std::uint32_t digestWords;
    FoldVariant variant;
    bool digestBigEndian;       // each digest word fed high byte first
    bool scheduleOverMaterial;  // second pass over keyMaterial, else over the password alone
};

SchemeParameters schemeParameters(std::uint32_t scheme)
{
    switch (scheme) {
        case 0:
        case 1:
            return {255, 255, 8, FoldVariant::TwoTerm, true, false};
        case 2:
            return {255, 255, 64, FoldVariant::TwoTerm, false, true};
        default:
            // The header reader refuses schemes above 3 before key setup runs.
            return {1023, 510, 64, FoldVariant::ThreeTerm, false, true};
    }
}

std::uint32_t rotl32(std::uint32_t v, unsigned n)
{
    return (v << n) | (v >> (32 - n));
}

// Fixed-size scratch of one key setup, wiped as a whole before returning.
struct KeySetupScratch {
    char16_t passwordUnits[PASSWORD_UNITS_CONSIDERED + 1];
    std::uint8_t encoded[ENCODE_BUFFER_SIZE];
    std::uint8_t passwordBytes[PASSWORD_BUFFER_SIZE];
    std::uint8_t keyMaterial[KEY_MATERIAL_SIZE];
    std::uint32_t digestWords[MAX_DIGEST_WORDS];
    std::uint8_t keyDigest[MAX_DIGEST_WORDS * 4];
};

// UTF-8 of the password, cut to limit bytes (the cut may split a sequence).
std::size_t encodePassword(const char16_t* password, std::size_t limit, KeySetupScratch* scratch)
{
    if (password == nullptr) {
        return 0;
    }
    std::size_t units = 0;
    while (units < PASSWORD_UNITS_CONSIDERED && password[units] != 0) {
        scratch->passwordUnits[units] = password[units];
        ++units;
    }
    scratch->passwordUnits[units] = 0;
    encodeUtf8(scratch->passwordUnits, scratch->encoded);
    std::size_t length = 0;
    while (length < limit && scratch->encoded[length] != 0) {
        ++length;
    }
    std::memcpy(scratch->passwordBytes, scratch->encoded, length);
    return length;
}

}  // namespace

std::uint32_t keystreamStep(std::uint32_t* table, std::uint32_t* i, std::uint32_t* j, std::uint32_t mask)
{
    *i = (*i + 1) & mask;
    *j = (*j + table[*i]) & mask;
    const std::uint32_t swapped = table[*i];
    table[*i] = table[*j];
    table[*j] = swapped;
    return table[(table[*i] + table[*j]) & mask];
}

void scheduleKey(CipherState* state, const std::uint8_t* bytes, std::size_t length, std::uint32_t count)
{
    if (length == 0) {
        return;
    }
    // Locals, not the record's members: every swap stores into a u32 table
    // that the compiler must assume could be scheduleJ itself.
    std::uint32_t* table = state->keyTable;
    const std::uint32_t mask = state->tableMask;
    std::uint32_t j = state->scheduleJ;
    std::size_t position = 0;
    for (std::uint32_t k = 0; k < count; ++k) {
        const std::uint32_t i = k & mask;
        const std::uint32_t a = table[i];
        j = (j + a + bytes[position]) & mask;
        table[i] = table[j];
        table[j] = a;
        if (++position == length) {
            position = 0;
        }
    }
    state->scheduleJ = j;
}

namespace {

// Each fold step may read the word the step before has just written, whose
// address is known only at that step's end; a read from memory would wait on
// that store every time. So the newest word stays in a register and reaches
// memory one step later, and the rare read of it is answered from there.
template <FoldVariant VARIANT>
void foldSteps(const std::uint8_t* bytes, std::size_t length, std::uint32_t* words, std::uint32_t w,
               std::uint32_t steps)
{
    std::uint32_t x = 0;
    std::size_t position = 0;
    std::uint32_t pendingAt = 0;
    std::uint32_t pending = words[0];
    for (std::uint32_t s = 0; s < steps; ++s) {
        const auto p = static_cast<std::uint32_t>(position);
        const std::uint32_t c = bytes[position];
        const std::uint32_t byByte = c & w;
        const std::uint32_t byStep = s & w;
        const std::uint32_t byPosition = p & w;
        bool readsPending = byByte == pendingAt || byStep == pendingAt;
        if constexpr (VARIANT == FoldVariant::ThreeTerm) {
            readsPending = readsPending || byPosition == pendingAt;
        }
        if (readsPending) [[unlikely]] {
            words[pendingAt] = pending;
        }
        std::uint32_t mixed = 0;
        if constexpr (VARIANT == FoldVariant::ThreeTerm) {
            x = (words[byByte] + words[byStep] + words[byPosition] + x + 1) & w;
            mixed = c ^ p;
        } else {
            x = (words[byStep] + words[byByte] + x + 1) & w;
            mixed = c;
        }
        const std::uint32_t old = x == pendingAt ? pending : words[x];
        words[pendingAt] = pending;
        pending = rotl32(mixed ^ old, 5);
        pendingAt = x;
        if (++position == length) {
            position = 0;
        }
    }
    words[pendingAt] = pending;
}

}  // namespace

void foldDigest(const std::uint8_t* bytes, std::size_t length, std::uint32_t* words, std::uint32_t wordCount,
                std::uint32_t steps, FoldVariant variant)
{
    std::memset(words, 0, wordCount * sizeof(std::uint32_t));
    if (length == 0) {
        return;
    }
    if (variant == FoldVariant::ThreeTerm) {
        foldSteps<FoldVariant::ThreeTerm>(bytes, length, words, wordCount - 1, steps);
    } else {
        foldSteps<FoldVariant::TwoTerm>(bytes, length, words, wordCount - 1, steps);
    }
}

ResultCode setupKey(ContainerSession* session, const char16_t* password)
{
    const ContainerHeader& header = session->header;
    CipherState& state = session->cipher;
    const SchemeParameters scheme = schemeParameters(header.cipherScheme);
    const std::uint32_t mask = scheme.tableMask;
    state.tableMask = mask;

    KeySetupScratch scratch;
    std::memset(&scratch, 0, sizeof scratch);

    const std::size_t passwordLength = encodePassword(password, scheme.passwordLimit, &scratch);

    std::memcpy(scratch.keyMaterial, header.salt, 8);
    std::memcpy(scratch.keyMaterial + 8, scratch.passwordBytes, passwordLength);
    std::memcpy(scratch.keyMaterial + 8 + passwordLength, header.salt + 8, 8);
    const std::size_t materialLength = passwordLength + 16;

    state.scheduleJ = 0;
    state.keyI = state.keyJ = 0;
    state.shuffleI = state.shuffleJ = 0;
    // Entries past the mask are never read; clearing them keeps the whole
    // record a function of header and password alone.
    for (std::uint32_t v = 0; v < CIPHER_TABLE_CAPACITY; ++v) {
        state.keyTable[v] = v <= mask ? v : 0;
        state.shuffleTable[v] = v <= mask ? v : 0;
    }

    foldDigest(scratch.keyMaterial, materialLength, scratch.digestWords, scheme.digestWords, header.mixRounds,
               scheme.variant);
    for (std::uint32_t k = 0; k < scheme.digestWords; ++k) {
        const std::uint32_t word = scratch.digestWords[k];
        std::uint8_t* out = scratch.keyDigest + 4 * k;
        for (unsigned b = 0; b < 4; ++b) {
            const unsigned shift = scheme.digestBigEndian ? 24 - 8 * b : 8 * b;
            out[b] = static_cast<std::uint8_t>(word >> shift);
        }
    }
    scheduleKey(&state, scratch.keyDigest, scheme.digestWords * 4, header.scheduleRounds);

    if (scheme.scheduleOverMaterial) {
        scheduleKey(&state, scratch.keyMaterial, materialLength, static_cast<std::uint32_t>(materialLength));
    } else {
        scheduleKey(&state, scratch.passwordBytes, passwordLength, header.scheduleRounds);
    }

    std::uint32_t* keyTable = state.keyTable;
    std::uint32_t* shuffleTable = state.shuffleTable;
    std::uint32_t i = state.keyI;
    std::uint32_t j = state.keyJ;
    for (std::uint32_t k = 0; k < header.stirRounds; ++k) {
        const std::uint32_t t = generatorStep(keyTable, i, j, mask);
        const std::uint32_t slot = k & mask;
        const std::uint32_t swapped = shuffleTable[slot];
        shuffleTable[slot] = shuffleTable[t];
        shuffleTable[t] = swapped;
    }
    state.keyI = i;
    state.keyJ = j;

    wipeObject(scratch);
    return session->result;
}
