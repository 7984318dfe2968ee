#pragma once
// Memory that holds text or secrets: the core's locked, self-wiping buffers
// (platform/locked_memory.h), and a process that leaves no core dump behind.
#include <cstddef>
#include <cstdint>

#include "platform/locked_memory.h"

// Turns off core dumps (and crash dumps on Windows). Best effort.
void disableCoreDumps();

// A password as the core takes it: NUL-terminated UTF-16 of at most 255 units
// (the editor's limit). Fixed size, so it is never copied by a reallocation.
inline constexpr std::size_t PASSWORD_MAX_UNITS = 255;
struct PasswordRecord {
    char16_t units[PASSWORD_MAX_UNITS + 1];
    std::size_t length;
};
