#pragma once
// Reading passwords: from the terminal without echo, from the first line of a
// file, or from an inherited descriptor. Every buffer that held one is wiped.
#include "cli/cli_args.h"
#include "cli/cli_memory.h"

// Reads the password of an existing container into *password. On the terminal
// it is asked once, after the file's hint (may be null or empty). Returns 0, or
// the exit status after printing the reason.
int readPassword(const PasswordSource& source, const char16_t* hint, PasswordRecord* password);
// Reads a new password: from the source once, or asked twice on the terminal
// (RESULT_PASSWORD_MISMATCH when the two differ). label is "Password" or "New password".
int readNewPassword(const PasswordSource& source, const char* label, PasswordRecord* password);
