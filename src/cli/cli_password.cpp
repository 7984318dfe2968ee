#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <termios.h>
#include <unistd.h>
#endif

#include "cli/cli_password.h"

#include <cstring>
#include <string>

#include "cli/cli_cleanup.h"
#include "cli/cli_console.h"
#include "cli/cli_files.h"
#include "cli/cli_password_line.h"
#include "platform/file_replacement.h"
#include "platform/platform.h"
#include "platform/result_codes.h"
#include "platform/secure_wipe.h"
#include "platform/wide_text.h"
#include "text/text_encoding.h"

namespace {

// What a source's line must be.
struct PasswordCheck {
    PasswordUse use;
    bool allowEmpty;
};

#ifdef _WIN32
using SourceHandle = HANDLE;
#else
using SourceHandle = int;
#endif

// The file layer's handle as the reader's.
SourceHandle asSource(FileHandle file)
{
#ifdef _WIN32
    return reinterpret_cast<HANDLE>(file);
#else
    return static_cast<int>(file);
#endif
}

bool readSome(SourceHandle source, std::uint8_t* buffer, std::size_t count, std::size_t* got)
{
#ifdef _WIN32
    DWORD read = 0;
    if (!ReadFile(source, buffer, static_cast<DWORD>(count), &read, nullptr)) {
        *got = 0;
        return GetLastError() == ERROR_BROKEN_PIPE;  // the writer closed a pipe: end of input
    }
    *got = read;
    return true;
#else
    for (;;) {
        const ssize_t read = ::read(source, buffer, count);
        if (read < 0 && errno == EINTR) {
            continue;
        }
        if (read < 0) {
            *got = 0;
            return false;
        }
        *got = static_cast<std::size_t>(read);
        return true;
    }
#endif
}

// Hands the source's bytes to the line reader, one at a time, up to the end
// of the line. False when a read failed.
bool readLine(SourceHandle source, PasswordLine* line)
{
    bool ok = true;
    std::uint8_t byte = 0;
    for (;;) {
        std::size_t got = 0;
        if (!readSome(source, &byte, 1, &got)) {
            ok = false;
            break;
        }
        if (got == 0 || !takePasswordByte(line, byte)) {
            break;
        }
    }
    wipeObject(byte);
    return ok;
}

int reportVerdict(PasswordVerdict verdict, const std::string& where)
{
    switch (verdict) {
        case PasswordVerdict::Ok:
            return 0;
        case PasswordVerdict::NoPassword:
            printError("no password in " + where);
            break;
        case PasswordVerdict::Empty:
            printError(where + ": the new password is empty; give --allow-empty-password to use an empty password");
            break;
        case PasswordVerdict::HasNul:
            printError(where + ": the password holds a NUL character, which a password cannot hold");
            break;
        case PasswordVerdict::NotUtf8:
            printError(where +
                       ": the new password is not valid UTF-8; give it as UTF-8 text (other bytes would be read "
                       "leniently, and different lines would make the same key)");
            break;
        case PasswordVerdict::TooLong:
            printError(where + ": the password is longer than 255 characters");
            break;
    }
    return EXIT_OTHER_FAILURE;
}

// Checks and converts a line that was read (readOk false: the read failed).
int finishLine(bool readOk, PasswordLine* line, const PasswordCheck& check, PasswordRecord* password,
               const std::string& where)
{
    if (!readOk) {
        const std::string detail = lastSystemError();
        wipeObject(*line);
        wipeObject(*password);
        printError(where + ": cannot read the password: " + detail);
        return EXIT_OTHER_FAILURE;
    }
    const PasswordVerdict verdict = convertPasswordLine(line, check.use, check.allowEmpty, password);
    wipeObject(*line);
    return reportVerdict(verdict, where);
}

int readPasswordFromSource(const PasswordSource& source, const PasswordCheck& check, PasswordRecord* password)
{
    LockedRecord<PasswordLine> line;
    if (!line) {
        return reportResult(RESULT_OUT_OF_MEMORY, "");
    }
    if (source.kind == PasswordSourceKind::Descriptor) {
#ifdef _WIN32
        return EXIT_USAGE;
#else
        const bool readOk = readLine(source.descriptor, line.get());
        return finishLine(readOk, line.get(), check, password, "descriptor " + std::to_string(source.descriptor));
#endif
    }
    const bool standardInput = source.path == "-";
    std::u16string path;
    if (!standardInput && !corePath(source.path, &path)) {
        return EXIT_OTHER_FAILURE;
    }
    const FileHandle file = standardInput ? standardInputFile() : openFileForRead(path.c_str());
    if (file == INVALID_FILE) {
        printError(source.path + ": cannot open the password file: " + lastSystemError());
        return EXIT_OTHER_FAILURE;
    }
    const bool readOk = readLine(asSource(file), line.get());
    if (!standardInput) {
        closeFile(file);
    }
    return finishLine(readOk, line.get(), check, password, standardInput ? std::string("standard input") : source.path);
}

#ifdef _WIN32
struct ConsoleLine {
    wchar_t units[PASSWORD_LINE_CAPACITY + 1];
};

bool hasUnpairedSurrogate(const wchar_t* units, std::size_t length)
{
    for (std::size_t k = 0; k < length; ++k) {
        const bool high = units[k] >= 0xD800 && units[k] <= 0xDBFF;
        const bool low = units[k] >= 0xDC00 && units[k] <= 0xDFFF;
        if (high && k + 1 < length && units[k + 1] >= 0xDC00 && units[k + 1] <= 0xDFFF) {
            ++k;
        } else if (high || low) {
            return true;
        }
    }
    return false;
}

// The console gives UTF-16: the line reader gets its UTF-8 form, the very
// bytes the key setup has always made of it, so opening is unchanged.
void consoleUnitsToLine(ConsoleLine* console, std::size_t length, bool tooLong, PasswordLine* line)
{
    if (tooLong || length > PASSWORD_MAX_UNITS) {
        line->overflow = true;
        return;
    }
    console->units[length] = 0;
    line->notText = hasUnpairedSurrogate(console->units, length);
    const auto* units = reinterpret_cast<const char16_t*>(console->units);
    line->length = encodeUtf8(units, line->bytes) - 1;
    if (std::char_traits<char16_t>::length(units) < length) {
        line->bytes[line->length++] = 0;  // the encoder stops at a NUL; the check must still see it
    }
}

// Asks on the console with echo off.
int promptOnTerminal(const std::string& prompt, const PasswordCheck& check, PasswordRecord* password)
{
    const FileHandle inputFile = openTerminal(false);
    const FileHandle outputFile = openTerminal(true);
    const HANDLE input = asSource(inputFile);
    const HANDLE output = asSource(outputFile);
    DWORD mode = 0;
    if (inputFile == INVALID_FILE || outputFile == INVALID_FILE || !GetConsoleMode(input, &mode)) {
        if (inputFile != INVALID_FILE) {
            closeFile(inputFile);
        }
        if (outputFile != INVALID_FILE) {
            closeFile(outputFile);
        }
        printError("no console to ask for the password; use --password-file FILE");
        return EXIT_OTHER_FAILURE;
    }
    const std::u16string wide = utf8ToUtf16(prompt);
    DWORD written = 0;
    rememberConsoleMode(input, mode);
    SetConsoleMode(input, (mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT);
    WriteConsoleW(output, wideText(wide.c_str()), static_cast<DWORD>(wide.size()), &written, nullptr);
    LockedRecord<ConsoleLine> console;
    LockedRecord<PasswordLine> line;
    std::size_t length = 0;
    bool ended = false;
    bool tooLong = false;
    bool started = false;
    while (console && line && !ended) {
        wchar_t chunk[64];
        DWORD read = 0;
        if (!ReadConsoleW(input, chunk, 64, &read, nullptr) || read == 0) {
            break;
        }
        started = true;
        for (DWORD k = 0; k < read; ++k) {
            if (chunk[k] == L'\n') {
                ended = true;
                break;
            }
            if (chunk[k] == L'\r') {
                continue;
            }
            if (length < PASSWORD_LINE_CAPACITY) {
                console->units[length++] = chunk[k];
            } else {
                tooLong = true;
            }
        }
        secureWipe(chunk, sizeof chunk);
    }
    SetConsoleMode(input, mode);
    forgetTerminal();
    WriteConsoleW(output, L"\r\n", 2, &written, nullptr);
    closeFile(inputFile);
    closeFile(outputFile);
    if (!console || !line) {
        return reportResult(RESULT_OUT_OF_MEMORY, "");
    }
    line->started = started;
    consoleUnitsToLine(console.get(), length, tooLong, line.get());
    return finishLine(true, line.get(), check, password, "the answer on the console");
}
#else
int promptOnTerminal(const std::string& prompt, const PasswordCheck& check, PasswordRecord* password)
{
    const FileHandle terminalFile = openTerminal(false);
    const int terminal = asSource(terminalFile);
    if (terminalFile == INVALID_FILE) {
        printError("no terminal to ask for the password; use --password-file FILE or --password-fd N");
        return EXIT_OTHER_FAILURE;
    }
    struct termios saved {};
    const bool isTerm = tcgetattr(terminal, &saved) == 0;
    // Echo goes off before the prompt appears, so nothing typed after it is shown.
    if (isTerm) {
        struct termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ICANON | ECHONL;
        rememberTerminal(terminal, saved);
        tcsetattr(terminal, TCSAFLUSH, &quiet);
    }
    [[maybe_unused]] ssize_t ignored = write(terminal, prompt.data(), prompt.size());
    LockedRecord<PasswordLine> line;
    bool readOk = false;
    if (line) {
        readOk = readLine(terminal, line.get());
    }
    if (isTerm) {
        tcsetattr(terminal, TCSAFLUSH, &saved);
        forgetTerminal();
    }
    closeFile(terminalFile);
    if (!line) {
        return reportResult(RESULT_OUT_OF_MEMORY, "");
    }
    return finishLine(readOk, line.get(), check, password, "the answer on the terminal");
}

#endif

// Whether a source reads from the open file that standard input is: "-" and
// descriptor 0 always; a path or another descriptor when it names that file.
bool readsStandardInput(const PasswordSource& source)
{
    if (source.kind == PasswordSourceKind::Prompt) {
        return false;
    }
    if (source.kind == PasswordSourceKind::File && source.path == "-") {
        return true;
    }
#ifndef _WIN32
    if (source.kind == PasswordSourceKind::Descriptor && source.descriptor == STDIN_FILENO) {
        return true;
    }
#endif
    FileIdentity input{};
    FileIdentity named{};
    if (!identifyFile(standardInputFile(), &input)) {
        return false;
    }
    if (source.kind == PasswordSourceKind::Descriptor) {
#ifdef _WIN32
        return false;
#else
        return identifyFile(source.descriptor, &named) && isSameIdentity(named, input);
#endif
    }
    return identifyPath(pathUnits(source.path).c_str(), &named) && isSameIdentity(named, input);
}

}  // namespace

bool checkStandardInputUse(const CommandLine& line, std::string* error)
{
    bool inputIsStandardInput = false;
    for (const std::string& input : line.inputs) {
        inputIsStandardInput = inputIsStandardInput || input == "-";
    }
    if (inputIsStandardInput && (readsStandardInput(line.password) || readsStandardInput(line.newPassword))) {
        *error = "standard input cannot be both the input and a password source";
        return false;
    }
    return true;
}

int readPassword(const PasswordSource& source, const char16_t* hint, PasswordRecord* password)
{
    const PasswordCheck check{PasswordUse::Open, true};
    if (source.kind != PasswordSourceKind::Prompt) {
        return readPasswordFromSource(source, check, password);
    }
    std::string prompt;
    if (hint != nullptr && hint[0] != 0) {
        prompt = "Hint: " + escapeForTerminal(std::u16string_view(hint)) + "\n";
    }
    prompt += "Password: ";
    return promptOnTerminal(prompt, check, password);
}

int readNewPassword(const PasswordSource& source, const char* label, bool allowEmpty, PasswordRecord* password)
{
    const PasswordCheck check{PasswordUse::New, allowEmpty};
    if (source.kind != PasswordSourceKind::Prompt) {
        return readPasswordFromSource(source, check, password);
    }
    const int status = promptOnTerminal(std::string(label) + ": ", check, password);
    if (status != 0) {
        return status;
    }
    LockedRecord<PasswordRecord> again;
    if (!again) {
        wipeObject(*password);
        return reportResult(RESULT_OUT_OF_MEMORY, "");
    }
    const int repeated =
        promptOnTerminal("Repeat " + std::string(label == std::string("Password") ? "password" : "new password") + ": ",
                         check, again.get());
    if (repeated != 0) {
        wipeObject(*password);
        return repeated;
    }
    if (again->length != password->length ||
        std::memcmp(again->units, password->units, password->length * sizeof(char16_t)) != 0) {
        wipeObject(*password);
        return reportResult(RESULT_PASSWORD_MISMATCH, "");
    }
    return 0;
}
