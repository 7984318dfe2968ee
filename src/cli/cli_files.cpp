#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "cli/cli_files.h"

#include <cstdlib>
#include <cstring>
#include <optional>

#include "cli/cli_cleanup.h"
#include "cli/cli_console.h"
#include "platform/result_codes.h"
#include "platform/system_path.h"

namespace {

constexpr std::size_t READ_CHUNK = 1u << 20;

// The system's words for an error number.
std::string reasonOf(std::uint32_t code)
{
    char text[512] = {};
    return describeSystemError(code, text, sizeof text);
}

// "NAME: <result code's title and message>" and, when known, "NAME: <the system's reason>".
int reportWithReason(ResultCode code, const std::string& name, std::uint32_t systemError)
{
    reportResult(code, name);
    if (systemError != 0) {
        printError(name + ": " + reasonOf(systemError));
    }
    return code;
}

// The UTF-8 (or, on Linux, the bytes) of a core path, for messages and the
// interrupt cleanup.
std::string namedBytes(const char16_t* path)
{
    std::string bytes;
    return systemPathOf(path, &bytes) ? bytes : utf16ToUtf8(path);
}

// Why a step of the file layer failed, for name; returns the exit status.
// inPlace: the file is changed where it is (passwd), not written as an output.
int reportReplaceFailure(std::uint32_t failure, std::uint32_t systemError, const std::string& name, bool inPlace)
{
    switch (failure) {
        case REPLACE_FAILURE_EXISTS:
            printError(name + ": the output file exists; use --force to replace it");
            return EXIT_OTHER_FAILURE;
        case REPLACE_FAILURE_HARD_LINKS:
            printError(name + ": the file has other hard links, which would keep the old " +
                       (inPlace ? "password" : "contents") + "; use --force to " + (inPlace ? "change" : "replace") +
                       " this name only");
            return EXIT_OTHER_FAILURE;
        case REPLACE_FAILURE_DIRECTORY:
            printError(name + ": is a directory");
            return EXIT_OTHER_FAILURE;
        case REPLACE_FAILURE_NOT_REGULAR:
            printError(name + ": is not a regular file");
            return EXIT_OTHER_FAILURE;
        case REPLACE_FAILURE_BAD_NAME:
            printError(name + ": the name cannot be given to the system exactly as it is");
            return EXIT_OTHER_FAILURE;
        case REPLACE_FAILURE_SWAPPED:
            reportResult(RESULT_SAVE_FAILED, name);
            printError(name +
                       ": the folder was changed by someone else while the file was written; "
                       "the file at this name is not the one written");
            return RESULT_SAVE_FAILED;
        default:
            return reportWithReason(RESULT_SAVE_FAILED, name, systemError);
    }
}

#ifdef _WIN32
std::string temporaryDirectory()
{
    wchar_t buffer[MAX_PATH + 2] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH) {
        return "";
    }
    return utf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(buffer), length));
}
#else
std::string temporaryDirectory()
{
    const char* directory = std::getenv("TMPDIR");
    std::string path = directory != nullptr && directory[0] != 0 ? directory : "/tmp";
    if (path.back() != '/') {
        path += '/';
    }
    return path;
}
#endif

// Reads up to count bytes; *got is 0 at the end of the data.
bool readChunk(FileHandle source, std::uint8_t* buffer, std::size_t count, std::size_t* got)
{
    std::uint32_t read = 0;
    if (!readFile(source, buffer, static_cast<std::uint32_t>(count), &read)) {
        *got = 0;
        return isClosedPipeError(lastSystemErrorCode());
    }
    *got = read;
    return true;
}

}  // namespace

std::u16string pathUnits(const std::string& path)
{
    std::u16string out(path.size() + 1, u'\0');
    const std::size_t units =
        decodeSystemPath(reinterpret_cast<const std::uint8_t*>(path.data()), path.size(), out.data());
    out.resize(units);
    return out;
}

bool corePath(const std::string& path, std::u16string* out)
{
    *out = pathUnits(path);
#ifdef _WIN32
    if (!isWellFormedUtf16(out->c_str())) {
        printError(path + ": the name holds an unpaired surrogate, which names no file exactly");
        return false;
    }
#endif
    return true;
}

