#pragma once
// The two table generators, the key schedule, the fold that digests key
// material, and key setup from a password and the header's per-file values.
#include <cstddef>
#include <cstdint>

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
