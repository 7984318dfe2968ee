#pragma once
// What the commands share about documents: the save job's shuffle level, reading a
// container's text into memory, and the text conversions of the editor.
#include <cstdint>
#include <string>

#include "cli/cli_args.h"
#include "cli/cli_files.h"
#include "cli/cli_memory.h"
#include "container/container_header.h"

// The system's reason why a container operation on the file named name failed
// with code, for the message: the last system error for a failed read, what
// keeps the file from being opened for an open. Empty for other codes. Call it
// at once after the failure, before anything else can change the system's error.
std::string systemReason(ResultCode code, const std::string& name);

// The hint passwd writes: --hint's text, none with --no-hint, otherwise the
// file's current one, kept with a note on standard error unless --keep-hint
// asked for exactly that.
std::u16string hintForNewPassword(const CommandLine& line, const std::u16string& newHint, const ContainerHeader& header,
                                  const std::string& name);

// The stored UTF-16LE text as UTF-8, as the editor shows it: a trailing odd
// byte dropped, unpaired surrogates as spaces. NUL characters are kept.
bool wideTextToUtf8(LockedBuffer* stored, LockedBuffer* out);
// UTF-16 input (byte order from its mark, else from its zero bytes, else
// little-endian) as the UTF-8 the editor would store. Returns 0 or the exit
// status after printing the reason.
int utf16InputToUtf8(LockedBuffer* input, const std::string& name, LockedBuffer* out);

// A container read into memory.
struct OpenedDocument {
    ContainerHeader header;
    std::uint32_t generation;
    LockedBuffer stored;  // the payload as stored
};
// Opens input, applies the limits, asks for the password (showing the hint)
// and deciphers the payload. Returns 0 or the exit status after printing.
int readDocument(const ContainerInput& input, const PasswordSource& source, const char* progressLabel,
                 OpenedDocument* document);
