#pragma once
// The golden container files: each shows one condition (an older layout, a
// scheme, or one kind of damage), is produced by the test writer, and is
// listed with the code and text that opening it must give.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/result_codes.h"

struct GoldenCase {
    std::string name;                 // file name in tests/data/containers
    std::vector<std::uint8_t> bytes;  // the file
    std::u16string password;          // the password to open it with
    ResultCode expected;
    std::vector<std::uint8_t> text;  // the text when expected is RESULT_OK
};

std::vector<GoldenCase> goldenCases();

// One manifest line, tab-separated: name, code, password (UTF-8 hex, "-" when
// empty), text (hex, "-" when empty).
std::string manifestLine(const GoldenCase& c);
inline constexpr const char* GOLDEN_FOLDER = "tests/data/containers";
inline constexpr const char* GOLDEN_MANIFEST = "expected.txt";
