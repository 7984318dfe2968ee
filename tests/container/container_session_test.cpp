#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cipher/key_setup.h"
#include "cipher/payload.h"
#include "container/container_session.h"
#include "platform/fault_injection.h"
#include "support/test_support.h"

namespace {

class ContainerSessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetFaults();
        directory = makeTempDir("session");
        session.reset(new ContainerSession);
        initSession(session.get());
    }
    void TearDown() override
    {
        teardownSession(session.get());
        resetFaults();
        std::error_code ignored;
        std::filesystem::remove_all(std::filesystem::u8path(directory), ignored);
    }
    std::string pathOf(const std::string& name) const
    {
        return joinPath(directory, name);
    }

    // Saves text at path with the given password; returns the code.
    ResultCode save(const std::vector<std::uint8_t>& text, const std::string& path, const char16_t* password = u"pw",
                    std::uint32_t shuffleLevel = 7, const char16_t* hint = u"hint")
    {
        return saveContainer(session.get(), text.empty() ? nullptr : text.data(), text.size(), toUtf16(path).c_str(),
                             password, hint, shuffleLevel);
    }

    // Opens, keys and deciphers the container at path; the text on success.
    ResultCode load(const std::string& path, const char16_t* password, std::vector<std::uint8_t>* text)
    {
        teardownSession(session.get());
        if (openContainer(session.get(), toUtf16(path).c_str()) != RESULT_OK) {
            return session->result;
        }
        text->assign(static_cast<std::size_t>(headerPlainSize(session->header)), 0);
        if (setupKey(session.get(), password) != RESULT_OK ||
            decryptPayload(session.get(), text->data(), text->size()) != RESULT_OK) {
            teardownSession(session.get());
            return session->result;
        }
        text->resize(static_cast<std::size_t>(headerPlainSize(session->header)));
        teardownSession(session.get());
        return RESULT_OK;
    }

    std::string directory;
    std::unique_ptr<ContainerSession> session;
};

std::vector<std::uint8_t> sampleText(std::size_t size)
{
    std::vector<std::uint8_t> text(size);
    std::uint32_t v = 12345;
    for (std::size_t i = 0; i < size; ++i) {
        v = v * 1103515245u + 12345u;
        text[i] = static_cast<std::uint8_t>(' ' + (v >> 16) % 90);
    }
    return text;
}

// ---- openContainer ----------------------------------------------------------

TEST_F(ContainerSessionTest, OpenRefusesMissingFileAndNoPath)
{
    EXPECT_EQ(openContainer(session.get(), toUtf16(pathOf("missing.vtxt")).c_str()), RESULT_OPEN_FAILED);
    EXPECT_EQ(session->result, RESULT_OPEN_FAILED);
    EXPECT_EQ(session->sourceFile, INVALID_FILE);
    EXPECT_EQ(openContainer(session.get(), nullptr), RESULT_OPEN_FAILED);
}

struct ShortFileCase {
    const char* what;
    std::vector<std::uint8_t> bytes;
    ResultCode expected;
};

class OpenShortFileTable : public ContainerSessionTest, public ::testing::WithParamInterface<ShortFileCase> {};

TEST_P(OpenShortFileTable, GivesCode)
{
    const std::string path = pathOf("short.vtxt");
    writeBytes(path, GetParam().bytes);
    EXPECT_EQ(openContainer(session.get(), toUtf16(path).c_str()), GetParam().expected) << GetParam().what;
}

std::vector<std::uint8_t> generationTwoStart(std::size_t size)
{
    std::vector<std::uint8_t> bytes(size, 0);
    const std::uint8_t magic[4] = {0x58, 0x5A, 0x4B, 0x02};
    std::copy(magic, magic + std::min<std::size_t>(4, size), bytes.begin());
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Files, OpenShortFileTable,
    ::testing::Values(ShortFileCase{"empty", {}, RESULT_BAD_FORMAT},
                      ShortFileCase{"one byte", {0x58}, RESULT_BAD_FORMAT},
                      ShortFileCase{"magic only", generationTwoStart(4), RESULT_BAD_FORMAT},
                      ShortFileCase{"generation 2 of 1023 bytes", generationTwoStart(1023), RESULT_BAD_FORMAT},
                      // Whole but all zero after the magic: the checksum fails.
                      ShortFileCase{"generation 2 of 1024 zero bytes", generationTwoStart(1024),
                                    RESULT_CHECKSUM_FAILED},
                      ShortFileCase{"text file", std::vector<std::uint8_t>(2000, 'a'), RESULT_BAD_FORMAT}));

