#pragma once
// Outcome of every operation that can fail. A leaf: it includes nothing of
// ours, so the cipher and container code can report in the same terms as the
// dialogs that show the codes.
#include <cstdint>

using ResultCode = std::int32_t;

inline constexpr ResultCode RESULT_OK = 0;
inline constexpr ResultCode RESULT_INVALID_ARGUMENT = 6;
inline constexpr ResultCode RESULT_OUT_OF_MEMORY = 7;
inline constexpr ResultCode RESULT_MEMORY_PROTECT_FAILED = 8;
inline constexpr ResultCode RESULT_LIMIT_EXCEEDED = 10;
inline constexpr ResultCode RESULT_THREAD_FAILED = 11;
inline constexpr ResultCode RESULT_WINDOW_FAILED = 12;
inline constexpr ResultCode RESULT_OPEN_FAILED = 14;
inline constexpr ResultCode RESULT_READ_FAILED = 15;
inline constexpr ResultCode RESULT_SAVE_FAILED = 16;
inline constexpr ResultCode RESULT_WRITE_FAILED = 17;
inline constexpr ResultCode RESULT_DISK_FULL = 18;
inline constexpr ResultCode RESULT_BAD_FORMAT = 19;
inline constexpr ResultCode RESULT_NEWER_VERSION = 20;
inline constexpr ResultCode RESULT_CHECKSUM_FAILED = 21;
inline constexpr ResultCode RESULT_UNEXPECTED_EOF = 23;
inline constexpr ResultCode RESULT_WRONG_PASSWORD = 35;
inline constexpr ResultCode RESULT_PASSWORD_MISMATCH = 36;
inline constexpr ResultCode RESULT_ASK_SAVE = 44;
inline constexpr ResultCode RESULT_NOT_TEXT = 45;

struct ResultText {
    const char16_t* title;  // null for RESULT_ASK_SAVE: the caller shows the program's name
    const char16_t* message;
};

// The title and message the user sees for a code. False for RESULT_OK, which is
// never shown; every code without an entry of its own gives "Error" / "Error".
bool LookupResultText(ResultCode code, ResultText* text);
