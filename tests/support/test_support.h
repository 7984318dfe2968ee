#pragma once
// Paths and files for tests that run natively and under Wine alike.
#include <cstdint>
#include <string>
#include <vector>

// A fresh, empty directory for one test (removed by the caller or left in the
// system's temporary directory). Returned in the host's path syntax.
std::string makeTempDir(const std::string& label);
// A path inside the source tree (e.g. "tests/data/x"), usable by the running
// program: on Windows under Wine the Linux root is drive Z:.
std::string sourcePath(const std::string& relative);
// Joins a directory and a name with the host's separator.
std::string joinPath(const std::string& directory, const std::string& name);
// The UTF-16 form of a UTF-8 path, for the core's char16_t interfaces.
std::u16string toUtf16(const std::string& text);
std::vector<std::uint8_t> readBytes(const std::string& path);
void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
bool fileExists(const std::string& path);
// n bytes of text in a fixed pseudo-random pattern, different for each seed,
// for payloads whose every byte position must be told apart.
std::vector<std::uint8_t> patternText(std::size_t n, std::uint32_t seed = 1);
// Names of the entries of a directory (not . or ..).
std::vector<std::string> listDirectory(const std::string& directory);
