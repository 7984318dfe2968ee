#include "cipher/key_setup.h"

#include <algorithm>
#include <atomic>
#include <optional>
#include <cstring>

#include "platform/locked_memory.h"
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

namespace {

// count schedule steps from step first on, key bytes taken from bytes[position] on.
void scheduleSteps(std::uint32_t* table, std::uint32_t mask, std::uint32_t* j, const std::uint8_t* bytes,
                   std::size_t length, std::size_t position, std::uint32_t first, std::uint32_t count)
{
    std::uint32_t jj = *j;
    for (std::uint32_t k = first; k < first + count; ++k) {
        const std::uint32_t i = k & mask;
        const std::uint32_t a = table[i];
        jj = (jj + a + bytes[position]) & mask;
        table[i] = table[jj];
        table[jj] = a;
        if (++position == length) {
            position = 0;
        }
    }
    *j = jj;
}

}  // namespace

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
    if (length < STEPS_PER_PASS || length > KEY_MATERIAL_SIZE) {
        scheduleSteps(table, mask, &j, bytes, length, 0, 0, count);
        state->scheduleJ = j;
        return;
    }
    // In passes of steps the key position wraps once a pass, and the
    // table index is the pass's first plus a constant.
    std::uint8_t repeated[KEY_MATERIAL_SIZE + STEPS_PER_PASS - 1];
    std::memcpy(repeated, bytes, length);
    std::memcpy(repeated + length, bytes, STEPS_PER_PASS - 1);
    std::size_t position = 0;
    std::uint32_t k = 0;
    for (; count - k >= STEPS_PER_PASS; k += STEPS_PER_PASS) {
        const std::uint8_t* key = repeated + position;
        const std::uint32_t first = k & mask;
        forEachStepOfPass([&](std::uint32_t p) {
            const std::uint32_t i = first + p;
            const std::uint32_t a = table[i];
            j = (j + a + key[p]) & mask;
            table[i] = table[j];
            table[j] = a;
        });
        position += STEPS_PER_PASS;
        if (position >= length) {
            position -= length;
        }
    }
    scheduleSteps(table, mask, &j, bytes, length, position, k, count - k);
    secureWipe(repeated, length + STEPS_PER_PASS - 1);
    state->scheduleJ = j;
}

