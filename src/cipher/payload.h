#pragma once
// Cutting the payload into blocks, enciphering, shuffling, checksumming and
// writing them with the trailer, and reading them back with every check.
#include <cstdint>

#include "jobs/result_codes.h"

struct ContainerSession;

inline constexpr std::uint32_t BLOCK_HEADER_SIZE = 8;
inline constexpr std::uint32_t PAYLOAD_TRAILER_SIZE = 16;

// Allocates the block buffers of size bytes (shuffleBuffer and the size-entry
// shuffleIndex only withShuffle), releasing any earlier ones first. Failures
// give RESULT_OUT_OF_MEMORY and leave what was allocated for releaseBuffers.
ResultCode allocateBuffers(ContainerSession* session, std::uint32_t size, bool withShuffle);
// Wipes and frees whatever allocateBuffers allocated (sizes from bufferSize),
// marks the buffers absent and sets bufferSize to 0. Safe to call again.
void releaseBuffers(ContainerSession* session);
// Fills shuffleIndex[0..n-1] with a permutation drawn from the shuffle generator.
void buildShuffle(ContainerSession* session, std::uint32_t n);
// How many threads a transform may use: 1 runs everything on the caller's
// thread; 2 draws the permutation of each shuffled block of PARALLEL_BLOCK_MIN
// bytes or more on the caller's thread while a helper thread runs the key
// generator, the checksum, the reads or writes and the permutation's gather or
// scatter for it (a block whose helper cannot be started runs on one thread).
// 0 restores the default: 2 unless the machine has a single processor. The
// output is the same either way.
void setPayloadThreads(unsigned count);
// The shortest block transformed on two threads.
inline constexpr std::uint32_t PARALLEL_BLOCK_MIN = 1u << 18;
unsigned payloadThreads();
// Writes header (with its checksum), blocks and trailer of text to
// session->targetFile after setupKey. text holds plainSize bytes, or for a short
// text the count in shortBlock byte 31 (may be null when that is 0).
ResultCode encryptPayload(ContainerSession* session, const std::uint8_t* text);
// Reads, checks and deciphers the payload from session->sourceFile (positioned
// at the first block) into at most capacity bytes of destination, after
// setupKey. Every block is checked before it is deciphered; the password is
// judged only at the end. On failure destination may hold deciphered garbage.
// A short text's real length replaces the low half of plainSize.
ResultCode decryptPayload(ContainerSession* session, std::uint8_t* destination, std::uint64_t capacity);

// A transform that runs beside another transform of the same file on another
// thread: a writer that tells how far the file is written, and a reader (the
// check of a file just written) that waits for the bytes it reads next and
// takes the deciphered text as it comes. One record serves both sides. A
// paced transform runs on its caller's thread alone: the other processor is
// its partner's.
struct PayloadPacing {
    void* context;
    // Writer: the file now holds its first bytes bytes.
    void (*written)(void* context, std::uint64_t bytes);
    // Reader: returns once the file holds its first bytes bytes; false when it
    // never will (the writer has stopped).
    bool (*awaitWritten)(void* context, std::uint64_t bytes);
    // Reader: the next n deciphered bytes of a text of SHORT_TEXT_SIZE bytes
    // or more, in order (a short text stays in shortBlock).
    void (*deliver)(void* context, const std::uint8_t* bytes, std::uint32_t n);
};
// encryptPayload, reporting to pacing.written after the header, every block
// and the trailer.
ResultCode encryptPayloadPaced(ContainerSession* session, const std::uint8_t* text, const PayloadPacing& pacing);
// decryptPayload of a file of the current generation that its writer may still
// be writing: draws each block's permutation and key bytes before it waits for
// the block, hands the text to pacing.deliver instead of storing it, and also
// refuses (RESULT_CHECKSUM_FAILED) a trailer whose redundant copies disagree
// with a matching sum.
ResultCode decryptPayloadPaced(ContainerSession* session, const PayloadPacing& pacing);
