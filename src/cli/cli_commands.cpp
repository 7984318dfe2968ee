#include "cli/cli_commands.h"

#include <cstring>
#include <filesystem>
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
#include "cipher/payload.h"
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

// Refuses, before any password is asked, an output the run could not write.
int checkOutputTarget(const CommandLine& line, const std::string& output)
{
    if (output == "-") {
        return 0;
    }
    if (line.input != "-" && isSameFile(line.input, output)) {
        printError(output + ": the output is the input file; write to another file");
        return EXIT_OTHER_FAILURE;
    }
    std::uint64_t size = 0;
    if (!line.force && sizeOfFile(output, &size)) {
        printError(output + ": the output file exists; use --force to replace it");
        return EXIT_OTHER_FAILURE;
    }
    return 0;
}

// The container bytes that encryptPayload writes for a header.
std::uint64_t containerSize(const ContainerHeader& header)
{
    const std::uint64_t plain = headerPlainSize(header);
    const std::uint64_t blocks = header.blockSize == 0 ? 0 : (plain + header.blockSize - 1) / header.blockSize;
    return HEADER_SIZE + plain + BLOCK_HEADER_SIZE * blocks + PAYLOAD_TRAILER_SIZE;
}

const std::uint8_t NOTHING[1] = {0};

// The size of the container that a save of length bytes writes.
std::uint64_t savedSize(std::uint64_t length)
{
    const std::uint64_t plain = length < SHORT_TEXT_SIZE ? SHORT_TEXT_SIZE : length;
    const std::uint64_t block = chooseBlockSize(plain);
    return HEADER_SIZE + plain + BLOCK_HEADER_SIZE * ((plain + block - 1) / block) + PAYLOAD_TRAILER_SIZE;
}

// How far an in-place save has got: the size of the save's temporary file
// (".~vt....tmp") beside the target. Only for the progress display.
std::uint64_t temporaryFileSize(const std::string& directory)
{
    namespace fs = std::filesystem;
    static const fs::path::string_type prefix = fs::path(".~vt").native();
    static const fs::path::string_type suffix = fs::path(".tmp").native();
    std::error_code error;
    std::uint64_t largest = 0;
    fs::directory_iterator entry(fs::u8path(directory.empty() ? std::string(".") : directory), error);
    for (; !error && entry != fs::directory_iterator(); entry.increment(error)) {
        const fs::path::string_type name = entry->path().filename().native();
        if (name.size() > prefix.size() + suffix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
            std::error_code sizeError;
            const std::uint64_t size = entry->file_size(sizeError);
            if (!sizeError && size > largest) {
                largest = size;
            }
        }
    }
    return largest;
}

