#include "cli/cli_structure.h"

#include <cstdint>

#include "cipher/checksum.h"
#include "container/payload.h"
#include "container/container_session.h"
#include "platform/byte_order.h"
#include "platform/platform.h"

namespace {

// Reads exactly count bytes from the session's file, or as many as there are.
bool readExactly(FileHandle file, std::uint8_t* buffer, std::uint32_t count, std::uint32_t* got)
{
    *got = 0;
    while (*got < count) {
        std::uint32_t part = 0;
        if (!readFile(file, buffer + *got, count - *got, &part)) {
            return false;
        }
        if (part == 0) {
            break;
        }
        *got += part;
    }
    return true;
}

}  // namespace

ResultCode walkContainerStructure(ContainerSession* session, const std::function<void(const std::string&)>& report)
{
    const ContainerHeader& header = session->header;
    const bool older = session->generation < 2;
    const std::uint64_t plain = headerPlainSize(header);
    const std::uint64_t blockCount = header.blockSize == 0 ? 0 : (plain + header.blockSize - 1) / header.blockSize;
    const FileHandle file = session->sourceFile;
    std::uint8_t chunk[65536];
    std::uint64_t remaining = plain;
    std::uint64_t index = 0;
    std::uint32_t running = 0;
    if (remaining > 0 && header.blockSize == 0) {
        report("blocks: the block size is 0");
        return RESULT_CHECKSUM_FAILED;
    }
    while (remaining > 0) {
        ++index;
        const std::string block =
            "block " + std::to_string(index) + (older ? std::string() : " of " + std::to_string(blockCount));
        const std::uint32_t expected = nextBlockLength(header, remaining);
        std::uint8_t blockHeader[BLOCK_HEADER_SIZE];
        std::uint32_t got = 0;
        if (!readExactly(file, blockHeader, BLOCK_HEADER_SIZE, &got)) {
            report(block + ": cannot be read");
            return RESULT_READ_FAILED;
        }
        if (got < BLOCK_HEADER_SIZE) {
            report(block + ": the file ends before it");
            return RESULT_UNEXPECTED_EOF;
        }
        const std::uint32_t length = loadLe32(blockHeader);
        const std::uint32_t checksum = loadLe32(blockHeader + 4);
        if (!acceptBlockLength(session->generation, length, expected)) {
            report(block + ": its length " + std::to_string(length) + " is wrong (expected " +
                   std::to_string(expected) + ")");
            return RESULT_CHECKSUM_FAILED;
        }
        if (!older) {
            running = 0;
        }
        std::uint32_t left = length;
        while (left > 0) {
            const std::uint32_t part = left < sizeof chunk ? left : static_cast<std::uint32_t>(sizeof chunk);
            if (!readExactly(file, chunk, part, &got)) {
                report(block + ": cannot be read");
                return RESULT_READ_FAILED;
            }
            running = continueRotateAddChecksum(running, chunk, got);
            if (got < part) {
                report(block + ": the file ends inside it");
                return RESULT_UNEXPECTED_EOF;
            }
            left -= part;
        }
        if (running != checksum) {
            report(block + ": checksum failed");
            return RESULT_CHECKSUM_FAILED;
        }
        remaining -= length;
    }
    report("blocks: " + std::to_string(index) + " checked, every checksum ok");
    std::uint8_t trailer[PAYLOAD_TRAILER_SIZE] = {};
    std::uint32_t got = 0;
    if (!readExactly(file, trailer, PAYLOAD_TRAILER_SIZE, &got)) {
        report("trailer: cannot be read");
        return RESULT_READ_FAILED;
    }
    if (got < 8) {
        report("trailer: the file ends before it is complete");
        return RESULT_UNEXPECTED_EOF;
    }
    if (loadLe32(trailer) != 0) {
        report("trailer: its end marker is damaged");
        return RESULT_CHECKSUM_FAILED;
    }
    if (got < PAYLOAD_TRAILER_SIZE) {
        report("trailer: " + std::to_string(got) + " of 16 bytes (the spare copies of the sum are missing)");
        return RESULT_OK;
    }
    if (!trailerCopiesAgree(trailer)) {
        report("trailer: the spare copies of the sum disagree");
        return RESULT_OK;
    }
    report("trailer: ok");
    return RESULT_OK;
}
