#pragma once
// Reading passwords: from the terminal without echo, from the first line of a
// file, or from an inherited descriptor. Every source goes through the one line
// reader (cli_password_line.h); every buffer that held a password is wiped.
#include <string>

#include "cli/cli_args.h"
#include "cli/cli_memory.h"

// Refuses, before anything is read, a password source that is the same open
// file as standard input while standard input is also an input: "-" and
// descriptor 0, and a path or descriptor that names the same file (/dev/stdin,
// a duplicate of descriptor 0). False with the reason in *error: a usage error.
bool checkStandardInputUse(const CommandLine& line, std::string* error);

// Reads the password of an existing container into *password, as leniently as
// the tool always has (no file is locked out); only a NUL or a source that
// gives nothing at all is refused. On the terminal it is asked once, after the
// file's hint (may be null or empty), escaped. Returns 0, or the exit status
// after printing the reason.
int readPassword(const PasswordSource& source, const char16_t* hint, PasswordRecord* password);
// Reads a new password: from the source once, or asked twice on the terminal
// (RESULT_PASSWORD_MISMATCH when the two differ). It must be valid UTF-8, hold
// no NUL and, unless allowEmpty, not be empty. label is "Password" or "New password".
int readNewPassword(const PasswordSource& source, const char* label, bool allowEmpty, PasswordRecord* password);
