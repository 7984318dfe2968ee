#ifdef _WIN32
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#else
#include <cerrno>
#include <cstring>
#include <unistd.h>
#endif

#include "cli/cli_console.h"

#include <atomic>

namespace {

std::atomic<bool> quietRun{false};

}  // namespace

#ifdef _WIN32
namespace {

HANDLE streamHandle(StandardStream stream)
{
    return GetStdHandle(stream == StandardStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

bool isConsoleHandle(HANDLE handle)
{
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && handle != nullptr && GetConsoleMode(handle, &mode) != 0;
}

}  // namespace

bool isTerminal(StandardStream stream)
{
    return isConsoleHandle(streamHandle(stream));
}

bool writeBytesTo(StandardStream stream, const void* bytes, std::size_t count, bool* brokenPipe)
{
    if (brokenPipe != nullptr) {
        *brokenPipe = false;
    }
    const HANDLE handle = streamHandle(stream);
    const auto* p = static_cast<const std::uint8_t*>(bytes);
    while (count > 0) {
        const DWORD chunk = count > 0x100000 ? 0x100000 : static_cast<DWORD>(count);
        DWORD written = 0;
        if (!WriteFile(handle, p, chunk, &written, nullptr) || written == 0) {
            if (brokenPipe != nullptr) {
                const DWORD error = GetLastError();
                *brokenPipe = error == ERROR_BROKEN_PIPE || error == ERROR_NO_DATA;
            }
            return false;
        }
        p += written;
        count -= written;
    }
    return true;
}

bool writeText(StandardStream stream, std::string_view text)
{
    const HANDLE handle = streamHandle(stream);
    if (isConsoleHandle(handle)) {
        const std::u16string wide = utf8ToUtf16(text);
        const auto* p = reinterpret_cast<const wchar_t*>(wide.data());
        std::size_t left = wide.size();
        while (left > 0) {
            const DWORD chunk = left > 8192 ? 8192 : static_cast<DWORD>(left);
            DWORD written = 0;
            if (!WriteConsoleW(handle, p, chunk, &written, nullptr) || written == 0) {
                return false;
            }
            p += written;
            left -= written;
        }
        return true;
    }
    return writeBytesTo(stream, text.data(), text.size(), nullptr);
}

std::string lastSystemError()
{
    const DWORD error = GetLastError();
    wchar_t buffer[512] = {};
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                        buffer, 512, nullptr);
    std::u16string text(reinterpret_cast<const char16_t*>(buffer), length);
    while (!text.empty() &&
           (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' ' || text.back() == u'.')) {
        text.pop_back();
    }
    if (text.empty()) {
        return "system error " + std::to_string(error);
    }
    return utf16ToUtf8(text);
}
#else
namespace {

int streamDescriptor(StandardStream stream)
{
    return stream == StandardStream::Output ? STDOUT_FILENO : STDERR_FILENO;
}

}  // namespace

bool isTerminal(StandardStream stream)
{
    return isatty(streamDescriptor(stream)) != 0;
}

bool writeBytesTo(StandardStream stream, const void* bytes, std::size_t count, bool* brokenPipe)
{
    if (brokenPipe != nullptr) {
        *brokenPipe = false;
    }
    const int fd = streamDescriptor(stream);
    const auto* p = static_cast<const std::uint8_t*>(bytes);
    while (count > 0) {
        const ssize_t written = write(fd, p, count);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            if (brokenPipe != nullptr) {
                *brokenPipe = errno == EPIPE;
            }
            return false;
        }
        p += written;
        count -= static_cast<std::size_t>(written);
    }
    return true;
}

bool writeText(StandardStream stream, std::string_view text)
{
    return writeBytesTo(stream, text.data(), text.size(), nullptr);
}

std::string lastSystemError()
{
    return std::strerror(errno);
}
#endif

void printError(std::string_view text)
{
    std::string line = "vtxt: ";
    line += escapeForTerminal(text);
    line += '\n';
    writeText(StandardStream::Error, line);
}

int reportResult(ResultCode code, std::string_view context)
{
    return reportResult(code, context, {});
}

int reportResult(ResultCode code, std::string_view context, std::string_view reason)
{
    ResultText text{};
    std::string line;
    if (!context.empty()) {
        line += context;
        line += ": ";
    }
    if (LookupResultText(code, &text)) {
        if (text.title != nullptr) {
            line += utf16ToUtf8(text.title);
            line += ": ";
        }
        line += utf16ToUtf8(text.message);
    } else {
        line += "failed";
    }
    if (!reason.empty()) {
        line += " (";
        line += reason;
        line += ")";
    }
    printError(line);
    return code == RESULT_OK ? EXIT_OTHER_FAILURE : static_cast<int>(code);
}

void setQuiet(bool quiet)
{
    quietRun.store(quiet);
}

bool isQuiet()
{
    return quietRun.load();
}

void printNote(std::string_view text)
{
    if (!isQuiet()) {
        printError(text);
    }
}