TEST_F(ContainerSessionTest, OpenRefusesWhileSourceIsOpen)
{
    const std::string path = pathOf("doc.vtxt");
    ASSERT_EQ(save(sampleText(100), path), RESULT_OK);
    ASSERT_EQ(openContainer(session.get(), toUtf16(path).c_str()), RESULT_OK);
    const FileHandle first = session->sourceFile;
    const ContainerHeader header = session->header;
    const std::string other = pathOf("other.vtxt");
    writeBytes(other, {0x58});
    EXPECT_EQ(openContainer(session.get(), toUtf16(other).c_str()), RESULT_OPEN_FAILED);
    // The open file and its header are untouched, still at the first payload byte.
    EXPECT_EQ(session->sourceFile, first);
    EXPECT_EQ(0, std::memcmp(&session->header, &header, sizeof header));
    std::vector<std::uint8_t> text(100);
    session->result = RESULT_OK;
    ASSERT_EQ(setupKey(session.get(), u"pw"), RESULT_OK);
    EXPECT_EQ(decryptPayload(session.get(), text.data(), text.size()), RESULT_OK);
    EXPECT_EQ(text, sampleText(100));
}

TEST_F(ContainerSessionTest, OpenReportsFailedFirstRead)
{
    const std::string path = pathOf("doc.vtxt");
    ASSERT_EQ(save(sampleText(100), path), RESULT_OK);
    armFault(FAULT_READ, 1, false);
    EXPECT_EQ(openContainer(session.get(), toUtf16(path).c_str()), RESULT_READ_FAILED);
}

// ---- teardownSession --------------------------------------------------------

TEST_F(ContainerSessionTest, TeardownTwiceKeepsHeaderAndClosesFiles)
{
    const std::string path = pathOf("doc.vtxt");
    ASSERT_EQ(save(sampleText(5000), path), RESULT_OK);
    ASSERT_EQ(openContainer(session.get(), toUtf16(path).c_str()), RESULT_OK);
    ASSERT_EQ(setupKey(session.get(), u"pw"), RESULT_OK);
    ASSERT_EQ(allocateBuffers(session.get(), session->header.blockSize, true), RESULT_OK);
    session->cipher.plainSum = 0xABCD1234;
    std::memset(session->shortBlock, 0x77, sizeof session->shortBlock);
    const ContainerHeader header = session->header;

    teardownSession(session.get());
    teardownSession(session.get());

    EXPECT_EQ(session->sourceFile, INVALID_FILE);
    EXPECT_EQ(session->targetFile, INVALID_FILE);
    EXPECT_EQ(session->workBuffer, nullptr);
    EXPECT_EQ(session->shuffleBuffer, nullptr);
    EXPECT_EQ(session->shuffleIndex, nullptr);
    EXPECT_EQ(session->bufferSize, 0u);
    EXPECT_EQ(session->cipher.plainSum, 0xABCD1234u);
    EXPECT_EQ(session->cipher.tableMask, 0u);
    EXPECT_TRUE(std::all_of(std::begin(session->cipher.keyTable), std::end(session->cipher.keyTable),
                            [](std::uint32_t v) { return v == 0; }));
    EXPECT_TRUE(std::all_of(std::begin(session->cipher.shuffleTable), std::end(session->cipher.shuffleTable),
                            [](std::uint32_t v) { return v == 0; }));
    EXPECT_TRUE(std::all_of(std::begin(session->shortBlock), std::end(session->shortBlock),
                            [](std::uint8_t v) { return v == 0; }));
    EXPECT_EQ(0, std::memcmp(&session->header, &header, sizeof header));
    EXPECT_EQ(session->header.plainSizeLow, 5000u);
    EXPECT_EQ(session->generation, 2u);
    // The file was really closed: it can be replaced and deleted.
    EXPECT_TRUE(deleteFile(toUtf16(path).c_str()));
}

// ---- saveContainer ----------------------------------------------------------

TEST_F(ContainerSessionTest, SavedTextOpensAgain)
{
    for (std::size_t size : {std::size_t{0}, std::size_t{5}, std::size_t{31}, std::size_t{32}, std::size_t{4099}}) {
        const std::string path = pathOf("doc.vtxt");
        const std::vector<std::uint8_t> text = sampleText(size);
        ASSERT_EQ(save(text, path, u"secret \u00E9"), RESULT_OK) << size;
        EXPECT_EQ(session->header.plainSizeLow, size < 32 ? 32u : size);
        EXPECT_EQ(session->targetFile, INVALID_FILE);
        EXPECT_EQ(session->workBuffer, nullptr);
        std::vector<std::uint8_t> back;
        ASSERT_EQ(load(path, u"secret \u00E9", &back), RESULT_OK) << size;
        EXPECT_EQ(back, text) << size;
        EXPECT_EQ(std::u16string(session->header.hint), u"hint");
        EXPECT_EQ(load(path, u"secret", &back), RESULT_WRONG_PASSWORD) << size;
        EXPECT_EQ(listDirectory(directory), std::vector<std::string>{"doc.vtxt"});
    }
}

}  // namespace
