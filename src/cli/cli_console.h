#pragma once
// Messages and data on the standard streams, and the UTF-8 / UTF-16 helpers
// the tool needs for arguments, paths and header strings.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "jobs/result_codes.h"

enum class StandardStream { Output, Error };

// Exit statuses that are not result codes of the format.
inline constexpr int EXIT_OTHER_FAILURE = 1;
inline constexpr int EXIT_USAGE = 2;

// Lenient conversions (the core's UTF-8 decoder; unpaired surrogates are dropped
// when encoding). For paths, hints and messages, never for secrets.
std::u16string utf8ToUtf16(std::string_view text);
std::string utf16ToUtf8(std::u16string_view text);

// Writes UTF-8 text: as UTF-16 through the console when the stream is a Windows
// console, as bytes otherwise. False when the write failed.
bool writeText(StandardStream stream, std::string_view text);
// Writes bytes unchanged (binary mode on Windows). errno-like detail in *brokenPipe.
bool writeBytesTo(StandardStream stream, const void* bytes, std::size_t count, bool* brokenPipe);
bool isTerminal(StandardStream stream);

// "vtxt: <text>" and a line break on standard error.
void printError(std::string_view text);
// "vtxt: <context>: <title>: <message>" for a result code; returns the code as
// the exit status.
int reportResult(ResultCode code, std::string_view context);
// The text of the last system error (errno / GetLastError), for detail lines.
std::string lastSystemError();
