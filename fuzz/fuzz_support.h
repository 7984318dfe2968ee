#pragma once
// Helpers shared by the fuzz targets: a scratch file per process, the text
// conversions an open job runs on loaded bytes, checksum repair so mutations
// get past the integrity checks, and the caps that keep one input fast.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct ContainerHeader;

// Stops the process the way a sanitizer finding would, naming the broken
// property; libFuzzer and the replay driver both report it as a failure.
[[noreturn]] void fuzzFail(const char* what);
#define FUZZ_CHECK(condition)     \
    do {                          \
        if (!(condition)) {       \
            fuzzFail(#condition); \
        }                         \
    } while (false)

// A file in a private directory of this process (on a memory file system when
// there is one), removed at exit. The same name serves every input.
const char16_t* scratchPath(int which = 0);
std::string scratchPathUtf8(int which = 0);
bool writeScratch(const std::uint8_t* data, std::size_t size, int which = 0);
void removeScratch(int which = 0);

// Reads input bytes as a password: pairs of bytes become UTF-16 units, at most
// 255 of them, ended at the first zero unit. out holds 256 units.
void passwordFromBytes(const std::uint8_t* data, std::size_t size, char16_t out[256]);

// Rewrites the header checksum (generation 2) or the legacy checksum
// (generations 0 and 1) of a file image so that it matches its bytes.
void repairHeaderChecksum(std::uint8_t* file, std::size_t size);
// Walks the blocks after the header the way the reader lays them out and
// rewrites each block checksum (chained across blocks in older generations).
void repairBlockChecksums(std::uint8_t* file, std::size_t size);

// The generation-2 bytes of the legacy checksum: seeds with scheduleBase and
// folds the 16 salt bytes as signed values, alternating the two halves.
std::uint16_t legacyHeaderChecksum(const std::uint8_t header[64]);

struct ContainerSession;
// Repairs a file image as options say (bit 0: the header checksum, bit 1: the
// block checksums and lengths), writes it to the scratch file and opens it
// into *session (initialised here) with capHeaderWork applied. False, with the
// session torn down, when the reader refuses the header.
bool openRepairedScratch(std::uint8_t options, std::vector<std::uint8_t>* file, ContainerSession* session);

// Caps an accepted header's work so one input stays far below a millisecond
// of cipher work: round counts, shuffle level and block size are folded into
// small ranges that keep every code path reachable.
void capHeaderWork(ContainerHeader* header);

// The conversions the plain-file open runs on n loaded bytes (detect, expand
// line breaks or swap, terminate, repair, skip the mark), with buffers sized
// exactly as the job sizes them, and checks on the text it produces.
void runPlainFileChain(const std::uint8_t* bytes, std::size_t n);
// Gives a header the entry name that marks UTF-16 text.
void markWideEntry(ContainerHeader* header);
// The conversions the container open runs on n decrypted bytes: a text
// container (UTF-8, or UTF-16 when the entry says so) or any other container,
// in a buffer sized by the open job's sizeOpenBuffer.
void runContainerTextChain(const std::uint8_t* bytes, std::size_t n, bool isTextContainer, bool wideEntry);
// Units before the terminator, checking that it lies within capacityUnits.
std::size_t boundedLength(const char16_t* text, std::size_t capacityUnits);
// True when text has no surrogate unit without its partner.
bool surrogatesPaired(const char16_t* text, std::size_t length);
