#pragma once
// Test vectors are written as hex text ("C3 A9", spaces optional).
#include <cstdint>
#include <string>
#include <vector>

std::vector<std::uint8_t> bytesFromHex(const std::string& hex);
std::string hexFromBytes(const std::uint8_t* bytes, std::size_t count);
std::string hexFromBytes(const std::vector<std::uint8_t>& bytes);
// "00E9 D83D" -> units; used for UTF-16 vectors.
std::u16string unitsFromHex(const std::string& hex);
std::string hexFromUnits(const std::u16string& units);