namespace {

// What a fold step at one byte position of the folded string uses: the word
// indices it reads besides its step's own, and the value it mixes in, rotated
// as the write rotates it.
struct FoldPosition {
    std::uint8_t byByte;
    std::uint8_t byPosition;
    std::uint16_t unused;
    std::uint32_t mixedRotated;
};

// Key material and the entropy record are far shorter; longer strings take
// the plain loop, and so do strings shorter than a pass of steps.
constexpr std::size_t FOLD_TABLE_POSITIONS = KEY_MATERIAL_SIZE;

// value, or replacement where index equals at. Compilers like to turn this
// into a branch, which here mispredicts about once in twenty steps; the
// conditional move costs one cycle on every step instead.
inline std::uint32_t replaceIfEqual(std::uint32_t index, std::uint32_t at, std::uint32_t replacement,
                                    std::uint32_t value)
{
#if defined(__GNUC__) && defined(__x86_64__)
    asm("cmpl %[index], %[at]\n\tcmove %[replacement], %[value]"
        : [value] "+r"(value)
        : [index] "r"(index), [at] "r"(at), [replacement] "r"(replacement)
        : "cc");
    return value;
#else
    return index == at ? replacement : value;
#endif
}

// value, hidden from the optimiser, which would otherwise regroup a sum
// built on it into the order it prefers.
inline std::uint32_t keptApart(std::uint32_t value)
{
#if defined(__GNUC__)
    asm("" : "+r"(value));
#endif
    return value;
}

template <FoldVariant VARIANT>
std::uint32_t foldMix(std::uint32_t byte, std::uint32_t position)
{
    return VARIANT == FoldVariant::ThreeTerm ? byte ^ position : byte;
}

// The fold as written: each step reads the words and rewrites one in place.
template <FoldVariant VARIANT>
void foldPlain(const std::uint8_t* bytes, std::size_t length, std::uint32_t* words, std::uint32_t w,
               std::uint32_t steps)
{
    std::uint32_t x = 0;
    std::size_t position = 0;
    for (std::uint32_t s = 0; s < steps; ++s) {
        const auto p = static_cast<std::uint32_t>(position);
        const std::uint32_t c = bytes[position];
        std::uint32_t sum = words[s & w] + words[c & w];
        if constexpr (VARIANT == FoldVariant::ThreeTerm) {
            sum += words[p & w];
        }
        x = (sum + x + 1) & w;
        words[x] = rotl32(foldMix<VARIANT>(c, p) ^ words[x], 5);
        if (++position == length) {
            position = 0;
        }
    }
}

// A step reads up to three words that the steps just before it may have
// written, at indices known only when those steps end. Stored at once, the
// newest writes hold up the next reads: the processor either waits for the
// store or, having guessed no overlap, starts over when one turns up. So the
// two newest writes stay pending in registers and memory holds everything
// older:
// - the older pending write as the value it stores;
// - the newest as what it mixes in, a read of its word being answered from
//   the read itself.
// Memory keeps every word twice, as it is and rotated as a write rotates it.
// A write's rotate then falls on a word read from memory rather than on the
// step chain: the value a read of the newest word sees is one XOR of the
// rotated copy, and so is the older write's value, taken a step after its
// index is known. That holds while the two pending writes are to different
// words; when they are to the same word, which is rare, the older one is
// stored first.
template <FoldVariant VARIANT, std::uint32_t WORDS>
void foldPending(const FoldPosition* positions, std::size_t length, std::uint32_t* words, std::uint32_t steps)
{
    constexpr std::uint32_t W = WORDS - 1;
    // A pass's own word indices run from a multiple of the pass without wrapping.
    static_assert(WORDS % STEPS_PER_PASS == 0);
    // A pending write to this slot past the words touches nothing that is read.
    constexpr std::uint32_t NOWHERE = WORDS;
    // The fold starts from zero words, whose rotations are zero too.
    std::uint32_t v[WORDS + 1] = {};
    std::uint32_t rotated[WORDS + 1] = {};
    std::uint32_t x = 0;
    std::uint32_t olderAt = NOWHERE;
    std::uint32_t olderValue = 0;
    std::uint32_t newestAt = NOWHERE;
    std::uint32_t newestMix = 0;
    const FoldPosition* at = positions;
    const FoldPosition* const end = positions + length;
    std::uint32_t s = 0;
    const auto step = [&](const FoldPosition* here, std::uint32_t byStep) {
        if (newestAt == olderAt) [[unlikely]] {
            v[olderAt] = olderValue;
            rotated[olderAt] = rotl32(olderValue, 5);
            olderAt = NOWHERE;
        }
        const std::uint32_t storeAt = olderAt;
        const std::uint32_t storeValue = olderValue;
        const std::uint32_t mixAt = newestAt;
        const std::uint32_t mix = newestMix;
        // Taken before the older write is stored: the two words differ.
        const std::uint32_t newestValue = mix ^ rotated[mixAt];
        const auto read = [&](std::uint32_t index) {
            const std::uint32_t value = replaceIfEqual(index, storeAt, storeValue, v[index]);
            return replaceIfEqual(index, mixAt, mix ^ rotated[index], value);
        };
        // The reads arrive together; summed as two pairs, they put two adds
        // and the mask on the chain from one step to the next.
        const std::uint32_t next = x + 1;
        if constexpr (VARIANT == FoldVariant::ThreeTerm) {
            const std::uint32_t pair = keptApart(read(here->byByte) + read(byStep));
            x = (pair + keptApart(read(here->byPosition) + next)) & W;
        } else {
            x = (read(here->byByte) + keptApart(read(byStep) + next)) & W;
        }
        v[storeAt] = storeValue;
        rotated[storeAt] = rotl32(storeValue, 5);
        olderAt = mixAt;
        olderValue = newestValue;
        newestAt = x;
        newestMix = here->mixedRotated;
    };
    // Passes of steps, their positions read past the pass's first from the
    // table's repeated start, so that the position wraps once a pass and the
    // pending writes trade places without moves.
    for (; steps - s >= STEPS_PER_PASS; s += STEPS_PER_PASS) {
        const std::uint32_t first = s & W;
        forEachStepOfPass([&](std::uint32_t p) { step(at + p, first + p); });
        at += STEPS_PER_PASS;
        if (at >= end) {
            at -= length;
        }
    }
    for (; s < steps; ++s) {
        step(at, s & W);
        if (++at == end) {
            at = positions;
        }
    }
    v[olderAt] = olderValue;
    rotated[olderAt] = rotl32(olderValue, 5);
    v[newestAt] = newestMix ^ rotated[newestAt];
    std::memcpy(words, v, WORDS * sizeof(std::uint32_t));
    wipeObject(v);
    wipeObject(rotated);
}

template <FoldVariant VARIANT>
void foldSteps(const std::uint8_t* bytes, std::size_t length, std::uint32_t* words, std::uint32_t wordCount,
               std::uint32_t steps)
{
    const std::uint32_t w = wordCount - 1;
    if (length < STEPS_PER_PASS || length > FOLD_TABLE_POSITIONS ||
        (wordCount != 8 && wordCount != 16 && wordCount != 64)) {
        foldPlain<VARIANT>(bytes, length, words, w, steps);
        return;
    }
    FoldPosition positions[FOLD_TABLE_POSITIONS + STEPS_PER_PASS - 1];
    for (std::size_t p = 0; p < length; ++p) {
        const auto position = static_cast<std::uint32_t>(p);
        positions[p] = {static_cast<std::uint8_t>(bytes[p] & w), static_cast<std::uint8_t>(position & w), 0,
                        rotl32(foldMix<VARIANT>(bytes[p], position), 5)};
    }
    std::copy(positions, positions + STEPS_PER_PASS - 1, positions + length);
    if (wordCount == 8) {
        foldPending<VARIANT, 8>(positions, length, words, steps);
    } else if (wordCount == 16) {
        foldPending<VARIANT, 16>(positions, length, words, steps);
    } else {
        foldPending<VARIANT, 64>(positions, length, words, steps);
    }
    secureWipe(positions, (length + STEPS_PER_PASS - 1) * sizeof(FoldPosition));
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
        foldSteps<FoldVariant::ThreeTerm>(bytes, length, words, wordCount, steps);
    } else {
        foldSteps<FoldVariant::TwoTerm>(bytes, length, words, wordCount, steps);
    }
}

