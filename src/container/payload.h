#pragma once
// Cutting the payload into blocks, framing and writing them (through the
// cipher's block transform) with the trailer, and reading them back with
// every check.
#include <cstdint>

#include "cipher/block_transform.h"
#include "platform/result_codes.h"

struct ContainerHeader;
struct ContainerSession;

inline constexpr std::uint32_t BLOCK_HEADER_SIZE = 8;
inline constexpr std::uint32_t PAYLOAD_TRAILER_SIZE = 16;

// allocateBlockBuffers for the session's buffers, storing a failure in the
// session: allocates the block buffers of size bytes (shuffleBuffer and the size-entry
// shuffleIndex only withShuffle), releasing any earlier ones first. Failures
// give RESULT_OUT_OF_MEMORY and leave what was allocated for releaseBuffers.
ResultCode allocateBuffers(ContainerSession* session, std::uint32_t size, bool withShuffle);
// Wipes and frees whatever allocateBuffers allocated (sizes from bufferSize),
// marks the buffers absent and sets bufferSize to 0. Safe to call again.
void releaseBuffers(ContainerSession* session);
// Fills shuffleIndex[0..n-1] with a permutation drawn from the shuffle
// generator, as the header's scheme and shuffle level ask.
void buildShuffle(ContainerSession* session, std::uint32_t n);
// The length of the next block when left bytes of the payload remain.
std::uint32_t nextBlockLength(const ContainerHeader& header, std::uint64_t left);
// Whether the two spare copies of the sum in a whole trailer agree with it.
bool trailerCopiesAgree(const std::uint8_t trailer[PAYLOAD_TRAILER_SIZE]);
// Whether a block of length bytes may stand where expected bytes remain to be
// read in a container of the given generation: exactly in the current
// generation; older writers also cut blocks short.
bool acceptBlockLength(std::uint32_t generation, std::uint32_t length, std::uint32_t expected);
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
