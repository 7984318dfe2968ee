#pragma once
// Cutting the payload into blocks, enciphering, shuffling, checksumming and
// writing them with the trailer, and reading them back with every check.
#include <cstdint>

#include "jobs/result_codes.h"

struct ContainerSession;

inline constexpr std::uint32_t BLOCK_HEADER_SIZE = 8;
inline constexpr std::uint32_t PAYLOAD_TRAILER_SIZE = 16;

// Allocates the block buffers (shuffle buffers only withShuffle); failures give
// RESULT_OUT_OF_MEMORY and leave what was allocated for teardown.
ResultCode allocateBuffers(ContainerSession* session, std::uint32_t size, bool withShuffle);
// Fills shuffleIndex[0..n-1] with a permutation drawn from the shuffle generator.
void buildShuffle(ContainerSession* session, std::uint32_t n);
// Writes header, blocks and trailer of text to session->targetFile.
ResultCode encryptPayload(ContainerSession* session, const std::uint8_t* text);
// Reads, checks and deciphers the payload from session->sourceFile into at most
// capacity bytes of destination.
ResultCode decryptPayload(ContainerSession* session, std::uint8_t* destination, std::uint64_t capacity);
