#pragma once
// Messages and data on the standard streams. Every message goes out through
// escapeForTerminal, so a name or hint cannot drive the terminal.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "cli/cli_text.h"
#include "platform/result_codes.h"

enum class StandardStream { Output, Error };

// Exit statuses that are not result codes of the format.
inline constexpr int EXIT_OTHER_FAILURE = 1;
inline constexpr int EXIT_USAGE = 2;

// Writes UTF-8 text: as UTF-16 through the console when the stream is a Windows
// console, as bytes otherwise. False when the write failed.
bool writeText(StandardStream stream, std::string_view text);
// Writes bytes unchanged (binary mode on Windows). errno-like detail in *brokenPipe.
bool writeBytesTo(StandardStream stream, const void* bytes, std::size_t count, bool* brokenPipe);
bool isTerminal(StandardStream stream);

// "vtxt: <text>" and a line break on standard error, the text escaped.
void printError(std::string_view text);
// "vtxt: <context>: <title>: <message>" for a result code; returns the code as
// the exit status.
int reportResult(ResultCode code, std::string_view context);
// The same with the system's reason after the message, in parentheses
// (nothing when reason is empty).
int reportResult(ResultCode code, std::string_view context, std::string_view reason);

// --quiet: no progress and no notes (errors are still shown).
void setQuiet(bool quiet);
bool isQuiet();
// A note on standard error ("vtxt: <text>"), unless quiet.
void printNote(std::string_view text);
// The text of the last system error (errno / GetLastError), for detail lines.
std::string lastSystemError();
