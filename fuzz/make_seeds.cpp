// Writes the seed corpora of the fuzz targets: containers of every generation
// produced by the real writer (older generations re-framed under a 64-byte
// header), and texts that reach each branch of the decoders. Deterministic:
// fixed salts and round counts instead of drawn ones.
// Usage: fuzz_make_seeds CORPUS_ROOT
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cipher/key_setup.h"
#include "container/payload.h"
#include "container/container_header.h"
#include "container/container_session.h"
#include "fuzz_support.h"
#include "platform/byte_order.h"

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

namespace {

fs::path corpusRoot;

void put(const std::string& target, const std::string& name, const Bytes& bytes)
{
    const fs::path directory = corpusRoot / target;
    fs::create_directories(directory);
    std::ofstream out(directory / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        fuzzFail("cannot write a seed");
    }
}

Bytes bytesOf(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

Bytes utf16le(const std::u16string& text)
{
    Bytes out;
    for (char16_t unit : text) {
        out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        out.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    return out;
}

Bytes utf16be(const std::u16string& text)
{
    Bytes out;
    for (char16_t unit : text) {
        out.push_back(static_cast<std::uint8_t>(unit >> 8));
        out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    }
    return out;
}

Bytes concat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes readScratch()
{
    std::ifstream in(scratchPathUtf8(), std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string sampleText(std::size_t length)
{
    std::string text;
    const char* line =
        "Tarnwick keeps notes encrypted.\r\nZeile mit Umlaut \xC3\xA4, Euro \xE2\x82\xAC, \xF0\x9F\x98\x80\n";
    while (text.size() < length) {
        text += line;
    }
    text.resize(length);
    return text;
}

struct Parameters {
    std::uint16_t scheme = 3;
    std::uint32_t shuffleLevel = 7;
    std::uint32_t blockSize = 0;  // 0: the writer's choice
    std::uint32_t mixRounds = 4096;
    std::uint32_t scheduleRounds = 256;
    std::uint32_t stirRounds = 4096;
    const char16_t* hint = u"the usual";
};

// A generation-2 container of text under password, written by the real
// payload writer with the given parameters.
Bytes writeContainer(const std::string& text, const char16_t* password, const Parameters& p)
{
    ContainerSession session;
    initSession(&session);
    initHeaderForSave(&session, text.size(), p.hint, p.shuffleLevel, 0);
    ContainerHeader& h = session.header;
    h.cipherScheme = p.scheme;
    if (p.blockSize != 0) {
        h.blockSize = p.blockSize;
    }
    for (std::uint8_t k = 0; k < 16; ++k) {
        h.salt[k] = static_cast<std::uint8_t>(0x5A ^ (k * 37));
    }
    h.mixRounds = p.mixRounds;
    h.scheduleRounds = p.scheduleRounds;
    h.stirRounds = p.stirRounds;
    for (std::uint8_t k = 0; k < SHORT_TEXT_SIZE - 1; ++k) {
        session.shortBlock[k] = static_cast<std::uint8_t>(k * 11 + 3);
    }
    removeScratch();
    session.targetFile = createNewFile(scratchPath());
    FUZZ_CHECK(session.targetFile != INVALID_FILE);
    FUZZ_CHECK(setupKey(&session, password) == RESULT_OK);
    FUZZ_CHECK(encryptPayload(&session, reinterpret_cast<const std::uint8_t*>(text.data())) == RESULT_OK);
    teardownSession(&session);
    return readScratch();
}

struct Legacy {
    std::uint8_t generation = 1;
    std::uint16_t layoutVersion = 0x200;
    std::uint32_t blockSize = 4096;
    std::u16string hint = u"old hint";
    std::u16string entryName = u"vellic.txt";
    bool checksummed = true;
};

// A generation 0 or 1 file: its 64-byte header and strings, then the payload
// the reader expects for the converted header (scheme 0, the layout's shuffle
// level, round counts from the two bases), with block checksums chained.
Bytes writeLegacy(const std::string& text, const char16_t* password, const Legacy& l)
{
    Parameters p;
    p.scheme = 0;
    p.shuffleLevel = l.layoutVersion == 0x100 ? 0 : l.layoutVersion == 0x200 ? 7 : l.blockSize >> 8;
    p.blockSize = l.blockSize;
    p.mixRounds = 4096 + 3;
    p.stirRounds = 4096 + 3;
    p.scheduleRounds = 256 + 5;
    p.hint = nullptr;
    const Bytes modern = writeContainer(text, password, p);

    Bytes header(LEGACY_HEADER_SIZE, 0);
    storeLe32(header.data(), HEADER_MAGIC | (std::uint32_t{l.generation} << 24));
    storeLe16(header.data() + 4, l.layoutVersion);
    storeLe32(header.data() + 8, l.blockSize);
    storeLe16(header.data() + 12, static_cast<std::uint16_t>(l.hint.size()));
    storeLe16(header.data() + 14, static_cast<std::uint16_t>(l.entryName.size()));
    storeLe32(header.data() + 16, static_cast<std::uint32_t>(text.size()));
    const std::uint16_t systemTime[8] = {2009, 6, 3, 17, 14, 5, 9, 120};
    for (int k = 0; k < 8; ++k) {
        storeLe16(header.data() + 24 + 2 * k, systemTime[k]);
    }
    storeLe32(header.data() + 40, HEADER_WRITER_TAG);
    std::memcpy(header.data() + 44, modern.data() + 16, 16);  // the salt, in the same two halves
    storeLe16(header.data() + 60, 5);
    storeLe16(header.data() + 62, 3);
    if (l.checksummed) {
        storeLe16(header.data() + 6, legacyHeaderChecksum(header.data()));
    }
    for (const std::u16string* s : {&l.hint, &l.entryName}) {
        for (char16_t unit : *s) {
            header.push_back(static_cast<std::uint8_t>(unit & 0xFF));
            if (l.generation == 1) {
                header.push_back(static_cast<std::uint8_t>(unit >> 8));
            }
        }
    }
    Bytes file = concat(header, Bytes(modern.begin() + HEADER_SIZE, modern.end()));
    repairBlockChecksums(file.data(), file.size());
    return file;
}

// Every container seed must open to its text, so that the corpus starts past
// every check and mutations begin from the deepest paths.
void expectOpens(const std::string& name, const Bytes& file, const char16_t* password, const std::string& text)
{
    if (!writeScratch(file.data(), file.size())) {
        fuzzFail("cannot write the scratch file");
    }
    ContainerSession session;
    initSession(&session);
    Bytes plain(text.size() + 2, 0);
    ResultCode code = openContainer(&session, scratchPath());
    if (code == RESULT_OK) {
        setupKey(&session, password);
        code = decryptPayload(&session, plain.data(), text.size());
    }
    teardownSession(&session);
    if (code != RESULT_OK || headerPlainSize(session.header) != text.size() ||
        std::memcmp(plain.data(), text.data(), text.size()) != 0) {
        std::fprintf(stderr, "seed %s does not open to its text (code %d)\n", name.c_str(), code);
        fuzzFail("a container seed does not open");
    }
}

Bytes withPassword(std::uint8_t options, const char16_t* password, const Bytes& file)
{
    const Bytes pw = utf16le(password);
    Bytes out{options, static_cast<std::uint8_t>(pw.size())};
    return concat(concat(out, pw), file);
}

void textSeeds()
{
    const std::vector<std::pair<std::string, Bytes>> utf8 = {
        {"ascii", bytesOf("plain ascii text")},
        {"two-three-four-byte", bytesOf("\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80")},
        {"overlong-zero", {0xC0, 0x80, 0x41}},
        {"encoded-surrogate", {0xED, 0xA0, 0x80, 0x42}},
        {"above-unicode", {0xF4, 0x90, 0x80, 0x80, 0x43}},
        {"interrupted-sequence", {0xE2, 0x41, 0x82, 0xAC}},
        {"stray-continuation-and-f8", {0x80, 0x81, 0xF8, 0xFF, 0x44}},
        {"bom-utf8", bytesOf("\xEF\xBB\xBFmarked")},
    };
    const std::vector<std::pair<std::string, Bytes>> lines = {
        {"mixed-breaks", bytesOf("a\nb\r\nc\n")},
        {"leading-lf", bytesOf("\nabc")},
        {"cr-runs", bytesOf("\r\r\n\n\n\r")},
        {"lf-after-multibyte", bytesOf("\xC3\xA9\n\xE2\x82\xAC\r\n")},
        {"cr-inside-sequence", {0xE2, 0x0D, 0x0A, 0x82, 0xAC, 0x0A}},
        {"overlong-line-feed", {0x61, 0xC0, 0x8A, 0x62, 0xE0, 0x80, 0x8A, 0x0D, 0xC0, 0x8A}},
    };
    const std::vector<std::pair<std::string, Bytes>> files = {
        {"utf16le-bom", concat({0xFF, 0xFE}, utf16le(u"line one\r\nline two \u00e9"))},
        {"utf16be-bom", concat({0xFE, 0xFF}, utf16be(u"big endian \u20ac"))},
        {"utf16le-bare", utf16le(u"no mark here")},
        {"utf16be-bare", utf16be(u"no mark either")},
        {"utf16le-odd-length", concat(utf16le(u"ab"), {0x43})},
        {"utf16le-lone-surrogates", concat({0xFF, 0xFE}, utf16le(u"x\xD800y\xDC00"))},
        {"binary", {0x41, 0x42, 0x00, 0x00, 0x43}},
        {"single-zero", {0x00}},
        {"single-byte", {0x41}},
        {"zero-at-even-offset", {0x41, 0x42, 0x00}},
        {"double-bom", concat({0xFF, 0xFE}, utf16le(u"\uFEFFkept"))},
    };
    for (const auto& [name, bytes] : utf8) {
        put("decode_utf8", name, bytes);
        put("detect_encoding", name, bytes);
        put("plain_file_chain", name, bytes);
        put("expand_line_breaks", name, bytes);
        put("container_text_chain", "vtxt-" + name, concat({0}, bytes));
        put("container_text_chain", "kzx-" + name, concat({1}, bytes));
    }
    for (const auto& [name, bytes] : lines) {
        put("expand_line_breaks", name, bytes);
        put("plain_file_chain", name, bytes);
        put("decode_utf8", name, bytes);
    }
    for (const auto& [name, bytes] : files) {
        put("detect_encoding", name, bytes);
        put("plain_file_chain", name, bytes);
        put("container_text_chain", "kzx-" + name, concat({1}, bytes));
        put("container_text_chain", "vtxt-wide-" + name, concat({2}, bytes));
    }
    put("container_text_chain", "vtxt-empty", {0});
    put("container_text_chain", "vtxt-wide-empty", {2});
    put("plain_file_chain", "empty", {});
    put("detect_encoding", "empty", {});

    const std::vector<std::pair<std::string, std::u16string>> surrogates = {
        {"high-then-ascii", u"\xD800\x0041"},
        {"ascii-then-low", u"\x0041\xDC00"},
        {"leading-low", u"\xDC00xyz"},
        {"paired", u"\xD800\xDC00"},
        {"emoji-pair", u"a\xD83D\xDE00z"},
        {"trailing-high", u"abc\xD800"},
        {"high-high-low", u"\xD800\xD801\xDC01"},
    };
    for (const auto& [name, text] : surrogates) {
        put("repair_surrogates", name, utf16le(text));
    }
}

void containerSeeds()
{
    const char16_t* password = u"correct horse \u00e9";
    struct Case {
        std::string name;
        std::string text;
        Parameters p;
    };
    Parameters noShuffle;
    noShuffle.shuffleLevel = 0;
    Parameters multiBlock;
    multiBlock.blockSize = 2048;
    multiBlock.shuffleLevel = 3;
    Parameters scheme0;
    scheme0.scheme = 0;
    Parameters scheme1;
    scheme1.scheme = 1;
    scheme1.shuffleLevel = 2;
    Parameters scheme2;
    scheme2.scheme = 2;
    Parameters noHint;
    noHint.hint = nullptr;
    const std::vector<Case> modern = {
        {"gen2-empty", "", Parameters{}},
        {"gen2-short", "short note", Parameters{}},
        {"gen2-31-bytes", sampleText(31), Parameters{}},
        {"gen2-32-bytes", sampleText(32), noHint},
        {"gen2-single-block", sampleText(700), Parameters{}},
        {"gen2-no-shuffle", sampleText(300), noShuffle},
        {"gen2-multi-block", sampleText(5000), multiBlock},
        {"gen2-scheme0", sampleText(200), scheme0},
        {"gen2-scheme1", sampleText(200), scheme1},
        {"gen2-scheme2", sampleText(200), scheme2},
    };
    for (const Case& c : modern) {
        const Bytes file = writeContainer(c.text, password, c.p);
        expectOpens(c.name, file, password, c.text);
        put("header_reader", c.name, concat({0}, file));
        put("open_container", c.name, withPassword(0, password, file));
        put("open_container", c.name + "-wrong-password", withPassword(0, u"wrong", file));
        put("verify_walk", c.name, concat({0}, file));
    }
    const Bytes wideText = utf16le(u"wide entry \u20ac\xD800!");
    const Bytes wide = writeContainer(std::string(wideText.begin(), wideText.end()), password, Parameters{});
    put("open_container", "gen2-wide-entry-kzx", withPassword(8 | 16, password, wide));
    put("open_container", "gen2-wide-entry", withPassword(16, password, wide));
    put("open_container", "gen2-small-destination",
        withPassword(4, password, writeContainer(sampleText(900), password, Parameters{})));

    Legacy gen1;
    Legacy gen0;
    gen0.generation = 0;
    gen0.layoutVersion = 0x100;
    gen0.hint = u"hint \u00e9";
    Legacy gen528;
    gen528.layoutVersion = 0x210;
    gen528.blockSize = 2048;
    Legacy unchecked;
    unchecked.checksummed = false;
    Legacy longHint;
    longHint.hint = std::u16string(200, u'h');
    const std::vector<std::pair<std::string, Legacy>> legacy = {
        {"gen1-layout512", gen1},      {"gen0-layout256", gen0},     {"gen1-layout528-multi-block", gen528},
        {"gen1-unchecked", unchecked}, {"gen1-long-hint", longHint},
    };
    for (const auto& [name, l] : legacy) {
        const std::string text = sampleText(name.find("multi") != std::string::npos ? 5000 : 400);
        const Bytes file = writeLegacy(text, password, l);
        if (l.hint.size() <= 127) {
            // A longer hint is read cut to 127 characters, and the reader
            // looks for the payload right after what it read.
            expectOpens(name, file, password, text);
        }
        put("header_reader", name, concat({0}, file));
        put("open_container", name, withPassword(0, password, file));
        put("verify_walk", name, concat({0}, file));
    }

    Bytes badMagic = writeContainer(sampleText(64), password, Parameters{});
    badMagic[0] ^= 0xFF;
    put("header_reader", "bad-magic", concat({1}, badMagic));
    Bytes generation3 = writeContainer(sampleText(64), password, Parameters{});
    generation3[3] = 3;
    put("header_reader", "generation3", concat({1}, generation3));
    put("header_reader", "truncated-gen2", concat({0}, Bytes(generation3.begin(), generation3.begin() + 600)));
    put("header_reader", "one-byte", {0, 0x58});
}

// What verify must tell apart: a damaged block, a file cut inside a block or
// the trailer, damaged spare copies of the sum (options bit 1 makes mutated
// block checksums match again).
void verifySeeds()
{
    const char16_t* password = u"pw";
    Parameters multiBlock;
    multiBlock.blockSize = 2048;
    const Bytes file = writeContainer(sampleText(5000), password, multiBlock);
    Bytes damagedBlock = file;
    damagedBlock[HEADER_SIZE + 8 + 100] ^= 1;
    put("verify_walk", "damaged-block", concat({0}, damagedBlock));
    put("verify_walk", "damaged-block-checksums-repaired", concat({2}, damagedBlock));
    put("verify_walk", "cut-inside-a-block", concat({0}, Bytes(file.begin(), file.begin() + 3000)));
    put("verify_walk", "cut-in-the-trailer", concat({0}, Bytes(file.begin(), file.end() - 4)));
    Bytes spare = file;
    spare[spare.size() - 2] ^= 1;
    put("verify_walk", "damaged-spare-copy", concat({0}, spare));
    Bytes endMarker = file;
    endMarker[endMarker.size() - 16] ^= 1;
    put("verify_walk", "damaged-end-marker", concat({0}, endMarker));
}

Bytes joined(const std::vector<std::string>& parts, char separator)
{
    Bytes out;
    for (std::size_t k = 0; k < parts.size(); ++k) {
        if (k != 0) {
            out.push_back(static_cast<std::uint8_t>(separator));
        }
        out.insert(out.end(), parts[k].begin(), parts[k].end());
    }
    return out;
}

// Names, hints and lines of vtxt: what a hostile file or a careless script gives.
void toolSeeds()
{
    const std::vector<std::pair<std::string, Bytes>> names = {
        {"plain-name", bytesOf("notes 2026.vtxt")},
        {"clear-screen", bytesOf("\x1B[2J\x1B[H")},
        {"title-change", bytesOf("\x1B]0;owned\x07name")},
        {"eight-bit-csi", bytesOf("\xC2\x9B"
                                  "31mred")},
        {"bidi-override", bytesOf("invoice\xE2\x80\xAEtxt.exe")},
        {"isolates-and-marks", bytesOf("\xE2\x81\xA6\xD8\x9C\xE2\x80\x8F\xE2\x81\xA9")},
        {"overlong-dots", bytesOf("\xC0\xAE\xC0\xAE\xC0\xAFvictim.vtxt")},
        {"latin1", bytesOf("p\xE4ss")},
        {"quotes-and-backslashes", bytesOf("\"a\\b\" \\u0041")},
        {"hint-utf16-lone-surrogates", utf16le(u"hint \xD800 x \xDC00 \x1B[2J \x9B \u202E")},
        {"hint-utf16-pairs", utf16le(u"Gr\u00FC\u00DFe \U0001F431")},
    };
    for (const auto& [name, bytes] : names) {
        put("terminal_escape", name, bytes);
        put("vtxt_utf16", "lenient-" + name, concat({2}, bytes));
    }
    const std::vector<std::pair<std::string, Bytes>> wide = {
        {"entry-text", utf16le(u"Gr\u00FC\u00DFe \u2713 \U0001F431\n")},
        {"entry-lone-surrogates", utf16le(u"x\xD800y\xDC00\xD83D")},
        {"entry-nul-inside", utf16le(std::u16string(u"before\0after", 12))},
        {"entry-odd-length", concat(utf16le(u"ab"), {0x43})},
    };
    for (const auto& [name, bytes] : wide) {
        put("vtxt_utf16", name, concat({0}, bytes));
    }
    const std::vector<std::pair<std::string, Bytes>> inputs = {
        {"input-little-endian-mark", concat({0xFF, 0xFE}, utf16le(u"A\u00E9\u20AC\U0001F600\r\n"))},
        {"input-big-endian-mark", concat({0xFE, 0xFF}, utf16be(u"A\u00E9\u20AC\U0001F600\r\n"))},
        {"input-big-endian-bare", utf16be(u"no mark")},
        {"input-little-endian-bare", utf16le(u"no mark")},
        {"input-odd", {0x41, 0x00, 0x42}},
        {"input-nul", utf16le(std::u16string(u"a\0b", 3))},
        {"input-lone-surrogate", concat({0xFF, 0xFE}, utf16le(u"\xDC00x"))},
    };
    for (const auto& [name, bytes] : inputs) {
        put("vtxt_utf16", name, concat({1}, bytes));
    }

    const std::string euros = [] {
        std::string s;
        for (int k = 0; k < 255; ++k) {
            s += "\xE2\x82\xAC";
        }
        return s;
    }();
    const std::vector<std::pair<std::string, Bytes>> lines = {
        {"plain", bytesOf("secret\n")},
        {"two-lines", bytesOf("secret\r\nsecond\n")},
        {"mark", bytesOf("\xEF\xBB\xBFsecret\r\n")},
        {"empty-line", bytesOf("\n")},
        {"nothing", {}},
        {"nul", {'a', 'b', 0, 'c', 'd', '\n'}},
        {"latin1", bytesOf("p\xE4ss\n")},
        {"overlong-nul", bytesOf("ab\xC0\x80"
                                 "cd\n")},
        {"longest", bytesOf(std::string(255, 'x') + "\n")},
        {"one-too-long", bytesOf(std::string(256, 'x'))},
        {"longest-euros", bytesOf(euros)},
        {"no-line-break", bytesOf(std::string(1100, 'y'))},
        {"skipped-bytes", bytesOf(std::string(1030, '\xF8'))},
    };
    for (const auto& [name, bytes] : lines) {
        put("password_line", name, bytes);
    }

    const std::vector<std::pair<std::string, std::vector<std::string>>> commands = {
        {"encrypt", {"encrypt", "notes.txt", "-o", "notes.vtxt", "--hint", "the usual", "--password-file", "pw"}},
        {"encrypt-pipes", {"encrypt", "-", "-o", "-", "--password-fd", "3", "--allow-empty-password", "-q"}},
        {"encrypt-fd-zero", {"encrypt", "-", "-o", "out.vtxt", "--password-fd=0"}},
        {"decrypt", {"decrypt", "in.vtxt", "-oout.txt", "--raw", "--force", "--password-file=-"}},
        {"cat", {"cat", "--", "-name.vtxt"}},
        {"info-several", {"info", "--json", "a.vtxt", "-", "b.vtxt"}},
        {"verify-several", {"verify", "a.vtxt", "b.vtxt", "--ask-password", "--quiet"}},
        {"passwd", {"passwd", "doc.vtxt", "--no-hint", "--password-fd", "4", "--new-password-file", "new"}},
        {"passwd-hints", {"passwd", "doc.vtxt", "--hint", "h", "--keep-hint"}},
        {"password-argument", {"cat", "a.vtxt", "--password", "hunter2"}},
        {"help", {"help", "passwd"}},
        {"version", {"--version"}},
    };
    for (const auto& [name, args] : commands) {
        put("command_line", name, joined(args, '\0'));
    }
}

void roundTripSeeds()
{
    struct Case {
        std::string name;
        std::uint8_t options;
        std::uint8_t shuffle;
        std::u16string password;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"empty-text", 3, 5, u"pw", ""},
        {"short-text-scheme0", 0, 1, u"p\u00e4ss", "hello"},
        {"one-block-scheme3", 3 | 16, 7, u"longer password with spaces", sampleText(600)},
        {"multi-block-scheme2", 2 | 8, 2, u"x", sampleText(4500)},
        {"scheme1-no-shuffle", 1, 0, u"", sampleText(100)},
        {"scheme3-hint-short", 3 | 16, 5, u"s", "tiny"},
    };
    for (const Case& c : cases) {
        Bytes pw = utf16le(c.password);
        Bytes prefix(24 + 31, 0);
        prefix[0] = c.options;
        prefix[1] = c.shuffle;
        storeLe16(prefix.data() + 2, 100);
        prefix[4] = static_cast<std::uint8_t>(pw.size());
        for (std::size_t k = 5; k < prefix.size(); ++k) {
            prefix[k] = static_cast<std::uint8_t>(k * 29 + c.options);
        }
        put("round_trip", c.name, concat(concat(prefix, pw), bytesOf(c.text)));
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS_ROOT\n", argv[0]);
        return 2;
    }
    corpusRoot = argv[1];
    textSeeds();
    containerSeeds();
    roundTripSeeds();
    verifySeeds();
    toolSeeds();
    std::printf("seeds written to %s\n", argv[1]);
    return 0;
}
