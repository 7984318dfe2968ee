#include "cli/cli_commands.h"

#include <cstring>
#include <functional>
#include <string>

#include "cli/cli_cleanup.h"
#include "cli/cli_console.h"
#include "cli/cli_document.h"
#include "cli/cli_files.h"
#include "cli/cli_memory.h"
#include "cli/cli_password.h"
#include "cli/cli_progress.h"
#include "cipher/entropy.h"
#include "cipher/key_setup.h"
#include "container/payload.h"
#include "container/container_session.h"
#include "platform/secure_wipe.h"

namespace {

constexpr std::size_t HINT_MAX_UNITS = HEADER_HINT_UNITS - 1;

// The hint of the command line as the core takes it; false (after printing)
// when it is too long to store whole.
bool takeHint(const CommandLine& line, std::u16string* hint)
{
    *hint = utf8ToUtf16(line.hint);
    if (hint->size() > HINT_MAX_UNITS) {
        printError("the hint is longer than 127 characters");
        writeText(StandardStream::Error, usageText(line.command));
        return false;
    }
    return true;
}

// The container bytes that encryptPayload writes for a header.
std::uint64_t containerSize(const ContainerHeader& header)
{
    const std::uint64_t plain = headerPlainSize(header);
    const std::uint64_t blocks = header.blockSize == 0 ? 0 : (plain + header.blockSize - 1) / header.blockSize;
    return HEADER_SIZE + plain + BLOCK_HEADER_SIZE * blocks + PAYLOAD_TRAILER_SIZE;
}

constexpr std::uint8_t NOTHING[1] = {0};

// The size of the container that a save of length bytes writes.
std::uint64_t savedSize(std::uint64_t length)
{
    const std::uint64_t plain = length < SHORT_TEXT_SIZE ? SHORT_TEXT_SIZE : length;
    const std::uint64_t block = chooseBlockSize(plain);
    return HEADER_SIZE + plain + BLOCK_HEADER_SIZE * ((plain + block - 1) / block) + PAYLOAD_TRAILER_SIZE;
}

// A progress sample of a save: how far the writing of the file has got (the
// largest position seen, so that the read-back does not count down again).
std::function<std::uint64_t()> writingProgress(const FileReplacement* output)
{
    const FileHandle file = output->file;
    return [file, furthest = std::uint64_t{0}]() mutable {
        const std::uint64_t position = filePosition(file);
        furthest = position > furthest ? position : furthest;
        return furthest;
    };
}

// The save pipeline of the editor, writing a stream to standard output
// (which cannot be read back); a file goes through saveContainerInto instead.
ResultCode encryptToStream(ContainerSession* session, const LockedBuffer& text, const char16_t* hint,
                           const PasswordRecord& password, bool* closedPipe)
{
    const std::uint64_t length = text.size();
    initHeaderForSave(session, length, hint, chooseShuffleLevel(length), systemTimeAsFileTime());
    session->result = RESULT_OK;
    const FileHandle target = standardOutputFile();
    session->targetFile = target;
    generateParameters(session);
    if (setupKey(session, password.units) != RESULT_OK) {
        session->targetFile = INVALID_FILE;
        return session->result;
    }
    ProgressMeter progress("encrypting", length, containerSize(session->header),
                           [target] { return filePosition(target); });
    const ResultCode code = encryptPayload(session, length == 0 ? NOTHING : text.data());
    *closedPipe = code == RESULT_WRITE_FAILED && isClosedPipeError(lastSystemErrorCode());
    progress.finish(code == RESULT_OK);
    // Standard output belongs to the process.
    session->targetFile = INVALID_FILE;
    return code;
}

// Opens line.input into *input and reads its document; with asUtf8 the text
// of a UTF-16 entry is converted into *converted as the editor reads it.
// *text is the text, in the document or in *converted. Returns 0 or the exit
// status after printing the reason.
int readInputText(const CommandLine& line, bool asUtf8, ContainerInput* input, OpenedDocument* document,
                  LockedBuffer* converted, LockedBuffer** text)
{
    if (const int status = input->open(line.input); status != 0) {
        return status;
    }
    if (const int status = readDocument(*input, line.password, "decrypting", document); status != 0) {
        return status;
    }
    *text = &document->stored;
    if (asUtf8 && hasWideEntryName(document->header)) {
        if (!wideTextToUtf8(&document->stored, converted)) {
            return reportResult(RESULT_OUT_OF_MEMORY, input->name());
        }
        document->stored.release();
        *text = converted;
    }
    return 0;
}

}  // namespace

