#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "container/container_io.h"
#include "container/container_writer.h"
#include "cipher/key_setup.h"
#include "container/payload.h"
#include "container/session_fixture.h"
#include "support/test_support.h"

namespace {

// Every single-byte change and every truncation of a small saved container
// either fails with a result code or, where the format makes the change
// harmless, gives back exactly the original text. Never a crash, never a
// wrong text reported as success.
class ContainerMutation : public ::testing::Test {
protected:
    void SetUp() override
    {
        directory = makeTempDir("mutation");
        original = joinPath(directory, "original.vtxt");
        damaged = joinPath(directory, "damaged.vtxt");
        // Saved at the smallest level the save job uses: the deciphering work
        // per open stays small, which the thousands of opens below need.
        SessionPtr saver = makeSession();
        ASSERT_EQ(saveContainer(saver.get(), text.data(), text.size(), toUtf16(original).c_str(), password.c_str(),
                                u"hint", 7),
                  RESULT_OK);
        bytes = readBytes(original);
        ASSERT_GT(bytes.size(), HEADER_SIZE + PAYLOAD_TRAILER_SIZE);
        trailerOffset = bytes.size() - PAYLOAD_TRAILER_SIZE;
        writeBytes(damaged, bytes);

        // The key depends on the header alone. Opening a file whose header is
        // the saved one can take the key from this first setup instead of
        // running it again, which keeps tens of thousands of opens fast.
        SessionPtr session = makeSession();
        ASSERT_EQ(openContainer(session.get(), toUtf16(original).c_str()), RESULT_OK);
        savedHeader = session->header;
        setupKey(session.get(), password.c_str());
        keyedState = session->cipher;
    }

    // Changes one byte of the file at damaged in place: rewriting the whole
    // file for each of tens of thousands of changes costs far more.
    void patchByte(std::size_t position, std::uint8_t value)
    {
        std::fstream file(damaged, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(static_cast<std::streamoff>(position));
        file.put(static_cast<char>(value));
        file.close();
        ASSERT_FALSE(file.fail()) << "cannot change " << damaged;
    }

    // Opens the file at damaged as the open job does.
    OpenOutcome openDamaged()
    {
        OpenOutcome outcome;
        SessionPtr session = makeSession();
        outcome.code = openContainer(session.get(), toUtf16(damaged).c_str());
        if (outcome.code != RESULT_OK) {
            return outcome;
        }
        if (std::memcmp(&session->header, &savedHeader, sizeof savedHeader) == 0) {
            session->cipher = keyedState;
        } else {
            setupKey(session.get(), password.c_str());
        }
        std::vector<std::uint8_t> destination(static_cast<std::size_t>(headerPlainSize(session->header)));
        outcome.code = decryptPayload(session.get(), destination.data(), destination.size());
        if (outcome.code == RESULT_OK) {
            destination.resize(static_cast<std::size_t>(headerPlainSize(session->header)));
            outcome.text = destination;
        }
        return outcome;
    }

    static bool isFailureCode(ResultCode code)
    {
        return code == RESULT_BAD_FORMAT || code == RESULT_NEWER_VERSION || code == RESULT_CHECKSUM_FAILED ||
               code == RESULT_UNEXPECTED_EOF;
    }

    const std::vector<std::uint8_t> text = bytesOf("Forty bytes of text that we will damage.");
    const std::u16string password = u"mutation";
    std::string directory;
    std::string original;
    std::string damaged;
    std::vector<std::uint8_t> bytes;
    std::size_t trailerOffset = 0;
    ContainerHeader savedHeader{};
    CipherState keyedState{};
};

TEST_F(ContainerMutation, EveryChangedByteFailsOrIsHarmless)
{
    // The header is covered by its checksum, which any change of a byte
    // breaks; eight single-bit changes per header byte show it at every
    // offset. Payload and trailer bytes, where the cipher and the block
    // checks do the work, get every one of the 255 other values.
    for (std::size_t position = 0; position < bytes.size(); ++position) {
        std::vector<std::uint8_t> changes;
        if (position < HEADER_SIZE) {
            for (int bit = 0; bit < 8; ++bit) {
                changes.push_back(static_cast<std::uint8_t>(bytes[position] ^ (1u << bit)));
            }
        } else {
            for (int value = 0; value < 256; ++value) {
                if (value != bytes[position]) {
                    changes.push_back(static_cast<std::uint8_t>(value));
                }
            }
        }
        const bool harmless = position >= trailerOffset + 8;
        for (const std::uint8_t value : changes) {
            patchByte(position, value);
            const OpenOutcome outcome = openDamaged();
            if (harmless) {
                ASSERT_EQ(outcome.code, RESULT_OK) << "offset " << position << " value " << int{value};
                ASSERT_EQ(outcome.text, text) << "offset " << position;
            } else {
                ASSERT_TRUE(isFailureCode(outcome.code))
                    << "offset " << position << " value " << int{value} << " gave " << outcome.code;
            }
        }
        patchByte(position, bytes[position]);
    }
}

TEST_F(ContainerMutation, EveryTruncationFailsOrIsHarmless)
{
    // From the longest cut down to the empty file, each a shortening of the last.
    for (std::size_t length = bytes.size(); length-- > 0;) {
        std::filesystem::resize_file(damaged, length);
        const OpenOutcome outcome = openDamaged();
        if (length < HEADER_SIZE) {
            ASSERT_EQ(outcome.code, RESULT_BAD_FORMAT) << "length " << length;
        } else if (length < trailerOffset + 8) {
            ASSERT_EQ(outcome.code, RESULT_UNEXPECTED_EOF) << "length " << length;
        } else {
            ASSERT_EQ(outcome.code, RESULT_OK) << "length " << length;
            ASSERT_EQ(outcome.text, text) << "length " << length;
        }
    }
}

}  // namespace
