#pragma once
// Per-file random values drawn from sampled system values; no operating-system
// random service is used.
#include <cstdint>

struct ContainerSession;

inline constexpr std::uint32_t ENTROPY_RECORD_SIZE = 60;
inline constexpr std::uint32_t ENTROPY_BYTES = 64;

// Samples the system values into the 60-byte record and folds it into 64 bytes.
void gatherEntropy(std::uint8_t out[ENTROPY_BYTES]);
// Draws salt, the three round counts and shortBlock bytes 0..30 for a save.
void generateParameters(ContainerSession* session);