namespace {

// Locked scratch kept for the life of the process. Locking fresh pages for
// every setup (map, lock, unlock, unmap) cost a fifth to a third of a small
// key setup. A few slots, so that a save's writer and its check, which set up
// keys at the same time, each find one; a slot is wiped after every use and
// never freed, so no destructor runs at exit on whichever thread ends last.
struct ScratchSlot {
    std::atomic<bool> busy;
    KeySetupScratch* scratch;
};
constexpr int SCRATCH_SLOTS = 4;
ScratchSlot gScratchSlots[SCRATCH_SLOTS];

// A slot's locked scratch, or null when every slot is taken or its pages
// cannot be had (the caller then locks pages of its own).
KeySetupScratch* leaseScratch(ScratchSlot** leased)
{
    *leased = nullptr;
    for (ScratchSlot& slot : gScratchSlots) {
        if (slot.busy.exchange(true, std::memory_order_acquire)) {
            continue;
        }
        if (slot.scratch == nullptr) {
            slot.scratch = static_cast<KeySetupScratch*>(allocateLockedPages(sizeof(KeySetupScratch), nullptr));
        }
        if (slot.scratch == nullptr) {
            slot.busy.store(false, std::memory_order_release);
            return nullptr;
        }
        *leased = &slot;
        return slot.scratch;
    }
    return nullptr;
}

void returnScratch(ScratchSlot* slot)
{
    if (slot != nullptr) {
        slot->busy.store(false, std::memory_order_release);
    }
}

}  // namespace

void setupCipherKey(CipherState* cipher, const KeyParameters& header, const char16_t* password)
{
    CipherState& state = *cipher;
    const SchemeParameters scheme = schemeParameters(header.cipherScheme);
    const std::uint32_t mask = scheme.tableMask;
    state.tableMask = mask;

    // The password's bytes and their digests: in locked memory where the
    // system gives it, else on the stack; wiped either way.
    ScratchSlot* leasedSlot = nullptr;
    KeySetupScratch* pooled = leaseScratch(&leasedSlot);
    std::optional<LockedRecord<KeySetupScratch>> lockedScratch;
    if (pooled == nullptr) {
        lockedScratch.emplace();
    }
    KeySetupScratch stackScratch;
    KeySetupScratch& scratch = pooled != nullptr ? *pooled : (*lockedScratch ? **lockedScratch : stackScratch);
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
    const auto stir = [&](std::uint32_t slot) {
        const std::uint32_t t = generatorStep(keyTable, i, j, mask);
        const std::uint32_t swapped = shuffleTable[slot];
        shuffleTable[slot] = shuffleTable[t];
        shuffleTable[t] = swapped;
    };
    std::uint32_t k = 0;
    for (; header.stirRounds - k >= STEPS_PER_PASS; k += STEPS_PER_PASS) {
        const std::uint32_t first = k & mask;
        forEachStepOfPass([&](std::uint32_t p) { stir(first + p); });
    }
    for (; k < header.stirRounds; ++k) {
        stir(k & mask);
    }
    state.keyI = i;
    state.keyJ = j;

    wipeObject(scratch);
    returnScratch(leasedSlot);
}
