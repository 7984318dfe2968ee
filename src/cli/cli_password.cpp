#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#endif

#include "cli/cli_password.h"

#include <cstring>
#include <string>

#include "cli/cli_cleanup.h"
#include "cli/cli_console.h"
#include "jobs/result_codes.h"
#include "platform/secure_wipe.h"
#include "text/text_encoding.h"

namespace {

// Room for the longest line a 255-unit password can be in UTF-8 (765 bytes),
// a byte order mark and the line break, with margin.
constexpr std::size_t LINE_CAPACITY = 1024;

struct LineRecord {
    std::uint8_t bytes[LINE_CAPACITY];
    std::size_t length;
    char16_t units[LINE_CAPACITY + 1];
};

enum class LineStatus { Ok, TooLong, Failed };

// Turns the UTF-8 bytes of one line (without its line break) into the password.
LineStatus decodeLine(LineRecord* line, PasswordRecord* password)
{
    std::size_t start = 0;
    if (line->length >= 3 && line->bytes[0] == 0xEF && line->bytes[1] == 0xBB && line->bytes[2] == 0xBF) {
        start = 3;  // a byte order mark some editors put in front of a UTF-8 file
    }
    std::memset(line->units, 0, sizeof line->units);
    const std::size_t units = decodeUtf8(line->bytes + start, line->length - start, line->units);
    if (units > PASSWORD_MAX_UNITS) {
        return LineStatus::TooLong;
    }
    wipeObject(*password);
    std::memcpy(password->units, line->units, units * sizeof(char16_t));
    password->length = units;
    return LineStatus::Ok;
}

#ifdef _WIN32
using SourceHandle = HANDLE;
#else
using SourceHandle = int;
#endif

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

// Reads up to the first LF (one byte at a time, so nothing after the line is
// taken from a shared descriptor) and drops the LF or CRLF.
LineStatus readLine(SourceHandle source, LineRecord* line)
{
    line->length = 0;
    LineStatus status = LineStatus::Ok;
    std::uint8_t byte = 0;
    for (;;) {
        std::size_t got = 0;
        if (!readSome(source, &byte, 1, &got)) {
            status = LineStatus::Failed;
            break;
        }
        if (got == 0 || byte == '\n') {
            break;
        }
        if (line->length == LINE_CAPACITY) {
            status = LineStatus::TooLong;
            break;
        }
        line->bytes[line->length++] = byte;
    }
    wipeObject(byte);
    if (status != LineStatus::Ok) {
        return status;
    }
    if (line->length > 0 && line->bytes[line->length - 1] == '\r') {
        line->bytes[--line->length] = 0;
    }
    return LineStatus::Ok;
}

int finishLine(LineStatus status, LineRecord* line, PasswordRecord* password, const std::string& where)
{
    if (status == LineStatus::Ok) {
        status = decodeLine(line, password);
    }
    wipeObject(*line);
    if (status == LineStatus::TooLong) {
        wipeObject(*password);
        printError(where + ": the password is longer than 255 characters");
        return EXIT_OTHER_FAILURE;
    }
    if (status == LineStatus::Failed) {
        wipeObject(*password);
        printError(where + ": cannot read the password: " + lastSystemError());
        return EXIT_OTHER_FAILURE;
    }
    return 0;
}

int readPasswordFromSource(const PasswordSource& source, PasswordRecord* password)
{
    LockedRecord<LineRecord> line;
    if (!line) {
        return reportResult(RESULT_OUT_OF_MEMORY, "");
    }
    if (source.kind == PasswordSourceKind::Descriptor) {
#ifdef _WIN32
        return EXIT_USAGE;
#else
        const LineStatus status = readLine(source.descriptor, line.get());
        return finishLine(status, line.get(), password, "descriptor " + std::to_string(source.descriptor));
#endif
    }
    const bool standardInput = source.path == "-";
#ifdef _WIN32
    HANDLE handle = standardInput
                        ? GetStdHandle(STD_INPUT_HANDLE)
                        : CreateFileW(reinterpret_cast<const wchar_t*>(utf8ToUtf16(source.path).c_str()), GENERIC_READ,
                                      FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr) {
        printError(source.path + ": cannot open the password file: " + lastSystemError());
        return EXIT_OTHER_FAILURE;
    }
    const LineStatus status = readLine(handle, line.get());
    if (!standardInput) {
        CloseHandle(handle);
    }
#else
    const int descriptor = standardInput ? STDIN_FILENO : open(source.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        printError(source.path + ": cannot open the password file: " + lastSystemError());
        return EXIT_OTHER_FAILURE;
    }
    const LineStatus status = readLine(descriptor, line.get());
    if (!standardInput) {
        close(descriptor);
    }
#endif
    return finishLine(status, line.get(), password, standardInput ? std::string("standard input") : source.path);
}

#ifdef _WIN32
struct ConsoleLine {
    wchar_t units[LINE_CAPACITY];
};

// Asks on the console with echo off. False when there is no console.
int promptOnTerminal(const std::string& prompt, PasswordRecord* password)
{
    const HANDLE input = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
    const HANDLE output = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD mode = 0;
    if (input == INVALID_HANDLE_VALUE || output == INVALID_HANDLE_VALUE || !GetConsoleMode(input, &mode)) {
        if (input != INVALID_HANDLE_VALUE) {
            CloseHandle(input);
        }
        if (output != INVALID_HANDLE_VALUE) {
            CloseHandle(output);
        }
        printError("no console to ask for the password; use --password-file FILE");
        return EXIT_OTHER_FAILURE;
    }
    const std::u16string wide = utf8ToUtf16(prompt);
    DWORD written = 0;
    rememberConsoleMode(input, mode);
    SetConsoleMode(input, (mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT);
    WriteConsoleW(output, reinterpret_cast<const wchar_t*>(wide.c_str()), static_cast<DWORD>(wide.size()), &written,
                  nullptr);
    LockedRecord<ConsoleLine> line;
    std::size_t length = 0;
    bool ended = false;
    bool tooLong = false;
    while (line && !ended) {
        wchar_t chunk[64];
        DWORD read = 0;
        if (!ReadConsoleW(input, chunk, 64, &read, nullptr) || read == 0) {
            break;
        }
        for (DWORD k = 0; k < read; ++k) {
            if (chunk[k] == L'\n') {
                ended = true;
                break;
            }
            if (chunk[k] == L'\r') {
                continue;
            }
            if (length < LINE_CAPACITY) {
                line->units[length++] = chunk[k];
            } else {
                tooLong = true;
            }
        }
        secureWipe(chunk, sizeof chunk);
    }
    SetConsoleMode(input, mode);
    forgetTerminal();
    WriteConsoleW(output, L"\r\n", 2, &written, nullptr);
    CloseHandle(input);
    CloseHandle(output);
    if (!line) {
        return reportResult(RESULT_OUT_OF_MEMORY, "");
    }
    if (tooLong || length > PASSWORD_MAX_UNITS) {
        printError("the password is longer than 255 characters");
        return EXIT_OTHER_FAILURE;
    }
    wipeObject(*password);
    std::memcpy(password->units, line->units, length * sizeof(char16_t));
    password->length = length;
    return 0;
}
#else
int promptOnTerminal(const std::string& prompt, PasswordRecord* password)
{
    const int terminal = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (terminal < 0) {
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
    LockedRecord<LineRecord> line;
    LineStatus status = LineStatus::Failed;
    if (line) {
        status = readLine(terminal, line.get());
    }
    if (isTerm) {
        tcsetattr(terminal, TCSAFLUSH, &saved);
        forgetTerminal();
    }
    close(terminal);
    if (!line) {
        return reportResult(RESULT_OUT_OF_MEMORY, "");
    }
    return finishLine(status, line.get(), password, "terminal");
}
#endif

}  // namespace

int readPassword(const PasswordSource& source, const char16_t* hint, PasswordRecord* password)
{
    if (source.kind != PasswordSourceKind::Prompt) {
        return readPasswordFromSource(source, password);
    }
    std::string prompt;
    if (hint != nullptr && hint[0] != 0) {
        prompt = "Hint: " + utf16ToUtf8(hint) + "\n";
    }
    prompt += "Password: ";
    return promptOnTerminal(prompt, password);
}

int readNewPassword(const PasswordSource& source, const char* label, PasswordRecord* password)
{
    if (source.kind != PasswordSourceKind::Prompt) {
        return readPasswordFromSource(source, password);
    }
    const int status = promptOnTerminal(std::string(label) + ": ", password);
    if (status != 0) {
        return status;
    }
    LockedRecord<PasswordRecord> again;
    if (!again) {
        wipeObject(*password);
        return reportResult(RESULT_OUT_OF_MEMORY, "");
    }
    const int repeated = promptOnTerminal(
        "Repeat " + std::string(label == std::string("Password") ? "password" : "new password") + ": ", again.get());
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
