#pragma once
// The two table generators, the key schedule, the fold that digests key
// material, and key setup from a password and the header's per-file values.
#include <cstddef>
#include <cstdint>
#include <utility>

#include "cipher/cipher_state.h"
#include "jobs/result_codes.h"

struct ContainerSession;

enum class FoldVariant { TwoTerm, ThreeTerm };

// One generator step on table with indices *i and *j; returns a value in 0..mask.
std::uint32_t keystreamStep(std::uint32_t* table, std::uint32_t* i, std::uint32_t* j, std::uint32_t mask);

// keystreamStep on indices the caller holds in locals, for the hot loops: i
// and j stay out of memory there, which stores into the table (and into byte
// buffers, which may alias anything) would otherwise force on every step.
// Gives exactly keystreamStep's output and state.
inline std::uint32_t generatorStep(std::uint32_t* table, std::uint32_t& i, std::uint32_t& j, std::uint32_t mask)
{
    i = (i + 1) & mask;
    const std::uint32_t a = table[i];
    j = (j + a) & mask;
    const std::uint32_t b = table[j];
    table[i] = b;
    table[j] = a;
    return table[(a + b) & mask];
}

// Generator steps taken together where the table index runs on unmasked.
inline constexpr std::uint32_t GENERATOR_PASS = 8;

// Runs the generator steps for positions first..end-1, calling step(k, output)
// for each. Gives exactly generatorStep's outputs and state; runs of eight
// steps whose table entries do not wrap take them at constant offsets, with no
// masking of i, which made the loops around them up to a tenth faster.
template <typename Step>
void generatorSteps(std::uint32_t* table, std::uint32_t& i, std::uint32_t& j, std::uint32_t mask, std::uint32_t first,
                    std::uint32_t end, Step step)
{
    const auto stepAt = [&](std::uint32_t k, std::uint32_t at) {
        const std::uint32_t a = table[at];
        j = (j + a) & mask;
        const std::uint32_t b = table[j];
        table[at] = b;
        table[j] = a;
        step(k, table[(a + b) & mask]);
    };
    std::uint32_t k = first;
    for (; k < end && ((i + 1) & (GENERATOR_PASS - 1)) != 0; ++k) {
        i = (i + 1) & mask;
        stepAt(k, i);
    }
    for (; end - k >= GENERATOR_PASS; k += GENERATOR_PASS) {
        const std::uint32_t at = (i + 1) & mask;
        [&]<std::uint32_t... P>(std::integer_sequence<std::uint32_t, P...>)
        {
            (stepAt(k + P, at + P), ...);
        }
        (std::make_integer_sequence<std::uint32_t, GENERATOR_PASS>{});
        i = at + GENERATOR_PASS - 1;
    }
    for (; k < end; ++k) {
        i = (i + 1) & mask;
        stepAt(k, i);
    }
}
// One key schedule pass of count steps over bytes[0..length-1] on state->keyTable.
void scheduleKey(CipherState* state, const std::uint8_t* bytes, std::size_t length, std::uint32_t count);
// Folds length bytes into wordCount (8, 16 or 64) words with the given number of steps.
void foldDigest(const std::uint8_t* bytes, std::size_t length, std::uint32_t* words, std::uint32_t wordCount,
                std::uint32_t steps, FoldVariant variant);
// Keys both generators of session->cipher from password (NUL-terminated UTF-16,
// null counts as empty; only its first 1024 units are looked at) and the
// header's scheme, salt and round counts. Wipes every intermediate buffer;
// allocates nothing, never fails, returns session->result unchanged.
ResultCode setupKey(ContainerSession* session, const char16_t* password);
