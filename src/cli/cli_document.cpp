#include "cli/cli_document.h"

#include <cstring>

#include "cli/cli_console.h"
#include "cli/cli_password.h"
#include "cli/cli_progress.h"
#include "cipher/key_setup.h"
#include "container/payload.h"
#include "container/container_session.h"
#include "platform/platform.h"
#include "platform/secure_wipe.h"
#include "text/loaded_text.h"
#include "text/text_encoding.h"

std::string systemReason(ResultCode code, const std::string& name)
{
    if (code == RESULT_READ_FAILED) {
        return lastSystemError();
    }
    if (code != RESULT_OPEN_FAILED) {
        return "";
    }
    // The core says only that the open failed; asking the system again tells why.
    std::u16string path;
    if (!corePath(name, &path)) {
        return "";
    }
    if (pathIsDirectory(path.c_str())) {
        return "it is a directory";
    }
    const FileHandle file = openFileBesideWriter(path.c_str());
    if (file == INVALID_FILE) {
        return lastSystemError();
    }
    closeFile(file);
    return "";
}

std::u16string hintForNewPassword(const CommandLine& line, const std::u16string& newHint, const ContainerHeader& header,
                                  const std::string& name)
{
    if (line.hasHint) {
        return newHint;
    }
    if (line.noHint) {
        return u"";
    }
    std::size_t length = 0;
    while (length + 1 < HEADER_HINT_UNITS && header.hint[length] != 0) {
        ++length;
    }
    const std::u16string hint(header.hint, length);
    if (!line.keepHint && !hint.empty()) {
        printNote(name + ": the hint \"" + escapeForTerminal(hint) +
                  "\" stays with the new password; give --hint TEXT to change it or --no-hint to "
                  "remove it");
    }
    return hint;
}

bool wideTextToUtf8(LockedBuffer* stored, LockedBuffer* out)
{
    const std::size_t bytes = stored->size();
    const std::size_t units = bytes / 2;
    // The editor's reading of the entry: terminated by the two spare zero
    // bytes behind the data, every half pair repaired, NUL units kept.
    LockedBuffer unused;
    const char16_t* repaired = nullptr;
    if (loadedBytesToText(stored, bytes, LOADED_CONTAINER_UTF16, &unused, &repaired) != RESULT_OK) {
        return false;
    }
    if (!out->reserve(4 * units + 1)) {
        return false;
    }
    auto* text = reinterpret_cast<char16_t*>(stored->data());
    std::size_t position = 0;
    for (;;) {
        std::size_t length = 0;
        while (position + length < units && text[position + length] != 0) {
            ++length;
        }
        const std::size_t written = encodeUtf8(text + position, out->data() + out->size());
        out->resize(out->size() + written - 1);
        position += length;
        if (position >= units) {
            break;
        }
        const std::uint8_t zero = 0;
        out->append(&zero, 1);  // a NUL inside the text is kept as a NUL
        ++position;
    }
    return true;
}

int utf16InputToUtf8(LockedBuffer* input, const std::string& name, LockedBuffer* out)
{
    std::uint8_t* bytes = input->data();
    std::size_t count = input->size();
    if (count % 2 != 0) {
        printError(name + ": an odd number of bytes cannot be UTF-16 text");
        return EXIT_OTHER_FAILURE;
    }
    bool bigEndian = false;
    std::size_t skip = 0;
    if (count >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        skip = 2;
    } else if (count >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
        bigEndian = true;
        skip = 2;
    } else {
        bigEndian = detectEncoding(bytes, count) == TEXT_UTF16BE;
    }
    if (bigEndian) {
        swapByteOrder(bytes, count);
    }
    auto* text = reinterpret_cast<char16_t*>(bytes + skip);
    const std::size_t units = (count - skip) / 2;
    for (std::size_t k = 0; k < units; ++k) {
        if (text[k] == 0) {
            printError(name + ": the UTF-16 text holds a NUL character, which the editor cannot keep");
            return EXIT_OTHER_FAILURE;
        }
    }
    // The spare zero bytes terminate the text; the mark (skip) is not stored,
    // as the editor does not keep it.
    repairSurrogates(text);
    if (!out->reserve(4 * units + 1)) {
        return reportResult(RESULT_OUT_OF_MEMORY, name);
    }
    const std::size_t written = encodeUtf8(text, out->data());
    out->resize(written - 1);
    if (out->size() > OPEN_SIZE_LIMIT) {
        return reportResult(RESULT_LIMIT_EXCEEDED, name);
    }
    return 0;
}

int readDocument(const ContainerInput& input, const PasswordSource& source, const char* progressLabel,
                 OpenedDocument* document)
{
    LockedRecord<ContainerSession> session;
    LockedRecord<PasswordRecord> password;
    if (!session || !password) {
        return reportResult(RESULT_OUT_OF_MEMORY, input.name());
    }
    initSession(session.get());
    ResultCode code = openContainer(session.get(), input.path());
    document->header = session->header;
    document->generation = session->generation;
    if (code != RESULT_OK) {
        const std::string reason = systemReason(code, input.name());
        teardownSession(session.get());
        return reportResult(code, input.name(), reason);
    }
    // Refuse what the editor refuses before anything large is allocated.
    if (!withinOpenLimits(session->header)) {
        teardownSession(session.get());
        return reportResult(RESULT_LIMIT_EXCEEDED, input.name());
    }
    const std::uint32_t capacity = session->header.plainSizeLow;
    if (!document->stored.reserve(capacity)) {
        teardownSession(session.get());
        return reportResult(RESULT_OUT_OF_MEMORY, input.name());
    }
    const int status = readPassword(source, session->header.hint, password.get());
    if (status != 0) {
        teardownSession(session.get());
        return status;
    }
    setupKey(session.get(), password->units);
    wipeObject(*password);
    code = session->result;
    if (code == RESULT_OK) {
        const FileHandle sourceFile = session->sourceFile;
        ProgressMeter progress(progressLabel, input.size(), input.size(),
                               [sourceFile] { return filePosition(sourceFile); });
        code = decryptPayload(session.get(), document->stored.data(), capacity);
        progress.finish(code == RESULT_OK);
    }
    const std::string reason = systemReason(code, input.name());
    teardownSession(session.get());
    document->header.plainSizeLow = session->header.plainSizeLow;  // a short text's real length
    if (code != RESULT_OK) {
        document->stored.release();
        return reportResult(code, input.name(), reason);
    }
    const std::uint64_t length = headerPlainSize(session->header);
    document->stored.resize(static_cast<std::size_t>(length < capacity ? length : capacity));
    return 0;
}
