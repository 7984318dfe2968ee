// The paced transforms, which let the check of a save read a file while its
// writer is still writing it: the reader must never read a byte before the
// writer has said it is there (else it reads a file's end that is not its
// end), the writer must never say a byte is there before it is, and the reader
// takes a file just written to a stricter standard than an old file.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "container/container_writer.h"
#include "cipher/key_setup.h"
#include "container/payload.h"
#include "container/session_fixture.h"
#include "container/container_header.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Three whole blocks and a short one, shuffled.
ContainerPlan pacedPlan()
{
    ContainerPlan plan;
    plan.shuffleLevel = 3;
    plan.blockSize = 70000;
    plan.password = u"paced";
    plan.text = patternText(3 * 70000 + 999, 12345);
    return plan;
}

// A writer that writes only what the reader asks for: each wait appends the
// file's next bytes up to the point waited for, so a read past the last wait
// meets the end of the file.
struct LazyWriter {
    FileHandle file = INVALID_FILE;
    Bytes bytes;  // the whole file, to be handed out
    std::uint64_t written = 0;
    std::vector<std::uint64_t> waits;
    Bytes delivered;
};

bool awaitLazily(void* context, std::uint64_t upTo)
{
    auto* w = static_cast<LazyWriter*>(context);
    w->waits.push_back(upTo);
    if (upTo > w->bytes.size()) {
        return false;
    }
    if (upTo > w->written) {
        std::uint32_t done = 0;
        const auto count = static_cast<std::uint32_t>(upTo - w->written);
        if (!writeFile(w->file, w->bytes.data() + w->written, count, &done) || done != count) {
            return false;
        }
        w->written = upTo;
    }
    return true;
}

void collect(void* context, const std::uint8_t* bytes, std::uint32_t n)
{
    auto* w = static_cast<LazyWriter*>(context);
    w->delivered.insert(w->delivered.end(), bytes, bytes + n);
}

void neverCalled(void*, std::uint64_t)
{
    ADD_FAILURE() << "a reader reported a write";
}

class PacedTransforms : public ::testing::Test {
protected:
    // Reads bytes as a check reads a file just written: through a handle of
    // its own, the header first, then every block behind the lazy writer.
    ResultCode readPaced(const Bytes& fileBytes, const std::u16string& password, LazyWriter* writer)
    {
        const std::u16string path = toUtf16(joinPath(directory, "paced.vtxt"));
        deleteFile(path.c_str());
        writer->file = createNewFileSharingReads(path.c_str());
        writer->bytes = fileBytes;
        EXPECT_NE(writer->file, INVALID_FILE);
        SessionPtr session = makeSession();
        session->sourceFile = openFileBesideWriter(path.c_str());
        EXPECT_NE(session->sourceFile, INVALID_FILE);
        ResultCode code = RESULT_READ_FAILED;
        std::uint32_t got = 0;
        Bytes header(HEADER_SIZE);
        if (awaitLazily(writer, HEADER_SIZE) && readFile(session->sourceFile, header.data(), HEADER_SIZE, &got) &&
            readHeader(session.get(), header.data(), got) == RESULT_OK) {
            setupKey(session.get(), password.c_str());
            writer->waits.clear();
            code = decryptPayloadPaced(session.get(), {writer, neverCalled, awaitLazily, collect});
        }
        closeFile(writer->file);
        return code;
    }

    std::string directory = makeTempDir("payload-paced");
};

TEST_F(PacedTransforms, ReaderWaitsForEachBlockAndTheTrailerBeforeReadingThem)
{
    const ContainerPlan plan = pacedPlan();
    const ContainerLayout layout = layoutOf(plan);
    LazyWriter writer;
    ASSERT_EQ(readPaced(writeContainerBytes(plan), plan.password, &writer), RESULT_OK);
    EXPECT_EQ(writer.delivered, plan.text);
    // Each wait reaches exactly the end of the piece read next, no further:
    // the end of every block, then of the trailer.
    std::vector<std::uint64_t> ends;
    for (std::size_t k = 1; k < layout.blockOffsets.size(); ++k) {
        ends.push_back(layout.blockOffsets[k]);
    }
    ends.push_back(layout.trailerOffset);
    ends.push_back(layout.size);
    EXPECT_EQ(writer.waits, ends);
}

