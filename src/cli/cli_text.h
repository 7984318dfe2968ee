#pragma once
// Text of the tool that is not a secret: the conversions for paths, hints and
// messages, and the two encoders every hint, name and message passes through
// on its way out: one for terminals and consoles, one for JSON.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Lenient conversions (the core's UTF-8 decoder; unpaired surrogates are dropped
// when encoding). For arguments and header strings, never for secrets, and
// never to show a name: escapeForTerminal shows the bytes as they are.
std::u16string utf8ToUtf16(std::string_view text);
std::string utf16ToUtf8(std::u16string_view text);

// The length of the well-formed UTF-8 character at the start of bytes (1 to 4)
// with its code point in *character, or 0 when the bytes there are not one
// (a stray or missing continuation, an overlong form, a surrogate, above U+10FFFF).
std::size_t nextUtf8Character(const std::uint8_t* bytes, std::size_t count, char32_t* character);
bool isValidUtf8(const std::uint8_t* bytes, std::size_t count);

// The characters a terminal acts on instead of showing them: C0 controls, DEL,
// C1 controls (U+0080-U+009F) and the bidirectional controls (U+061C,
// U+200E, U+200F, U+202A-U+202E, U+2066-U+2069).
bool isTerminalControl(char32_t character);

// Text for a terminal or console: valid UTF-8 passes unchanged but for the
// controls above, shown as \xNN (C0 and DEL) and \uNNNN (the others); a byte
// that is not part of a UTF-8 character shows as \xNN. The result is valid
// UTF-8 without a control, and escaping it again changes nothing.
std::string escapeForTerminal(std::string_view bytes);
// The same for UTF-16 (hints and entry names); an unpaired surrogate shows as \uNNNN.
std::string escapeForTerminal(std::u16string_view units);

// Appends a JSON string, quotes included, that decodes to exactly these units:
// the controls above, '"', '\\' and unpaired surrogates as escapes, the rest as UTF-8.
void appendJsonString(std::string* out, std::u16string_view units);
// The same for bytes meant as UTF-8 (a name from the command line); a byte
// that is not part of a UTF-8 character becomes U+FFFD, which JSON can carry.
void appendJsonString(std::string* out, std::string_view bytes);