#ifdef _WIN32
std::string argumentFromWide(const wchar_t* argument)
{
    std::string out;
    for (const wchar_t* p = argument; *p != 0; ++p) {
        std::uint32_t c = static_cast<std::uint16_t>(*p);
        const std::uint32_t next = static_cast<std::uint16_t>(p[1]);
        if (c >= 0xD800 && c <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
            ++p;
        }
        // A lone surrogate keeps its three-byte form (which is not valid
        // UTF-8), so that it is refused later instead of vanishing here.
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}
#endif

bool refuseOutputOverInput(const std::string& input, const std::string& output)
{
    if (output == "-") {
        return false;
    }
    std::u16string outputPath;
    std::u16string inputPath;
    FileIdentity written{};
    FileIdentity read{};
    if (!corePath(output, &outputPath) || !identifyPath(outputPath.c_str(), &written)) {
        return false;  // nothing there yet (a bad name is refused when it is opened)
    }
    // Standard input redirected from the output file counts too.
    const bool known = input == "-" ? identifyFile(standardInputFile(), &read)
                                    : corePath(input, &inputPath) && identifyPath(inputPath.c_str(), &read);
    if (!known || !isSameIdentity(read, written)) {
        return false;
    }
    printError(output + ": the output is the input file; write to another file");
    return true;
}

int reportSaveFailure(const ContainerSession& session, ResultCode code, const std::string& name)
{
    if (code == RESULT_SAVE_FAILED && session.saveFailure != REPLACE_FAILURE_NONE) {
        return reportReplaceFailure(session.saveFailure, session.saveSystemError, name, false);
    }
    return reportWithReason(code, name, session.saveSystemError);
}

int readWholeInput(const std::string& path, std::size_t limit, LockedBuffer* out)
{
    const bool standardInput = path == "-";
    const std::string name = standardInput ? std::string("standard input") : path;
    std::u16string corePathOfInput;
    if (!standardInput && !corePath(path, &corePathOfInput)) {
        return EXIT_OTHER_FAILURE;
    }
    const FileHandle source = standardInput ? standardInputFile() : openFileForRead(corePathOfInput.c_str());
    if (source == INVALID_FILE) {
        return reportWithReason(RESULT_OPEN_FAILED, name, lastSystemErrorCode());
    }
    auto closeSource = [&] {
        if (!standardInput) {
            closeFile(source);
        }
    };
    std::uint64_t knownSize = 0;
    if (!standardInput && fileSize(source, &knownSize)) {
        if (knownSize > limit) {
            closeSource();
            return reportResult(RESULT_LIMIT_EXCEEDED, name);
        }
        // One chunk more than the file: the read that finds its end then
        // needs no larger buffer, which would hold a second copy of the text.
        if (!out->reserve(static_cast<std::size_t>(knownSize) + READ_CHUNK)) {
            closeSource();
            return reportResult(RESULT_OUT_OF_MEMORY, name);
        }
    }
    for (;;) {
        if (out->capacity() - out->size() < READ_CHUNK) {
            std::size_t wanted = out->capacity() < READ_CHUNK ? 2 * READ_CHUNK : 2 * out->capacity();
            if (wanted > limit + 1) {
                wanted = limit + 1;
            }
            if (wanted > out->capacity() && !out->reserve(wanted)) {
                closeSource();
                return reportResult(RESULT_OUT_OF_MEMORY, name);
            }
        }
        std::size_t room = out->capacity() - out->size();
        if (room == 0) {
            closeSource();
            return reportResult(RESULT_LIMIT_EXCEEDED, name);
        }
        if (room > READ_CHUNK) {
            room = READ_CHUNK;
        }
        std::size_t got = 0;
        if (!readChunk(source, out->data() + out->size(), room, &got)) {
            const std::uint32_t error = lastSystemErrorCode();
            closeSource();
            return reportWithReason(RESULT_READ_FAILED, name, error);
        }
        if (got == 0) {
            break;
        }
        out->resize(out->size() + got);
        if (out->size() > limit) {
            closeSource();
            return reportResult(RESULT_LIMIT_EXCEEDED, name);
        }
    }
    closeSource();
    return 0;
}

ContainerInput::~ContainerInput()
{
    if (spoolPath_ != nullptr) {
        deleteFile(spoolPath_);
        forgetTemporaryFile(spoolSlot_);
        releaseScratchPath(spoolPath_);
    }
}

int ContainerInput::open(const std::string& path)
{
    if (path != "-") {
        name_ = path;
        if (!corePath(path, &path_)) {
            return EXIT_OTHER_FAILURE;
        }
        const FileHandle file = openFileForRead(path_.c_str());
        if (file != INVALID_FILE) {
            fileSize(file, &size_);
            closeFile(file);
        }
        return 0;
    }
    name_ = "standard input";
    // The container is ciphertext: a copy in the temporary directory reveals nothing.
    const std::string directory = temporaryDirectory();
    std::u16string folder;
    if (!corePath(directory, &folder)) {
        return EXIT_OTHER_FAILURE;
    }
    FileHandle file = INVALID_FILE;
    {
        // Until the copy is remembered, an interrupt would leave it behind.
        DeferredInterrupts deferred;
        std::uint32_t systemError = 0;
        file = createScratchFile(folder.c_str(), &spoolPath_, &systemError);
        if (file == INVALID_FILE) {
            printError("cannot create a temporary copy of standard input in " + directory + ": " +
                       reasonOf(systemError));
            return EXIT_OTHER_FAILURE;
        }
        spoolSlot_ = rememberTemporaryFile(namedBytes(spoolPath_));
    }
    const FileHandle source = standardInputFile();
    std::uint8_t buffer[65536];
    std::string detail;
    for (;;) {
        std::size_t got = 0;
        if (!readChunk(source, buffer, sizeof buffer, &got)) {
            detail = "cannot read standard input: " + reasonOf(lastSystemErrorCode());
            break;
        }
        if (got == 0) {
            break;
        }
        std::uint32_t written = 0;
        if (!writeFile(file, buffer, static_cast<std::uint32_t>(got), &written) || written != got) {
            detail = "cannot copy standard input to " + namedBytes(spoolPath_) + ": " + reasonOf(lastSystemErrorCode());
            break;
        }
        size_ += got;
    }
    closeFile(file);
    if (!detail.empty()) {
        printError(detail);
        return EXIT_OTHER_FAILURE;
    }
    path_ = spoolPath_;
    return 0;
}

OutputFile::OutputFile()
{
    initReplacement(&replacement_);
}

OutputFile::~OutputFile()
{
    discard();
}

int OutputFile::open(const std::string& target, bool force, bool privateFile)
{
    name_ = target;
    if (target == "-") {
        name_ = "standard output";
        standardOutput_ = true;
        return 0;
    }
    const std::uint32_t flags =
        (force ? REPLACE_SPLIT_HARD_LINKS : REPLACE_KEEP_EXISTING) | (privateFile ? REPLACE_OWNER_ONLY : 0u);
    return begin(target, flags, false);
}

int OutputFile::openInPlace(const std::string& path, bool force)
{
    name_ = path;
    if (path == "-") {
        printError("standard input cannot be changed in place; give the file's name");
        return EXIT_USAGE;
    }
    return begin(path, force ? REPLACE_SPLIT_HARD_LINKS : 0u, true);
}

int OutputFile::begin(const std::string& target, std::uint32_t flags, bool inPlace)
{
    std::u16string path;
    if (!corePath(target, &path)) {
        return EXIT_OTHER_FAILURE;
    }
    // An interrupt between creating the temporary file and remembering it
    // would leave the file behind.
    DeferredInterrupts deferred;
    if (!beginReplacement(&replacement_, path.c_str(), flags)) {
        return reportReplaceFailure(replacement_.failure, replacement_.systemError, target, inPlace);
    }
    slot_ = rememberTemporaryFile(namedBytes(replacement_.temporary));
    return 0;
}

int OutputFile::write(const void* bytes, std::size_t count)
{
    if (standardOutput_) {
        bool brokenPipe = false;
        if (!writeBytesTo(StandardStream::Output, bytes, count, &brokenPipe)) {
            if (brokenPipe) {
                return EXIT_CLOSED_PIPE;  // the reader went away: nothing to report
            }
            return reportWithReason(RESULT_WRITE_FAILED, name_, lastSystemErrorCode());
        }
        return 0;
    }
    const auto* p = static_cast<const std::uint8_t*>(bytes);
    while (count > 0) {
        const std::uint32_t chunk = count > (1u << 24) ? (1u << 24) : static_cast<std::uint32_t>(count);
        std::uint32_t written = 0;
        if (!writeFile(replacement_.file, p, chunk, &written) || written == 0) {
            return reportWithReason(RESULT_WRITE_FAILED, name_, lastSystemErrorCode());
        }
        p += written;
        count -= written;
    }
    return 0;
}

int OutputFile::commit()
{
    if (standardOutput_) {
        return 0;
    }
    if (!finishReplacement(&replacement_)) {
        const std::uint32_t error = replacement_.systemError;
        discard();
        return reportWithReason(RESULT_WRITE_FAILED, name_, error);
    }
    const bool committed = commitReplacement(&replacement_);
    forgetTemporaryFile(slot_);
    slot_ = -1;
    if (!committed) {
        return reportReplaceFailure(replacement_.failure, replacement_.systemError, name_, false);
    }
    return 0;
}

void OutputFile::discard()
{
    abandonReplacement(&replacement_);
    forgetTemporaryFile(slot_);
    slot_ = -1;
}