int runEncrypt(const CommandLine& line)
{
    std::u16string hint;
    if (line.hasHint && !takeHint(line, &hint)) {
        return EXIT_USAGE;
    }
    if (line.output == "-" && isTerminal(StandardStream::Output)) {
        printError("refusing to write a container to a terminal; give -o FILE or redirect the output");
        return EXIT_OTHER_FAILURE;
    }
    if (refuseOutputOverInput(line.input, line.output)) {
        return EXIT_OTHER_FAILURE;
    }
    // Created before the text is read and the password asked: an output the
    // run cannot write is refused first.
    OutputFile output;
    if (const int status = output.open(line.output, line.force, false); status != 0) {
        return status;
    }
    const std::string name = line.input == "-" ? std::string("standard input") : line.input;
    LockedBuffer text;
    if (line.fromUtf16) {
        LockedBuffer wide;
        // UTF-16 takes at most twice the bytes of the UTF-8 it becomes (ASCII).
        if (const int status = readWholeInput(line.input, 2 * OPEN_SIZE_LIMIT + 2, &wide); status != 0) {
            return status;
        }
        if (const int status = utf16InputToUtf8(&wide, name, &text); status != 0) {
            return status;
        }
    } else if (const int status = readWholeInput(line.input, OPEN_SIZE_LIMIT, &text); status != 0) {
        return status;
    }
    LockedRecord<PasswordRecord> password;
    LockedRecord<ContainerSession> session;
    if (!password || !session) {
        return reportResult(RESULT_OUT_OF_MEMORY, name);
    }
    if (const int status = readNewPassword(line.password, "Password", line.allowEmptyPassword, password.get());
        status != 0) {
        return status;
    }
    initSession(session.get());
    const char16_t* storedHint = line.hasHint && !hint.empty() ? hint.c_str() : nullptr;
    ResultCode code = RESULT_OK;
    bool closedPipe = false;
    if (output.isStandardOutput()) {
        code = encryptToStream(session.get(), text, storedHint, *password, &closedPipe);
    } else {
        // The editor's own save: written beside the target, read back, and
        // only then put in its place.
        ProgressMeter progress("encrypting", text.size(), savedSize(text.size()),
                               writingProgress(output.replacement()));
        code = saveContainerInto(session.get(), output.replacement(), text.size() == 0 ? NOTHING : text.data(),
                                 text.size(), password->units, storedHint, chooseShuffleLevel(text.size()));
        progress.finish(code == RESULT_OK);
    }
    wipeObject(*password);
    teardownSession(session.get());
    output.discard();
    if (closedPipe) {
        return EXIT_CLOSED_PIPE;  // the reader went away: nothing to report
    }
    if (code != RESULT_OK) {
        return reportSaveFailure(*session, code, output.name());
    }
    return 0;
}

int runDecrypt(const CommandLine& line)
{
    const std::string target = line.hasOutput ? line.output : std::string("-");
    if (refuseOutputOverInput(line.input, target)) {
        return EXIT_OTHER_FAILURE;
    }
    // Before the password is asked and the text deciphered: an output that
    // cannot be written is refused at once.
    OutputFile output;
    // The text in clear: readable by its owner only.
    if (const int status = output.open(target, line.force, true); status != 0) {
        return status;
    }
    ContainerInput input;
    OpenedDocument document{};
    LockedBuffer converted;
    LockedBuffer* text = nullptr;
    if (const int status = readInputText(line, !line.raw, &input, &document, &converted, &text); status != 0) {
        return status;
    }
    if (const int status = output.write(text->data(), text->size()); status != 0) {
        output.discard();
        return status;
    }
    return output.commit();
}

int runPasswd(const CommandLine& line)
{
    std::u16string newHint;
    if (line.hasHint && !takeHint(line, &newHint)) {
        return EXIT_USAGE;
    }
    // The file is changed where it is, through its links; checked (and its
    // temporary file made) before any password is asked.
    OutputFile output;
    if (const int status = output.openInPlace(line.input, line.force); status != 0) {
        return status;
    }
    // The editor stores text as UTF-8; a UTF-16 entry is converted as a save would.
    ContainerInput input;
    OpenedDocument document{};
    LockedBuffer converted;
    LockedBuffer* text = nullptr;
    if (const int status = readInputText(line, true, &input, &document, &converted, &text); status != 0) {
        return status;
    }
    const std::u16string hint = hintForNewPassword(line, newHint, document.header, input.name());
    LockedRecord<PasswordRecord> password;
    LockedRecord<ContainerSession> session;
    if (!password || !session) {
        return reportResult(RESULT_OUT_OF_MEMORY, input.name());
    }
    if (const int status = readNewPassword(line.newPassword, "New password", line.allowEmptyPassword, password.get());
        status != 0) {
        return status;
    }
    initSession(session.get());
    ResultCode code = RESULT_OK;
    {
        // The file is replaced as a whole or not at all; an interrupt waits for that.
        DeferredInterrupts deferred;
        ProgressMeter progress("saving", text->size(), savedSize(text->size()), writingProgress(output.replacement()));
        code = saveContainerInto(session.get(), output.replacement(), text->size() == 0 ? NOTHING : text->data(),
                                 text->size(), password->units, hint.empty() ? nullptr : hint.c_str(),
                                 chooseShuffleLevel(text->size()));
        if (code == RESULT_OK) {
            reportOnInterrupt(input.name() +
                              ": interrupted after the file was changed: it opens with the new password");
        }
        progress.finish(code == RESULT_OK);
        output.discard();
    }
    wipeObject(*password);
    teardownSession(session.get());
    if (code != RESULT_OK) {
        return reportSaveFailure(*session, code, input.name());
    }
    return 0;
}
