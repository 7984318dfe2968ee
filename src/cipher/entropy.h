#pragma once
// Per-file random values drawn from sampled system values; no operating-system
// random service is used.
#include <cstdint>

inline constexpr std::uint32_t ENTROPY_RECORD_SIZE = 60;
inline constexpr std::uint32_t ENTROPY_BYTES = 64;

struct SystemSample;

// Lays out the 60-byte little-endian record of one sample (the three
// structures enter as their rotate-add checksums).
void storeEntropyRecord(const SystemSample& sample, std::uint8_t record[ENTROPY_RECORD_SIZE]);
// Samples the system values into the 60-byte record and folds it into 64 bytes.
void gatherEntropy(std::uint8_t out[ENTROPY_BYTES]);