// The save pipeline of the editor, writing into an output the tool controls
// (a temporary file beside the target, or standard output).
ResultCode encryptInto(ContainerSession* session, OutputFile* output, const SecureBuffer& text, const char16_t* hint,
                       const PasswordRecord& password)
{
    const std::uint64_t length = text.size();
    initHeaderForSave(session, length, hint, chooseShuffleLevel(length), systemTimeAsFileTime());
    session->result = RESULT_OK;
    if (!output->isStandardOutput()) {
        const std::uint64_t plain = headerPlainSize(session->header);
        std::uint64_t freeBytes = 0;
        const std::u16string directory = corePath(directoryOf(output->target()));
        if (diskFreeBytes(directory.c_str(), &freeBytes) && (freeBytes < plain || freeBytes - plain < 1048576)) {
            session->result = RESULT_DISK_FULL;
            return session->result;
        }
    }
    session->targetFile = output->handle();
    generateParameters(session);
    if (setupKey(session, password.units) != RESULT_OK) {
        session->targetFile = INVALID_FILE;
        return session->result;
    }
    const FileHandle target = output->handle();
    ProgressMeter progress("encrypting", length, containerSize(session->header),
                           [target] { return filePosition(target); });
    const ResultCode code = encryptPayload(session, length == 0 ? NOTHING : text.data());
    progress.finish(code == RESULT_OK);
    // The output belongs to the caller, which flushes, closes and renames it.
    session->targetFile = INVALID_FILE;
    return code;
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
    if (const int status = checkOutputTarget(line, line.output); status != 0) {
        return status;
    }
    const std::string name = line.input == "-" ? std::string("standard input") : line.input;
    SecureBuffer text;
    if (line.fromUtf16) {
        SecureBuffer wide;
        // UTF-16 takes at most twice the bytes of the UTF-8 it becomes (ASCII).
        if (const int status = readWholeInput(line.input, 2 * TEXT_SIZE_LIMIT + 2, &wide); status != 0) {
            return status;
        }
        if (const int status = utf16InputToUtf8(&wide, name, &text); status != 0) {
            return status;
        }
    } else if (const int status = readWholeInput(line.input, TEXT_SIZE_LIMIT, &text); status != 0) {
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
    OutputFile output;
    if (const int status = output.open(line.output, line.force, false); status != 0) {
        return status;
    }
    initSession(session.get());
    const ResultCode code =
        encryptInto(session.get(), &output, text, line.hasHint && !hint.empty() ? hint.c_str() : nullptr, *password);
    teardownSession(session.get());
    if (code != RESULT_OK) {
        output.discard();
        return reportResult(code, line.output == "-" ? std::string("standard output") : line.output);
    }
    if (output.isStandardOutput()) {
        return 0;
    }
    // As the editor's save does: the file must read back to the text before it
    // takes the target's place.
    if (const int status = output.finishWriting(); status != 0) {
        return status;
    }
    bool readsBack = false;
    {
        ProgressMeter progress("checking the written file", text.size(), 0, nullptr);
        const std::u16string written = corePath(output.temporaryPath());
        readsBack = verifySavedContainer(written.c_str(), text.size() == 0 ? NOTHING : text.data(), text.size(),
                                         password->units);
    }
    wipeObject(*password);
    text.release();
    if (!readsBack) {
        output.discard();
        return reportResult(RESULT_WRITE_FAILED, line.output);
    }
    return output.commit();
}

int runDecrypt(const CommandLine& line)
{
    const std::string target = line.hasOutput ? line.output : std::string("-");
    if (const int status = checkOutputTarget(line, target); status != 0) {
        return status;
    }
    ContainerInput input;
    if (const int status = input.open(line.input); status != 0) {
        return status;
    }
    OpenedDocument document{};
    if (const int status = readDocument(input, line.password, "decrypting", &document); status != 0) {
        return status;
    }
    SecureBuffer converted;
    const SecureBuffer* text = &document.stored;
    if (!line.raw && isWideEntry(document.header)) {
        if (!wideTextToUtf8(&document.stored, &converted)) {
            return reportResult(RESULT_OUT_OF_MEMORY, input.name());
        }
        document.stored.release();
        text = &converted;
    }
    OutputFile output;
    // The text in clear: a new file is readable by its owner only.
    if (const int status = output.open(target, line.force, true); status != 0) {
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
    ContainerInput input;
    if (const int status = input.open(line.input); status != 0) {
        return status;
    }
    OpenedDocument document{};
    if (const int status = readDocument(input, line.password, "decrypting", &document); status != 0) {
        return status;
    }
    // The editor stores text as UTF-8; a UTF-16 entry is converted as a save would.
    SecureBuffer converted;
    SecureBuffer* text = &document.stored;
    if (isWideEntry(document.header)) {
        if (!wideTextToUtf8(&document.stored, &converted)) {
            return reportResult(RESULT_OUT_OF_MEMORY, input.name());
        }
        document.stored.release();
        text = &converted;
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
        ProgressMeter progress("saving", text->size(), savedSize(text->size()),
                               [directory = directoryOf(line.input)] { return temporaryFileSize(directory); });
        code = saveContainer(session.get(), text->size() == 0 ? NOTHING : text->data(), text->size(), input.path(),
                             password->units, hint.empty() ? nullptr : hint.c_str(), chooseShuffleLevel(text->size()));
        if (code == RESULT_OK) {
            reportOnInterrupt(input.name() +
                              ": interrupted after the file was changed: it opens with the new password");
        }
        progress.finish(code == RESULT_OK);
    }
    wipeObject(*password);
    teardownSession(session.get());
    if (code != RESULT_OK) {
        return reportResult(code, input.name());
    }
    return 0;
}