TEST_F(PacedTransforms, ReaderRefusesWhatTheWriterNeverWrote)
{
    const ContainerPlan plan = pacedPlan();
    Bytes file = writeContainerBytes(plan);
    file.resize(layoutOf(plan).blockOffsets[2] + 100);
    LazyWriter writer;
    EXPECT_EQ(readPaced(file, plan.password, &writer), RESULT_UNEXPECTED_EOF);
}

// An old file whose trailer lost a redundant copy still opens, since its sum
// agrees with the text; a file just written with such a trailer did not reach
// the disk as it was written.
struct TrailerDamage {
    const char* name;
    std::size_t offsetInTrailer;
};

void PrintTo(const TrailerDamage& damage, std::ostream* out)
{
    *out << damage.name;
}

class PacedTrailer : public PacedTransforms, public ::testing::WithParamInterface<TrailerDamage> {};

TEST_P(PacedTrailer, JustWrittenFileNeedsEveryCopyOfTheSum)
{
    const ContainerPlan plan = pacedPlan();
    Bytes file = writeContainerBytes(plan);
    file[layoutOf(plan).trailerOffset + GetParam().offsetInTrailer] ^= 0x01;

    const std::string oldFile = joinPath(directory, "old.vtxt");
    writeBytes(oldFile, file);
    SessionPtr session = makeSession();
    ASSERT_EQ(openContainer(session.get(), toUtf16(oldFile).c_str()), RESULT_OK);
    setupKey(session.get(), plan.password.c_str());
    Bytes destination(plan.text.size());
    EXPECT_EQ(decryptPayload(session.get(), destination.data(), destination.size()), RESULT_OK);

    LazyWriter writer;
    EXPECT_EQ(readPaced(file, plan.password, &writer), RESULT_CHECKSUM_FAILED);
}

INSTANTIATE_TEST_SUITE_P(Copies, PacedTrailer,
                         ::testing::Values(TrailerDamage{"Rotated", 8}, TrailerDamage{"RotatedHighByte", 11},
                                           TrailerDamage{"Inverted", 12}),
                         [](const ::testing::TestParamInfo<TrailerDamage>& tested) { return tested.param.name; });

// The writer's reports, checked against the file as each is made.
struct WriteReports {
    FileHandle file = INVALID_FILE;
    std::vector<std::uint64_t> reports;
    bool aheadOfTheFile = false;
};

void recordReport(void* context, std::uint64_t bytes)
{
    auto* r = static_cast<WriteReports*>(context);
    std::uint64_t size = 0;
    if (!fileSize(r->file, &size) || size < bytes) {
        r->aheadOfTheFile = true;
    }
    r->reports.push_back(bytes);
}

bool neverAwaited(void*, std::uint64_t)
{
    ADD_FAILURE() << "a writer waited";
    return false;
}

void neverDelivered(void*, const std::uint8_t*, std::uint32_t)
{
    ADD_FAILURE() << "a writer delivered text";
}

TEST_F(PacedTransforms, WriterReportsTheHeaderEveryBlockAndTheTrailerOnceWritten)
{
    const ContainerPlan plan = pacedPlan();
    const Bytes expected = writeContainerBytes(plan);
    const ContainerLayout layout = layoutOf(plan);
    SessionPtr session = makeSession();
    loadHeader(expected.data(), &session->header);
    session->header.headerChecksum = 0;
    setupKey(session.get(), plan.password.c_str());
    const std::string path = joinPath(directory, "written.vtxt");
    session->targetFile = createNewFileSharingReads(toUtf16(path).c_str());
    ASSERT_NE(session->targetFile, INVALID_FILE);
    WriteReports reports;
    reports.file = session->targetFile;
    EXPECT_EQ(
        encryptPayloadPaced(session.get(), plan.text.data(), {&reports, recordReport, neverAwaited, neverDelivered}),
        RESULT_OK);
    teardownSession(session.get());
    EXPECT_EQ(readBytes(path), expected);
    EXPECT_FALSE(reports.aheadOfTheFile);
    std::vector<std::uint64_t> ends(layout.blockOffsets.begin(), layout.blockOffsets.end());
    ends.push_back(layout.trailerOffset);
    ends.push_back(layout.size);
    EXPECT_EQ(reports.reports, ends);
}

}  // namespace
