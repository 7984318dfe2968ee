#pragma once
// The two table generators, the key schedule, the fold that digests key
// material, and key setup from a password and the header's per-file values.
#include <cstddef>
#include <cstdint>
#include <utility>

#include "cipher/cipher_state.h"

// What keys the generators besides the password: the header's scheme, salt and
// round counts.
struct KeyParameters {
    std::uint32_t cipherScheme;
    std::uint8_t salt[16];
    std::uint32_t mixRounds;
    std::uint32_t scheduleRounds;
    std::uint32_t stirRounds;
};

enum class FoldVariant { TwoTerm, ThreeTerm };

// One generator step on table with indices *i and *j; returns a value in 0..mask.
std::uint32_t keystreamStep(std::uint32_t* table, std::uint32_t* i, std::uint32_t* j, std::uint32_t mask);

// keystreamStep on indices the caller holds in locals, for the hot loops: i
// and j stay out of memory there, which stores into the table (and into byte
// buffers, which may alias anything) would otherwise force on every step.
// Gives exactly keystreamStep's output and state.
// The generator step through table entry at, i's new value: generatorStep
// without advancing i.
inline std::uint32_t generatorStepAt(std::uint32_t* table, std::uint32_t at, std::uint32_t& j, std::uint32_t mask)
{
    const std::uint32_t a = table[at];
    j = (j + a) & mask;
    const std::uint32_t b = table[j];
    table[at] = b;
    table[j] = a;
    return table[(a + b) & mask];
}

inline std::uint32_t generatorStep(std::uint32_t* table, std::uint32_t& i, std::uint32_t& j, std::uint32_t mask)
{
    i = (i + 1) & mask;
    return generatorStepAt(table, i, j, mask);
}

// Steps that the generator, key schedule, stir and fold loops take together,
// at constant offsets from the pass's first index: with no index to mask or
// wrap inside a pass, those loops ran a tenth to a quarter faster.
inline constexpr std::uint32_t STEPS_PER_PASS = 8;

// Calls step(p) for p = 0..STEPS_PER_PASS-1, unrolled, so that each p is a
// constant the compiler folds into the step's addresses.
template <typename Step>
void forEachStepOfPass(Step step)
{
    [&]<std::uint32_t... P>(std::integer_sequence<std::uint32_t, P...>)
    {
        (step(P), ...);
    }
    (std::make_integer_sequence<std::uint32_t, STEPS_PER_PASS>{});
}

// Runs the generator steps for positions first..end-1, calling step(k, output)
// for each. Gives exactly generatorStep's outputs and state; passes of steps
// whose table entries do not wrap take them at constant offsets.
template <typename Step>
void generatorSteps(std::uint32_t* table, std::uint32_t& i, std::uint32_t& j, std::uint32_t mask, std::uint32_t first,
                    std::uint32_t end, Step step)
{
    std::uint32_t k = first;
    for (; k < end && ((i + 1) & (STEPS_PER_PASS - 1)) != 0; ++k) {
        step(k, generatorStep(table, i, j, mask));
    }
    for (; end - k >= STEPS_PER_PASS; k += STEPS_PER_PASS) {
        const std::uint32_t at = (i + 1) & mask;
        forEachStepOfPass([&](std::uint32_t p) { step(k + p, generatorStepAt(table, at + p, j, mask)); });
        i = at + STEPS_PER_PASS - 1;
    }
    for (; k < end; ++k) {
        step(k, generatorStep(table, i, j, mask));
    }
}
// One key schedule pass of count steps over bytes[0..length-1] on state->keyTable.
void scheduleKey(CipherState* state, const std::uint8_t* bytes, std::size_t length, std::uint32_t count);
// Folds length bytes into wordCount (8, 16 or 64) words with the given number of steps.
void foldDigest(const std::uint8_t* bytes, std::size_t length, std::uint32_t* words, std::uint32_t wordCount,
                std::uint32_t steps, FoldVariant variant);
// Keys both generators of state from password (NUL-terminated UTF-16, null
// counts as empty; only its first 1024 units are looked at) and parameters.
// Wipes every intermediate buffer; allocates nothing, never fails.
void setupCipherKey(CipherState* state, const KeyParameters& parameters, const char16_t* password);
