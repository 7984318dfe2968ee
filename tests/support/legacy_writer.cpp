#include "support/legacy_writer.h"

namespace {

void putLe16(std::vector<std::uint8_t>& out, std::size_t offset, std::uint16_t v)
{
    out[offset] = static_cast<std::uint8_t>(v);
    out[offset + 1] = static_cast<std::uint8_t>(v >> 8);
}

void putLe32(std::vector<std::uint8_t>& out, std::size_t offset, std::uint32_t v)
{
    putLe16(out, offset, static_cast<std::uint16_t>(v));
    putLe16(out, offset + 2, static_cast<std::uint16_t>(v >> 16));
}

std::uint16_t rotateLeft16(int v)
{
    const auto u = static_cast<std::uint16_t>(v);
    return static_cast<std::uint16_t>((u << 1) | (u >> 15));
}

void appendString(std::vector<std::uint8_t>& out, const std::u16string& text, std::uint8_t generation)
{
    for (char16_t unit : text) {
        out.push_back(static_cast<std::uint8_t>(unit));
        if (generation == 1) {
            out.push_back(static_cast<std::uint8_t>(unit >> 8));
        }
    }
}

}  // namespace

std::uint16_t legacyHeaderChecksum(const std::uint8_t* header)
{
    int c = header[60] | (header[61] << 8);
    for (int i = 0; i < 8; ++i) {
        c = rotateLeft16(c + static_cast<signed char>(header[44 + i]));
        c = rotateLeft16(c + static_cast<signed char>(header[52 + i]));
    }
    return static_cast<std::uint16_t>(c + (header[62] | (header[63] << 8)));
}

std::vector<std::uint8_t> writeLegacyHeader(const LegacyHeaderFields& fields)
{
    std::vector<std::uint8_t> out(64, 0);
    putLe32(out, 0, 0x004B5A58u | (static_cast<std::uint32_t>(fields.generation) << 24));
    putLe16(out, 4, fields.layoutVersion);
    putLe32(out, 8, fields.blockSize);
    putLe16(out, 12, static_cast<std::uint16_t>(fields.hintLength < 0 ? fields.hint.size() : fields.hintLength));
    putLe16(out, 14,
            static_cast<std::uint16_t>(fields.entryNameLength < 0 ? fields.entryName.size() : fields.entryNameLength));
    putLe32(out, 16, static_cast<std::uint32_t>(fields.plainSize));
    putLe32(out, 20, static_cast<std::uint32_t>(fields.plainSize >> 32));
    for (int i = 0; i < 8; ++i) {
        putLe16(out, 24 + 2 * static_cast<std::size_t>(i), fields.savedSystemTime[i]);
    }
    putLe32(out, 40, fields.writerTag);
    for (int i = 0; i < 8; ++i) {
        out[44 + static_cast<std::size_t>(i)] = fields.salt[i];
        out[52 + static_cast<std::size_t>(i)] = fields.salt[8 + i];
    }
    putLe16(out, 60, fields.scheduleBase);
    putLe16(out, 62, fields.roundsBase);
    if (fields.checksummed) {
        putLe16(out, 6, legacyHeaderChecksum(out.data()));
    }
    appendString(out, fields.hint, fields.generation);
    appendString(out, fields.entryName, fields.generation);
    return out;
}
