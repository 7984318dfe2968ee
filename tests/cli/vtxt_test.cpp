// Runs the vtxt binary and checks what a user sees: exit statuses, outputs,
// refusals, and that a failure leaves nothing behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#ifndef _WIN32
#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "cipher/checksum.h"
#include "cipher/entropy.h"
#include "cipher/key_setup.h"
#include "container/payload.h"
#include "support/json_string.h"
#include "cli/process_runner.h"
#include "container/container_session.h"
#include "platform/byte_order.h"
#include "platform/fault_injection.h"
#include "platform/platform.h"
#include "support/test_support.h"
#include "text/text_encoding.h"

namespace fs = std::filesystem;

namespace {

std::string toString(const std::vector<std::uint8_t>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

std::vector<std::uint8_t> toBytes(const std::string& text)
{
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

std::string randomBytes(std::size_t count, unsigned seed)
{
    std::mt19937 generator(seed);
    std::string bytes(count, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(generator() & 0xFF);
    }
    return bytes;
}

// The raw token after "key": in a one-line JSON object (a number, true/false, or a quoted string).
std::string jsonField(const std::string& json, const std::string& key)
{
    const std::string marker = "\"" + key + "\": ";
    const std::size_t at = json.find(marker);
    if (at == std::string::npos) {
        return "<missing>";
    }
    std::size_t start = at + marker.size();
    std::size_t end = start;
    if (json[start] == '"') {
        ++end;
        while (end < json.size() && json[end] != '"') {
            end += json[end] == '\\' ? 2 : 1;
        }
        return json.substr(start, end - start + 1);
    }
    while (end < json.size() && json[end] != ',' && json[end] != '}') {
        ++end;
    }
    return json.substr(start, end - start);
}

class VtxtTool : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = makeTempDir("vtxt");
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(fs::u8path(dir), ignored);
    }

    std::string path(const std::string& name) const
    {
        return joinPath(dir, name);
    }
    void put(const std::string& name, const std::string& bytes) const
    {
        writeBytes(path(name), toBytes(bytes));
    }
    std::string get(const std::string& name) const
    {
        return toString(readBytes(path(name)));
    }
    std::vector<std::string> entries() const
    {
        std::vector<std::string> names = listDirectory(dir);
        std::sort(names.begin(), names.end());
        return names;
    }

    // A password file holding line (written as given, line break included or not).
    std::string passwordFile(const std::string& line, const std::string& name = "password.txt") const
    {
        put(name, line);
        return path(name);
    }

    // Encrypts text into name with the password "secret"; expects success.
    std::string encrypt(const std::string& text, const std::string& name = "doc.vtxt",
                        std::vector<std::string> extra = {})
    {
        put("plain.txt", text);
        std::vector<std::string> args{"encrypt",  path("plain.txt"), "-o",
                                      path(name), "--password-file", passwordFile("secret\n", "encrypt-password.txt")};
        args.insert(args.end(), extra.begin(), extra.end());
        const ProcessResult run = runVtxt(args);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        fs::remove(fs::u8path(path("plain.txt")));
        fs::remove(fs::u8path(path("encrypt-password.txt")));
        return path(name);
    }

    // The text in a container with the password "secret", written here by the
    // core from pinned values. Tests that give a wrong password use it: the
    // file's only password check is a 32-bit sum of its text, which about one
    // wrong password in a thousand meets for a short text, so a file written
    // afresh on every run would now and then let one through.
    std::string pinnedContainer(const std::string& text, const std::string& name = "doc.vtxt",
                                const std::u16string& hint = u"", const std::u16string& password = u"secret")
    {
        pinSystemSample(20261210);
        ContainerSession session{};
        initSession(&session);
        const std::u16string target = toUtf16(path(name));
        const ResultCode code =
            saveContainer(&session, reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), target.c_str(),
                          password.c_str(), hint.c_str(), chooseShuffleLevel(text.size()));
        resetFaults();
        EXPECT_EQ(code, RESULT_OK);
        return path(name);
    }

    ProcessResult decryptToStdout(const std::string& container, const std::string& password = "secret\n")
    {
        return runVtxt({"decrypt", container, "--password-file", passwordFile(password, "decrypt-password.txt")});
    }

    std::string dir;
};

// ---------------------------------------------------------------- round trips

struct RoundTripCase {
    const char* label;
    std::size_t size;
    std::uint32_t level;  // the save job's shuffle level for this size
    bool shortText;
};

class VtxtRoundTrip : public VtxtTool, public ::testing::WithParamInterface<RoundTripCase> {};

TEST_P(VtxtRoundTrip, GivesBackTheInputByteForByte)
{
    const RoundTripCase& c = GetParam();
    const std::string text = randomBytes(c.size, static_cast<unsigned>(c.size) + 7);
    const std::string container = encrypt(text);
    const ProcessResult info = runVtxt({"info", container, "--json"});
    ASSERT_EQ(info.exitCode, 0) << info.err;
    EXPECT_EQ(jsonField(info.out, "generation"), "2");
    EXPECT_EQ(jsonField(info.out, "scheme"), "3");
    EXPECT_EQ(jsonField(info.out, "shuffleLevel"), std::to_string(c.level));
    EXPECT_EQ(jsonField(info.out, "entryName"), "\"vellic.txt\"");
    EXPECT_EQ(jsonField(info.out, "shortText"), c.shortText ? "true" : "false");
    EXPECT_EQ(jsonField(info.out, "plainSize"), std::to_string(c.shortText ? 32 : c.size));

    put("key.txt", "secret\n");
    const ProcessResult run =
        runVtxt({"decrypt", container, "-o", path("back.txt"), "--password-file", path("key.txt")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(run.err.empty()) << run.err;
    EXPECT_TRUE(get("back.txt") == text) << "decrypted text differs for " << c.label;
    EXPECT_EQ(entries(), (std::vector<std::string>{"back.txt", "doc.vtxt", "key.txt"}));
}

std::vector<RoundTripCase> roundTripCases()
{
#ifdef _WIN32
    // Under Wine every start of the tool costs time: the edges and one large text.
    return {RoundTripCase{"empty", 0, 12800, true}, RoundTripCase{"31 bytes", 31, 12800, true},
            RoundTripCase{"32 bytes", 32, 12800, false}, RoundTripCase{"3 MiB and a bit", 3 * 1048576 + 17, 7, false}};
#else
    return {RoundTripCase{"empty", 0, 12800, true},       RoundTripCase{"one byte", 1, 12800, true},
            RoundTripCase{"eight bytes", 8, 12800, true}, RoundTripCase{"31 bytes", 31, 12800, true},
            RoundTripCase{"32 bytes", 32, 12800, false},  RoundTripCase{"1000 bytes", 1000, 8380, false},
            RoundTripCase{"2 MiB", 2097152, 7, false},    RoundTripCase{"3 MiB and a bit", 3 * 1048576 + 17, 7, false}};
#endif
}

INSTANTIATE_TEST_SUITE_P(Sizes, VtxtRoundTrip, ::testing::ValuesIn(roundTripCases()),
                         [](const ::testing::TestParamInfo<RoundTripCase>& param) {
                             std::string name;
                             for (const char ch : std::string(param.param.label)) {
                                 if (std::isalnum(static_cast<unsigned char>(ch))) {
                                     name += ch;
                                 }
                             }
                             return name;
                         });

TEST_F(VtxtTool, EncryptsStandardInputToStandardOutputAndBack)
{
    const std::string text = "through pipes \xE2\x9C\x93\n" + randomBytes(5000, 3);
    const std::string key = passwordFile("pipe password\n");
    ProcessOptions toContainer;
    toContainer.input = text;
    const ProcessResult encrypted = runVtxt({"encrypt", "-", "-o", "-", "--password-file", key}, toContainer);
    ASSERT_EQ(encrypted.exitCode, 0) << encrypted.err;
    ASSERT_GT(encrypted.out.size(), 1024u + text.size());
    EXPECT_EQ(encrypted.out.substr(0, 4), std::string("XZK\x02", 4));

    ProcessOptions fromContainer;
    fromContainer.input = encrypted.out;
    const ProcessResult decrypted = runVtxt({"decrypt", "-", "--password-file", key}, fromContainer);
    ASSERT_EQ(decrypted.exitCode, 0) << decrypted.err;
    EXPECT_TRUE(decrypted.out == text);
    const ProcessResult cat = runVtxt({"cat", "-", "--password-file", key}, fromContainer);
    ASSERT_EQ(cat.exitCode, 0) << cat.err;
    EXPECT_TRUE(cat.out == text);
    // The copy of standard input is gone again: only the password file is here.
    EXPECT_EQ(entries(), (std::vector<std::string>{"password.txt"}));
}

// The header fields that the editor's own save fills in are the same.
TEST_F(VtxtTool, WritesTheHeaderTheEditorsSaveWrites)
{
    const std::string text = randomBytes(70000, 11);
    const std::string container = encrypt(text, "tool.vtxt", {"--hint", "a hint"});

    ContainerSession session;
    initSession(&session);
    const std::u16string target = toUtf16(path("editor.vtxt"));
    ASSERT_EQ(saveContainer(&session, reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), target.c_str(),
                            u"other", u"a hint", 8388608 / (static_cast<std::uint32_t>(text.size()) + 1)),
              RESULT_OK);
    const std::vector<std::uint8_t> tool = readBytes(container);
    const std::vector<std::uint8_t> editor = readBytes(path("editor.vtxt"));
    ASSERT_EQ(tool.size(), editor.size());
    // signature, flags, scheme, level, block size
    EXPECT_TRUE(std::equal(tool.begin(), tool.begin() + 16, editor.begin()));
    // plainSize and writerTag (the save time between them differs)
    EXPECT_TRUE(std::equal(tool.begin() + 76, tool.begin() + 84, editor.begin() + 76));
    EXPECT_TRUE(std::equal(tool.begin() + 92, tool.begin() + 96, editor.begin() + 92));
    // entry name, hint and the reserved bytes
    EXPECT_TRUE(std::equal(tool.begin() + 96, tool.begin() + 1020, editor.begin() + 96));
}

// ------------------------------------------------------------- text handling

// Writes a container whose entry holds UTF-16LE text, as older writers did.
void writeWideContainer(const std::string& file, const std::u16string& text, const char16_t* password)
{
    std::vector<std::uint8_t> bytes;
    for (const char16_t unit : text) {
        bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    ContainerSession session;
    initSession(&session);
    initHeaderForSave(&session, bytes.size(), nullptr, 12800, systemTimeAsFileTime());
    std::memset(session.header.entryName, 0, sizeof session.header.entryName);
    std::memcpy(session.header.entryName, u"vellic_w.txt", sizeof(u"vellic_w.txt"));
    session.result = RESULT_OK;
    const std::u16string path = toUtf16(file);
    session.targetFile = createNewFile(path.c_str());
    ASSERT_NE(session.targetFile, INVALID_FILE);
    generateParameters(&session);
    ASSERT_EQ(setupKey(&session, password), RESULT_OK);
    static const std::uint8_t nothing[1] = {0};
    ASSERT_EQ(encryptPayload(&session, bytes.empty() ? nothing : bytes.data()), RESULT_OK);
    teardownSession(&session);
}

TEST_F(VtxtTool, WritesAUtf16EntryAsUtf8AndRawAsStored)
{
    // "Grüße ✓ 🐱" then a lone high surrogate, which the editor shows as a space
    const std::u16string text = u"Gr\u00FC\u00DFe \u2713 \U0001F431\n" + std::u16string(1, char16_t(0xD800)) + u"x";
    writeWideContainer(path("wide.vtxt"), text, u"secret");
    const ProcessResult decrypted = decryptToStdout(path("wide.vtxt"));
    ASSERT_EQ(decrypted.exitCode, 0) << decrypted.err;
    EXPECT_EQ(decrypted.out,
              "Gr\xC3\xBC\xC3\x9F"
              "e \xE2\x9C\x93 \xF0\x9F\x90\xB1\n x");

    const ProcessResult raw = runVtxt({"cat", path("wide.vtxt"), "--raw", "--password-file", passwordFile("secret")});
    ASSERT_EQ(raw.exitCode, 0) << raw.err;
    ASSERT_EQ(raw.out.size(), 2 * text.size());
    EXPECT_EQ(static_cast<unsigned char>(raw.out[0]), 'G');
    EXPECT_EQ(raw.out[1], '\0');

    const ProcessResult info = runVtxt({"info", path("wide.vtxt"), "--json"});
    EXPECT_EQ(jsonField(info.out, "encoding"), "\"utf-16le\"");
}

struct Utf16Case {
    const char* label;
    std::string input;
};

class VtxtFromUtf16 : public VtxtTool, public ::testing::WithParamInterface<Utf16Case> {};

TEST_P(VtxtFromUtf16, StoresUtf16InputAsUtf8)
{
    put("wide.txt", GetParam().input);
    const ProcessResult run = runVtxt({"encrypt", path("wide.txt"), "-o", path("doc.vtxt"), "--from-utf16",
                                       "--password-file", passwordFile("secret")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const ProcessResult raw = runVtxt({"cat", path("doc.vtxt"), "--raw", "--password-file", path("password.txt")});
    ASSERT_EQ(raw.exitCode, 0) << raw.err;
    EXPECT_EQ(raw.out, "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Marks, VtxtFromUtf16,
    ::testing::Values(
        Utf16Case{"LittleEndianWithMark", std::string("\xFF\xFE"
                                                      "A\0\xE9\0\xAC\x20\x3D\xD8\x00\xDE\r\0\n\0",
                                                      16)},
        Utf16Case{"BigEndianWithMark", std::string("\xFE\xFF\0A\0\xE9\x20\xAC\xD8\x3D\xDE\x00\0\r\0\n", 16)},
        Utf16Case{"LittleEndianWithoutMark", std::string("A\0\xE9\0\xAC\x20\x3D\xD8\x00\xDE\r\0\n\0", 14)},
        Utf16Case{"BigEndianWithoutMark", std::string("\0A\0\xE9\x20\xAC\xD8\x3D\xDE\x00\0\r\0\n", 14)}),
    [](const ::testing::TestParamInfo<Utf16Case>& param) { return std::string(param.param.label); });

TEST_F(VtxtTool, RefusesUtf16InputThatCannotBeUtf16)
{
    put("odd.txt", std::string("A\0B", 3));
    const ProcessResult run = runVtxt({"encrypt", path("odd.txt"), "-o", path("doc.vtxt"), "--from-utf16",
                                       "--password-file", passwordFile("secret")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("odd number of bytes"), std::string::npos) << run.err;
    EXPECT_FALSE(fileExists(path("doc.vtxt")));
}

// ----------------------------------------------------------- failure codes

TEST_F(VtxtTool, WrongPasswordExitsWithItsCodeAndLeavesNoOutput)
{
    const std::string container = pinnedContainer("my secret notes");
    const ProcessResult run =
        runVtxt({"decrypt", container, "-o", path("out.txt"), "--password-file", passwordFile("Secret\n")});
    EXPECT_EQ(run.exitCode, 35);
    EXPECT_NE(run.err.find("Password Error: The password you have entered is incorrect."), std::string::npos)
        << run.err;
    EXPECT_TRUE(run.out.empty());
    EXPECT_FALSE(fileExists(path("out.txt")));
    EXPECT_EQ(entries(), (std::vector<std::string>{"doc.vtxt", "password.txt"}));
}

// Under Wine the tool is the same code; these run natively only, to keep the
// Windows run short.
#ifndef _WIN32
struct DamageCase {
    const char* label;
    int offsetFromEnd;  // the byte flipped, counted back from the end; 0: cut instead
    std::size_t keep;   // bytes kept when cutting
    int exitCode;
    const char* verifyMentions;
};

class VtxtDamage : public VtxtTool, public ::testing::WithParamInterface<DamageCase> {};

TEST_P(VtxtDamage, DecryptAndVerifyReportTheFailedCheck)
{
    const DamageCase& c = GetParam();
    const std::string container = encrypt(randomBytes(3000, 5));
    std::vector<std::uint8_t> bytes = readBytes(container);
    if (c.offsetFromEnd > 0) {
        bytes[bytes.size() - static_cast<std::size_t>(c.offsetFromEnd)] ^= 0x01;
    } else {
        bytes.resize(c.keep);
    }
    writeBytes(container, bytes);

    const ProcessResult decrypted =
        runVtxt({"decrypt", container, "-o", path("out.txt"), "--password-file", passwordFile("secret")});
    EXPECT_EQ(decrypted.exitCode, c.exitCode) << decrypted.err;
    EXPECT_FALSE(fileExists(path("out.txt")));

    const ProcessResult verified = runVtxt({"verify", container});
    EXPECT_EQ(verified.exitCode, c.exitCode) << verified.out << verified.err;
    EXPECT_NE(verified.out.find(c.verifyMentions), std::string::npos) << verified.out;
    EXPECT_EQ(entries(), (std::vector<std::string>{"doc.vtxt", "password.txt"}));
}

INSTANTIATE_TEST_SUITE_P(Containers, VtxtDamage,
                         ::testing::Values(DamageCase{"CiphertextByte", 100, 0, 21, "block 1 of 1: checksum failed"},
                                           DamageCase{"EndMarker", 16, 0, 21, "end marker"},
                                           DamageCase{"HeaderByte", 3040, 0, 21, "header: failed"},
                                           DamageCase{"CutInsideTheBlock", 0, 2000, 23, "ends inside"},
                                           DamageCase{"CutBeforeTheTrailer", 0, 1024 + 8 + 3000 + 4, 23, "trailer"},
                                           DamageCase{"ShorterThanAHeader", 0, 500, 19, "header: failed"}),
                         [](const ::testing::TestParamInfo<DamageCase>& param) {
                             return std::string(param.param.label);
                         });

#endif

TEST_F(VtxtTool, VerifyChecksThePasswordOnlyWhenGivenOne)
{
    const std::string container = pinnedContainer(randomBytes(5000, 8));
    const ProcessResult structure = runVtxt({"verify", container});
    EXPECT_EQ(structure.exitCode, 0) << structure.err;
    EXPECT_NE(structure.out.find("every checksum ok"), std::string::npos) << structure.out;
    EXPECT_NE(structure.out.find("password: not checked"), std::string::npos) << structure.out;

    const ProcessResult right = runVtxt({"verify", container, "--password-file", passwordFile("secret")});
    EXPECT_EQ(right.exitCode, 0) << right.err;
    EXPECT_NE(right.out.find("password: ok"), std::string::npos) << right.out;

    const ProcessResult wrong = runVtxt({"verify", container, "--password-file", passwordFile("wrong")});
    EXPECT_EQ(wrong.exitCode, 35) << wrong.err;
    EXPECT_NE(wrong.out.find("does not match"), std::string::npos) << wrong.out;
    // Nothing but the container and the password file: no text was written.
    EXPECT_EQ(entries(), (std::vector<std::string>{"doc.vtxt", "password.txt"}));
}

TEST_F(VtxtTool, RefusesAFileThatIsNotAContainer)
{
    put("plain.txt", std::string(2000, 'a'));
    const ProcessResult run = runVtxt({"info", path("plain.txt")});
    EXPECT_EQ(run.exitCode, 19);
    EXPECT_NE(run.err.find("The file is not a valid KZX/VTXT format file."), std::string::npos) << run.err;
    const ProcessResult missing = runVtxt({"info", path("missing.vtxt")});
    EXPECT_EQ(missing.exitCode, 14);
    EXPECT_NE(missing.err.find("The file cannot be opened."), std::string::npos) << missing.err;
}

// A header with other values and a checksum that matches them.
void rewriteHeader(const std::string& file, std::uint32_t offset, std::uint32_t value)
{
    std::vector<std::uint8_t> bytes = readBytes(file);
    storeLe32(bytes.data() + offset, value);
    storeLe32(bytes.data() + 1020, rotateAddChecksum(bytes.data(), 1020));
    writeBytes(file, bytes);
}

TEST_F(VtxtTool, RefusesHostileSizesBeforeAskingForThePassword)
{
    // No password source and no terminal: had it asked, it would have failed with 1.
    const std::string container = encrypt(randomBytes(4096, 9));
    rewriteHeader(container, 76, 0x8000001);  // plainSize one byte over 128 MiB
    ProcessResult run = runVtxt({"decrypt", container, "-o", path("out.txt")});
    EXPECT_EQ(run.exitCode, 10) << run.err;
    EXPECT_NE(run.err.find("Limit Error"), std::string::npos) << run.err;

    rewriteHeader(container, 76, 4 * 1048576);  // 4 MiB at level 300: weighted 1204 MiB
    rewriteHeader(container, 8, 300);
    run = runVtxt({"cat", container});
    EXPECT_EQ(run.exitCode, 10) << run.err;
    rewriteHeader(container, 80, 1);  // a high half of plainSize
    run = runVtxt({"passwd", container});
    EXPECT_EQ(run.exitCode, 10) << run.err;
    EXPECT_FALSE(fileExists(path("out.txt")));
}

// --------------------------------------------------------- output handling

TEST_F(VtxtTool, NeverReplacesAnExistingOutputWithoutForce)
{
    const std::string container = encrypt("new text");
    put("out.txt", "precious");
    const std::string key = passwordFile("secret");
    ProcessResult run = runVtxt({"decrypt", container, "-o", path("out.txt"), "--password-file", key});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("exists"), std::string::npos) << run.err;
    EXPECT_EQ(get("out.txt"), "precious");

    put("plain.txt", "other");
    run = runVtxt({"encrypt", path("plain.txt"), "-o", path("out.txt"), "--password-file", key});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(get("out.txt"), "precious");

    run = runVtxt({"decrypt", container, "-o", path("out.txt"), "--password-file", key, "--force"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(get("out.txt"), "new text");
    EXPECT_EQ(entries(), (std::vector<std::string>{"doc.vtxt", "out.txt", "password.txt", "plain.txt"}));
}

TEST_F(VtxtTool, RefusesToDecryptAFileOntoItself)
{
    const std::string container = encrypt("keep me encrypted");
    const std::vector<std::uint8_t> before = readBytes(container);
    const std::string key = passwordFile("secret");
    for (const bool force : {false, true}) {
        std::vector<std::string> args{"decrypt", container, "-o", container, "--password-file", key};
        if (force) {
            args.push_back("--force");
        }
        const ProcessResult run = runVtxt(args);
        EXPECT_EQ(run.exitCode, 1) << run.err;
        EXPECT_NE(run.err.find("the output is the input file"), std::string::npos) << run.err;
        EXPECT_EQ(readBytes(container), before);
    }
}

// ------------------------------------------------------------- passwords

TEST_F(VtxtTool, PasswordFileLineBreaksAreNotPartOfThePassword)
{
    const std::string container = pinnedContainer("line breaks");
    for (const char* line : {"secret", "secret\n", "secret\r\n", "secret\r\nsecond line\n", "\xEF\xBB\xBFsecret\r\n"}) {
        const ProcessResult run = decryptToStdout(container, line);
        EXPECT_EQ(run.exitCode, 0) << "password line " << line << ": " << run.err;
        EXPECT_EQ(run.out, "line breaks");
    }
    for (const char* line : {"secret \n", "\nsecret\n", "secre\n", "secret\r\r\n"}) {
        EXPECT_EQ(decryptToStdout(container, line).exitCode, 35) << "password line " << line;
    }
    // "-" reads the line from standard input.
    ProcessOptions piped;
    piped.input = "secret\r\n";
    const ProcessResult fromStdin = runVtxt({"cat", container, "--password-file", "-"}, piped);
    EXPECT_EQ(fromStdin.exitCode, 0) << fromStdin.err;
    EXPECT_EQ(fromStdin.out, "line breaks");
}

TEST_F(VtxtTool, RefusesPasswordsLongerThanTheEditorAccepts)
{
    const std::string container = encrypt("short");
    const std::string longest(255, 'x');
    put("plain.txt", "text");
    EXPECT_EQ(runVtxt({"encrypt", path("plain.txt"), "-o", path("long.vtxt"), "--password-file",
                       passwordFile(longest + "\n")})
                  .exitCode,
              0);
    EXPECT_EQ(decryptToStdout(path("long.vtxt"), longest).out, "text");
    const ProcessResult tooLong = runVtxt(
        {"encrypt", path("plain.txt"), "-o", path("longer.vtxt"), "--password-file", passwordFile(longest + "x\n")});
    EXPECT_EQ(tooLong.exitCode, 1);
    EXPECT_NE(tooLong.err.find("longer than 255"), std::string::npos) << tooLong.err;
    EXPECT_FALSE(fileExists(path("longer.vtxt")));
}

TEST_F(VtxtTool, PasswdChangesTheKeyAndKeepsTheText)
{
    const std::string text = randomBytes(20000, 21);
    const std::string container = encrypt(text, "doc.vtxt", {"--hint", "old hint"});
    const std::string oldKey = passwordFile("secret\n", "old.txt");
    const std::string newKey = passwordFile("n\xC3\xA9w password\r\n", "new.txt");

    ProcessResult run =
        runVtxt({"passwd", container, "--keep-hint", "--password-file", oldKey, "--new-password-file", newKey});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(jsonField(runVtxt({"info", container, "--json"}).out, "hint"), "\"old hint\"");
    EXPECT_EQ(decryptToStdout(container, "secret").exitCode, 35);
    ProcessResult decrypted = decryptToStdout(container, "n\xC3\xA9w password");
    ASSERT_EQ(decrypted.exitCode, 0) << decrypted.err;
    EXPECT_TRUE(decrypted.out == text);

    run = runVtxt({"passwd", container, "--hint", "second", "--password-file", newKey, "--new-password-file", oldKey});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(jsonField(runVtxt({"info", container, "--json"}).out, "hint"), "\"second\"");
    run = runVtxt({"passwd", container, "--no-hint", "--password-file", oldKey, "--new-password-file", newKey});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(jsonField(runVtxt({"info", container, "--json"}).out, "hint"), "\"\"");
    decrypted = decryptToStdout(container, "n\xC3\xA9w password\n");
    EXPECT_TRUE(decrypted.out == text);
    // No temporary file and no text in clear were left beside it.
    EXPECT_EQ(entries(), (std::vector<std::string>{"decrypt-password.txt", "doc.vtxt", "new.txt", "old.txt"}));
}

TEST_F(VtxtTool, PasswdWithAWrongPasswordChangesNothing)
{
    const std::string container = pinnedContainer("unchanged");
    const std::vector<std::uint8_t> before = readBytes(container);
    const ProcessResult run = runVtxt({"passwd", container, "--password-file", passwordFile("wrong"),
                                       "--new-password-file", passwordFile("new", "new.txt")});
    EXPECT_EQ(run.exitCode, 35);
    EXPECT_EQ(readBytes(container), before);
}

TEST_F(VtxtTool, PrintsANonAsciiHintAsUtf8)
{
    const std::string hint =
        "Gr\xC3\xB6\xC3\x9F"
        "e \xE2\x9C\x93 \xF0\x9F\x90\xB1 \"quoted\"";
    const std::string container = encrypt("x", "doc.vtxt", {"--hint", hint});
    const ProcessResult json = runVtxt({"info", container, "--json"});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    EXPECT_EQ(jsonField(json.out, "hint"),
              "\"Gr\xC3\xB6\xC3\x9F"
              "e \xE2\x9C\x93 \xF0\x9F\x90\xB1 \\\"quoted\\\"\"");
    const ProcessResult text = runVtxt({"info", container});
    EXPECT_NE(text.out.find("hint:          " + hint), std::string::npos) << text.out;
}

// A password source is read as bytes and checked before anything is written:
// what is refused as a new password (encrypt, passwd), exit status 1.
struct RefusedPasswordCase {
    const char* label;
    std::string line;  // the password file's bytes
    const char* mentions;
};

class VtxtRefusedNewPassword : public VtxtTool, public ::testing::WithParamInterface<RefusedPasswordCase> {};

TEST_P(VtxtRefusedNewPassword, LeavesNoFileAndTheOldOneAsItWas)
{
    const RefusedPasswordCase& c = GetParam();
    const std::string container = pinnedContainer("kept as it was");
    const std::vector<std::uint8_t> before = readBytes(container);
    const std::string key = passwordFile("secret\n", "old.txt");
    const std::string refused = passwordFile(c.line, "new.txt");
    put("plain.txt", "text");
    ProcessResult run = runVtxt({"encrypt", path("plain.txt"), "-o", path("out.vtxt"), "--password-file", refused});
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_NE(run.err.find(c.mentions), std::string::npos) << run.err;
    EXPECT_FALSE(fileExists(path("out.vtxt")));

    run = runVtxt({"passwd", container, "--password-file", key, "--new-password-file", refused});
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_NE(run.err.find(c.mentions), std::string::npos) << run.err;
    EXPECT_EQ(readBytes(container), before);
    EXPECT_EQ(entries(), (std::vector<std::string>{"doc.vtxt", "new.txt", "old.txt", "plain.txt"}));
}

INSTANTIATE_TEST_SUITE_P(Lines, VtxtRefusedNewPassword,
                         ::testing::Values(RefusedPasswordCase{"EmptyFile", "", "no password in"},
                                           RefusedPasswordCase{"EmptyLine", "\n", "empty"},
                                           RefusedPasswordCase{"CrLfOnly", "\r\n", "empty"},
                                           RefusedPasswordCase{"MarkOnly", "\xEF\xBB\xBF\n", "empty"},
                                           RefusedPasswordCase{"NulByte", std::string("ab\0cdefgh\n", 10), "NUL"},
                                           RefusedPasswordCase{"Latin1", "p\xE4ss\n", "UTF-8"},
                                           RefusedPasswordCase{"StrayContinuation", "p\x80ss\n", "UTF-8"},
                                           RefusedPasswordCase{"OverlongSlash", "\xC0\xAF\n", "UTF-8"},
                                           RefusedPasswordCase{"EncodedSurrogate", "\xED\xA0\x80x\n", "UTF-8"},
                                           RefusedPasswordCase{"AboveUnicode", "\xF4\x90\x80\x80\n", "UTF-8"},
                                           RefusedPasswordCase{"CutSequence", "p\xC3\n", "UTF-8"}),
                         [](const ::testing::TestParamInfo<RefusedPasswordCase>& param) {
                             return std::string(param.param.label);
                         });

TEST_F(VtxtTool, EncryptsUnderAnEmptyPasswordOnlyWhenAskedTo)
{
    put("plain.txt", "open to all");
    const std::string empty = passwordFile("\n", "empty.txt");
    ProcessResult run = runVtxt(
        {"encrypt", path("plain.txt"), "-o", path("doc.vtxt"), "--password-file", empty, "--allow-empty-password"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    // A file with an empty password (the editor can write one) opens with an empty line.
    EXPECT_EQ(decryptToStdout(path("doc.vtxt"), "\n").out, "open to all");
    EXPECT_EQ(decryptToStdout(path("doc.vtxt"), "\r\n").out, "open to all");
    const std::string key = passwordFile("secret\n", "key.txt");
    run = runVtxt({"passwd", path("doc.vtxt"), "--password-file", empty, "--new-password-file", key});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    run = runVtxt({"passwd", path("doc.vtxt"), "--password-file", key, "--new-password-file", empty});
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_NE(run.err.find("--allow-empty-password"), std::string::npos) << run.err;
    EXPECT_EQ(decryptToStdout(path("doc.vtxt"), "secret\n").out, "open to all");
}

// The README's own idiom with the variable unset gives one empty line.
TEST_F(VtxtTool, RefusesTheEmptyLineOfAnUnsetPasswordVariable)
{
    put("plain.txt", "report");
    ProcessOptions piped;
    piped.input = "\n";
    const ProcessResult run =
        runVtxt({"encrypt", path("plain.txt"), "-o", path("report.vtxt"), "--password-file", "-"}, piped);
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_NE(run.err.find("empty"), std::string::npos) << run.err;
    EXPECT_FALSE(fileExists(path("report.vtxt")));
}

// Opening stays as lenient as it was: a file whose password was once given as
// bytes that are not UTF-8 still opens with the same bytes.
TEST_F(VtxtTool, OpensWithEveryPasswordLineItAcceptedBefore)
{
    for (const std::string line : {"p\xE4ss", "p\x80ss", "\xC0\xAE\xC0\xAE\xC0\xAF", "\xED\xA0\x80x", "caf\xC3\xA9"}) {
        std::u16string password(line.size() + 1, u'\0');
        password.resize(decodeUtf8(reinterpret_cast<const std::uint8_t*>(line.data()), line.size(), password.data()));
        const std::string container = pinnedContainer("lenient", "lenient.vtxt", u"", password);
        const ProcessResult run = decryptToStdout(container, line + "\n");
        EXPECT_EQ(run.exitCode, 0) << "password line " << line << ": " << run.err;
        EXPECT_EQ(run.out, "lenient");
        fs::remove(fs::u8path(container));
    }
    // A NUL ends nothing silently any more: the line is refused, not cut.
    const std::string container = pinnedContainer("cut");
    const ProcessResult run = decryptToStdout(container, std::string("secret\0more\n", 12));
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_NE(run.err.find("NUL"), std::string::npos) << run.err;
    EXPECT_TRUE(run.out.empty());
}

// Nothing a terminal would act on: no C0 control but the line breaks given,
// no DEL, no C1 control (UTF-8 C2 80..C2 9F) and no bidirectional control.
void expectNothingATerminalActsOn(const std::string& shown, const std::string& what)
{
    for (std::size_t k = 0; k < shown.size(); ++k) {
        const auto c = static_cast<unsigned char>(shown[k]);
        EXPECT_FALSE((c < 0x20 && c != '\n' && c != '\r') || c == 0x7F)
            << what << " holds byte " << int(c) << ": " << shown;
        if (c == 0xC2 && k + 1 < shown.size()) {
            const auto next = static_cast<unsigned char>(shown[k + 1]);
            EXPECT_FALSE(next >= 0x80 && next <= 0x9F) << what << " holds a C1 control: " << shown;
        }
    }
    for (const char* bidi :
         {"\xD8\x9C", "\xE2\x80\x8E", "\xE2\x80\x8F", "\xE2\x80\xAA", "\xE2\x80\xAB", "\xE2\x80\xAC", "\xE2\x80\xAD",
          "\xE2\x80\xAE", "\xE2\x81\xA6", "\xE2\x81\xA7", "\xE2\x81\xA8", "\xE2\x81\xA9"}) {
        EXPECT_EQ(shown.find(bidi), std::string::npos) << what << " holds a bidirectional control: " << shown;
    }
}

// Clear screen, a title change, an 8-bit CSI, a right-to-left override, DEL and
// an unpaired surrogate, as a hostile file's hint can hold them.
const std::u16string HOSTILE_HINT =
    u"\x1B[2J\x1B]0;owned\x07 \x9B"
    u"31m \u202Eevil\u2066 \x7F" +
    std::u16string(1, char16_t(0xDC00)) + u" end";

TEST_F(VtxtTool, ShowsAHostileHintOnlyAsEscapes)
{
    const std::string container = pinnedContainer("text", "doc.vtxt", HOSTILE_HINT);
    const ProcessResult info = runVtxt({"info", container});
    ASSERT_EQ(info.exitCode, 0) << info.err;
    expectNothingATerminalActsOn(info.out, "info");
    EXPECT_NE(info.out.find("hint:          \\x1b[2J\\x1b]0;owned\\x07 \\u009b31m \\u202eevil\\u2066 \\x7f\\udc00 end"),
              std::string::npos)
        << info.out;

    // JSON keeps its own encoder: valid, and decodes to the very hint.
    const ProcessResult json = runVtxt({"info", container, "--json"});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    expectNothingATerminalActsOn(json.out, "info --json");
    std::u16string hint;
    EXPECT_TRUE(decodeJsonString(jsonField(json.out, "hint"), &hint)) << json.out;
    EXPECT_TRUE(hint == HOSTILE_HINT) << json.out;

#ifndef _WIN32
    // The password prompts of every command that asks.
    const std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> prompts{
        {{"cat", container}, {"secret"}},
        {{"verify", container, "--ask-password"}, {"secret"}},
        {{"passwd", container, "--keep-hint"}, {"secret", "new one", "new one"}},
    };
    for (const auto& [args, answers] : prompts) {
        ProcessOptions options;
        options.terminalAnswers = answers;
        const ProcessResult run = runVtxt(args, options);
        EXPECT_EQ(run.exitCode, 0) << args[0] << ": " << run.err << run.terminal;
        EXPECT_NE(run.terminal.find("Hint: \\x1b[2J"), std::string::npos) << args[0] << ": " << run.terminal;
        expectNothingATerminalActsOn(run.terminal, args[0] + " prompt");
    }
#endif
}

#ifndef _WIN32
TEST_F(VtxtTool, ShowsAHostileFileNameOnlyAsEscapes)
{
    const std::string name = path(
        "\x1B]0;owned\x07\xC2\x9B"
        "2J\xE2\x80\xAEtxt.vtxt");
    const std::vector<std::vector<std::string>> commands{
        {"info", name}, {"info", name, "--json"}, {"verify", name}, {"cat", name}, {"decrypt", name, "-o", "-"}};
    for (const auto& args : commands) {
        const ProcessResult run = runVtxt(args);
        EXPECT_EQ(run.exitCode, 14) << run.err;
        expectNothingATerminalActsOn(run.err, args[0] + " error");
        expectNothingATerminalActsOn(run.out, args[0] + " output");
        EXPECT_NE(run.err.find("\\x1b]0;owned\\x07\\u009b2J\\u202etxt.vtxt"), std::string::npos) << run.err;
    }
    // Bytes that are not UTF-8 are shown as bytes, not decoded into other characters.
    const std::string overlong = path("\xC0\xAE\xC0\xAE\xC0\xAFvictim.vtxt");
    const ProcessResult run = runVtxt({"info", overlong});
    EXPECT_NE(run.exitCode, 0);
    EXPECT_NE((run.out + run.err).find("\\xc0\\xae\\xc0\\xae\\xc0\\xafvictim.vtxt"), std::string::npos)
        << run.out << run.err;
    EXPECT_EQ((run.out + run.err).find("../victim"), std::string::npos) << run.out << run.err;
}

// Standard input cannot hold both the text and the password, however it is named.
class VtxtStandardInputTwice : public VtxtTool, public ::testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(VtxtStandardInputTwice, IsAUsageErrorBeforeAnythingIsRead)
{
    std::vector<std::string> args = GetParam();
    for (std::string& argument : args) {
        if (argument == "OUT") {
            argument = path("f.vtxt");
        }
    }
    ProcessOptions piped;
    piped.input = "mypassword\nsecret body\n";
    const ProcessResult run = runVtxt(args, piped);
    EXPECT_EQ(run.exitCode, 2) << run.err;
    EXPECT_NE(run.err.find("standard input"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("usage: vtxt"), std::string::npos) << run.err;
    EXPECT_TRUE(run.out.empty());
    EXPECT_TRUE(listDirectory(dir).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Sources, VtxtStandardInputTwice,
    ::testing::Values(std::vector<std::string>{"encrypt", "-", "-o", "OUT", "--password-fd", "0"},
                      std::vector<std::string>{"encrypt", "-", "-o", "OUT", "--password-fd=0"},
                      std::vector<std::string>{"decrypt", "-", "--password-fd", "0"},
                      std::vector<std::string>{"encrypt", "-", "-o", "OUT", "--password-file", "/dev/stdin"},
                      std::vector<std::string>{"verify", "-", "--password-file", "/proc/self/fd/0"},
                      std::vector<std::string>{"cat", "-", "--password-fd", "0"}));
#endif

// ------------------------------------------------------ messages for scripts

TEST_F(VtxtTool, NamesTheFileAndTheSystemsReasonWhenItCannotBeOpened)
{
    const std::string missing = path("nosuch.vtxt");
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"cat", missing}, {"info", missing}, {"verify", missing}, {"passwd", missing}}) {
        const ProcessResult run = runVtxt(args);
        EXPECT_EQ(run.exitCode, 14) << run.err;
        EXPECT_NE(run.err.find(missing + ": Open Error: The file cannot be opened. ("), std::string::npos)
            << args[0] << ": " << run.err;
#ifndef _WIN32
        EXPECT_NE(run.err.find(std::strerror(ENOENT)), std::string::npos) << args[0] << ": " << run.err;
#endif
    }
    fs::create_directories(fs::u8path(path("folder.vtxt")));
    const ProcessResult folder = runVtxt({"info", path("folder.vtxt")});
    EXPECT_EQ(folder.exitCode, 14) << folder.err;
    EXPECT_NE(folder.err.find("directory"), std::string::npos) << folder.err;
}

TEST_F(VtxtTool, PasswdKeepsTheHintUnlessToldAndSaysSo)
{
    const std::string container = pinnedContainer("hinted", "doc.vtxt", u"the usual one");
    const std::string key = passwordFile("secret\n", "key.txt");
    ProcessResult run = runVtxt({"passwd", container, "--password-file", key, "--new-password-file", key});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(jsonField(runVtxt({"info", container, "--json"}).out, "hint"), "\"the usual one\"");
    EXPECT_NE(run.err.find("the hint \"the usual one\" stays with the new password"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("--no-hint"), std::string::npos) << run.err;

    run = runVtxt({"passwd", container, "--quiet", "--password-file", key, "--new-password-file", key});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(run.err.empty()) << run.err;
    EXPECT_EQ(jsonField(runVtxt({"info", container, "--json"}).out, "hint"), "\"the usual one\"");

    run = runVtxt({"passwd", container, "--no-hint", "--password-file", key, "--new-password-file", key});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(run.err.empty()) << run.err;
    EXPECT_EQ(jsonField(runVtxt({"info", container, "--json"}).out, "hint"), "\"\"");
    EXPECT_EQ(decryptToStdout(container).out, "hinted");
}

// Every number in info --json is exact in a double: the save time as digits in
// a string beside its ISO 8601 form, a size beyond 2^53 (a hostile header) too.
TEST_F(VtxtTool, InfoJsonHoldsNoIntegerBeyondADoublesPrecision)
{
    const std::string container = pinnedContainer(randomBytes(4096, 2));
    const std::vector<std::uint8_t> bytes = readBytes(container);
    const std::uint64_t fileTime = loadLe32(bytes.data() + 84) | (std::uint64_t{loadLe32(bytes.data() + 88)} << 32);
    ProcessResult run = runVtxt({"info", container, "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(jsonField(run.out, "savedFileTime"), "\"" + std::to_string(fileTime) + "\"");
    const std::string iso = jsonField(run.out, "savedTime");
    ASSERT_EQ(iso.size(), 22u) << iso;  // "YYYY-MM-DDTHH:MM:SSZ"
    EXPECT_EQ(iso[11], 'T');
    EXPECT_EQ(iso[20], 'Z');
    EXPECT_EQ(jsonField(run.out, "plainSize"), "4096");

    rewriteHeader(container, 80, 0x00300000);  // plainSize 3 * 2^52 + 4096
    run = runVtxt({"info", container, "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(jsonField(run.out, "plainSize"), "\"13510798882115584\"") << run.out;
    // No bare number anywhere is above 2^53.
    for (std::size_t k = 0; k < run.out.size();) {
        if (std::isdigit(static_cast<unsigned char>(run.out[k])) && run.out[k - 1] == ' ') {
            std::size_t end = k;
            while (end < run.out.size() && std::isdigit(static_cast<unsigned char>(run.out[end]))) {
                ++end;
            }
            EXPECT_LE(std::stod(run.out.substr(k, end - k)), 9007199254740992.0) << run.out;
            k = end;
        } else {
            ++k;
        }
    }
}

TEST_F(VtxtTool, InfoAndVerifyTakeSeveralFiles)
{
    const std::string first = pinnedContainer("first", "first.vtxt", u"one");
    const std::string second = pinnedContainer("second", "second.vtxt", u"two");
    ProcessResult run = runVtxt({"info", first, second});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("file:          " + first + "\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("hint:          one\n\nfile:          " + second + "\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("hint:          two\n"), std::string::npos) << run.out;

    run = runVtxt({"info", "--json", first, path("missing.vtxt"), second});
    EXPECT_EQ(run.exitCode, 14) << run.err;  // the status of the first file that failed
    ASSERT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 2) << run.out;
    EXPECT_EQ(jsonField(run.out.substr(0, run.out.find('\n')), "hint"), "\"one\"");
    EXPECT_EQ(jsonField(run.out.substr(run.out.find('\n')), "hint"), "\"two\"");
    EXPECT_NE(run.err.find("missing.vtxt"), std::string::npos) << run.err;

    std::vector<std::uint8_t> damaged = readBytes(second);
    damaged[damaged.size() - 20] ^= 1;
    writeBytes(second, damaged);
    run = runVtxt({"verify", first, second, "--password-file", passwordFile("secret\n")});
    EXPECT_EQ(run.exitCode, 21) << run.err;
    EXPECT_NE(run.out.find("file: " + first + "\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("password: ok"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("file: " + second + "\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("checksum failed"), std::string::npos) << run.out;
}

// ---------------------------------------------------------- command line

struct UsageCase {
    const char* label;
    std::vector<std::string> args;
    const char* mentions;
};

class VtxtUsage : public VtxtTool, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(VtxtUsage, IsAUsageError)
{
    const ProcessResult run = runVtxt(GetParam().args);
    EXPECT_EQ(run.exitCode, 2) << run.err;
    EXPECT_NE(run.err.find("usage: vtxt"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(GetParam().mentions), std::string::npos) << run.err;
    EXPECT_TRUE(run.out.empty());
    EXPECT_TRUE(listDirectory(dir).empty());
}

std::vector<UsageCase> usageCases()
{
    std::vector<UsageCase> cases{
        UsageCase{
            "PasswordOption", {"decrypt", "a.vtxt", "--password", "hunter2"}, "never taken from the command line"},
        UsageCase{"PasswordOptionWithValue", {"encrypt", "a", "-o", "b", "--password=hunter2"}, "never taken"},
        UsageCase{"ShortPasswordOption", {"cat", "a.vtxt", "-p", "hunter2"}, "never taken"},
        UsageCase{"NewPasswordOption", {"passwd", "a.vtxt", "--new-password", "x"}, "never taken"},
        UsageCase{"PasswordBeforeTheCommand", {"--password=x", "cat", "a.vtxt"}, "never taken"},
        UsageCase{"NoCommand", {}, "no command"},
        UsageCase{"UnknownCommand", {"open", "a.vtxt"}, "unknown command"},
        UsageCase{"UnknownOption", {"info", "a.vtxt", "--colour"}, "unknown option"},
        UsageCase{"OptionOfAnotherCommand", {"info", "a.vtxt", "--raw"}, "takes no option"},
        UsageCase{"EncryptWithoutOutput", {"encrypt", "a.txt"}, "no output"},
        UsageCase{"NoInput", {"decrypt"}, "no input"},
        UsageCase{"TwoInputs", {"cat", "a.vtxt", "b.vtxt"}, "unexpected argument"},
        UsageCase{"HintAndKeepHint", {"passwd", "a.vtxt", "--hint", "h", "--keep-hint"}, "one of"},
        UsageCase{"HintAndNoHint", {"passwd", "a.vtxt", "--hint", "h", "--no-hint"}, "one of"},
        UsageCase{"KeepHintAndNoHint", {"passwd", "a.vtxt", "--keep-hint", "--no-hint"}, "one of"},
        UsageCase{"EmptyPasswordWhenOpening", {"cat", "a.vtxt", "--allow-empty-password"}, "takes no option"},
        UsageCase{"TwoInputsToEncrypt", {"encrypt", "a", "b", "-o", "c"}, "unexpected argument"},
        UsageCase{"StandardInputTwiceInInfo", {"info", "-", "-"}, "standard input"},
        UsageCase{"PasswdOnStandardInput", {"passwd", "-"}, "in place"},
        UsageCase{"StandardInputTwice", {"decrypt", "-", "--password-file", "-"}, "both"},
        UsageCase{"MissingValue", {"decrypt", "a.vtxt", "-o"}, "needs a value"},
        UsageCase{"HintTooLong", {"encrypt", "a", "-o", "b", "--hint", std::string(128, 'h')}, "127"}};
#ifdef _WIN32
    cases.resize(5);  // the password options only: the parser is the same code
#endif
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Arguments, VtxtUsage, ::testing::ValuesIn(usageCases()),
                         [](const ::testing::TestParamInfo<UsageCase>& param) {
                             return std::string(param.param.label);
                         });

TEST_F(VtxtTool, ShowsHelpAndVersion)
{
    const ProcessResult version = runVtxt({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "vtxt 23.8.0\n");
    const ProcessResult help = runVtxt({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* command : {"encrypt", "decrypt", "cat", "info", "verify", "passwd"}) {
        EXPECT_NE(help.out.find(command), std::string::npos) << command;
        const ProcessResult commandHelp = runVtxt({command, "--help"});
        EXPECT_EQ(commandHelp.exitCode, 0) << command;
        EXPECT_EQ(commandHelp.out.find(std::string("usage: vtxt ") + command), 0u) << commandHelp.out;
    }
    EXPECT_NE(runVtxt({"help", "passwd"}).out.find("--keep-hint"), std::string::npos);
}

TEST_F(VtxtTool, RefusesAnInputOverTheEditorsLimit)
{
    // A sparse file: nothing is read, the size alone decides.
    put("big.txt", "");
    fs::resize_file(fs::u8path(path("big.txt")), 0x8000001);
    const ProcessResult run =
        runVtxt({"encrypt", path("big.txt"), "-o", path("big.vtxt"), "--password-file", passwordFile("secret")});
    EXPECT_EQ(run.exitCode, 10) << run.err;
    EXPECT_FALSE(fileExists(path("big.vtxt")));
}

#ifndef _WIN32
// ------------------------------------------------------- Linux descriptors

TEST_F(VtxtTool, ReadsThePasswordFromADescriptor)
{
    const std::string container = pinnedContainer("by descriptor");
    ProcessOptions options;
    options.extraInput = "secret\nmore lines\n";
    options.extraDescriptor = 7;
    ProcessResult run = runVtxt({"cat", container, "--password-fd", "7"}, options);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "by descriptor");
    options.extraInput = "secreT\n";
    EXPECT_EQ(runVtxt({"cat", container, "--password-fd", "7"}, options).exitCode, 35);
    run = runVtxt({"cat", container, "--password-fd", "9"});
    EXPECT_EQ(run.exitCode, 1);  // nothing open there
    EXPECT_EQ(runVtxt({"cat", container, "--password-fd", "seven"}).exitCode, 2);
}

TEST_F(VtxtTool, AsksOnTheTerminalWithoutEchoAndTwiceForANewPassword)
{
    put("plain.txt", "typed");
    ProcessOptions options;
    options.terminalAnswers = {"tty pass", "tty pass"};
    ProcessResult run = runVtxt({"encrypt", path("plain.txt"), "-o", path("doc.vtxt"), "--hint", "the hint"}, options);
    ASSERT_EQ(run.exitCode, 0) << run.err << run.terminal;
    EXPECT_NE(run.terminal.find("Password: "), std::string::npos) << run.terminal;
    EXPECT_NE(run.terminal.find("Repeat password: "), std::string::npos) << run.terminal;
    EXPECT_EQ(run.terminal.find("tty pass"), std::string::npos) << "echoed: " << run.terminal;

    options.terminalAnswers = {"tty pass"};
    run = runVtxt({"cat", path("doc.vtxt")}, options);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "typed");
    EXPECT_NE(run.terminal.find("Hint: the hint"), std::string::npos) << run.terminal;

    options.terminalAnswers = {"one", "two"};
    run = runVtxt({"encrypt", path("plain.txt"), "-o", path("other.vtxt")}, options);
    EXPECT_EQ(run.exitCode, 36);
    EXPECT_NE(run.err.find("Password and Confirm do not match."), std::string::npos) << run.err;
    EXPECT_FALSE(fileExists(path("other.vtxt")));
}

TEST_F(VtxtTool, FailsClearlyWithoutATerminalToAskOn)
{
    const std::string container = encrypt("x");
    const ProcessResult run = runVtxt({"cat", container});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("no terminal"), std::string::npos) << run.err;
}

TEST_F(VtxtTool, ShowsProgressOnlyOnATerminalForLargeInputs)
{
    put("big.txt", randomBytes(9 * 1048576, 4));
    const std::string key = passwordFile("secret");
    ProcessOptions terminal;
    terminal.errorToTerminal = true;
    ProcessResult run = runVtxt({"encrypt", path("big.txt"), "-o", path("big.vtxt"), "--password-file", key}, terminal);
    ASSERT_EQ(run.exitCode, 0) << run.terminal;
    EXPECT_NE(run.terminal.find("encrypting"), std::string::npos) << run.terminal;
    EXPECT_NE(run.terminal.find("100%"), std::string::npos) << run.terminal;
    EXPECT_NE(run.terminal.find('\r'), std::string::npos);

    run = runVtxt({"decrypt", path("big.vtxt"), "-o", path("back.txt"), "--password-file", key}, terminal);
    ASSERT_EQ(run.exitCode, 0) << run.terminal;
    EXPECT_NE(run.terminal.find("decrypting"), std::string::npos) << run.terminal;
    EXPECT_TRUE(get("back.txt") == get("big.txt"));

    // passwd shows both of its long steps.
    run = runVtxt({"passwd", path("big.vtxt"), "--password-file", key, "--new-password-file", key}, terminal);
    ASSERT_EQ(run.exitCode, 0) << run.terminal;
    EXPECT_NE(run.terminal.find("decrypting"), std::string::npos) << run.terminal;
    EXPECT_NE(run.terminal.find("saving 100%"), std::string::npos) << run.terminal;

    // Not a terminal: not a byte of progress.
    run = runVtxt({"decrypt", path("big.vtxt"), "-o", path("again.txt"), "--password-file", key});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(run.err.empty()) << run.err;
    // --quiet: none on a terminal either (verify's walk is the quickest run that shows one).
    run = runVtxt({"verify", path("big.vtxt")}, terminal);
    ASSERT_EQ(run.exitCode, 0) << run.terminal;
    EXPECT_NE(run.terminal.find("verifying"), std::string::npos) << run.terminal;
    run = runVtxt({"verify", path("big.vtxt"), "--quiet"}, terminal);
    ASSERT_EQ(run.exitCode, 0) << run.terminal;
    EXPECT_EQ(run.terminal.find('%'), std::string::npos) << run.terminal;
    // A small input on a terminal: no progress either.
    put("small.txt", "small");
    run = runVtxt({"encrypt", path("small.txt"), "-o", path("small.vtxt"), "--password-file", key}, terminal);
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.terminal.find('%'), std::string::npos) << run.terminal;
}

// --------------------------------------------------- injected I/O failures

// A directory on a file system of its own (root only), unmounted at the end.
class MountedDirectory {
public:
    MountedDirectory(const std::string& where, const std::string& options) : path_(where)
    {
        fs::create_directories(where);
        mounted_ = geteuid() == 0 && mount("tmpfs", where.c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~MountedDirectory()
    {
        if (mounted_) {
            umount2(path_.c_str(), MNT_DETACH);
        }
    }
    bool mounted() const
    {
        return mounted_;
    }

private:
    std::string path_;
    bool mounted_ = false;
};

TEST_F(VtxtTool, LeavesNothingInAnOutputDirectoryThatCannotBeWritten)
{
    const std::string container = encrypt("text");
    const std::string key = passwordFile("secret");
    const std::string locked = path("locked");
    MountedDirectory readOnly(locked, "ro,size=1m");
    if (!readOnly.mounted()) {
        fs::create_directories(locked);
        chmod(locked.c_str(), 0555);
        if (access(locked.c_str(), W_OK) == 0) {
            GTEST_SKIP() << "cannot make a directory unwritable here";
        }
    }
    ProcessResult run = runVtxt({"decrypt", container, "-o", joinPath(locked, "out.txt"), "--password-file", key});
    EXPECT_EQ(run.exitCode, 16) << run.err;
    EXPECT_NE(run.err.find("Save Error"), std::string::npos) << run.err;
    put("plain.txt", "text");
    run = runVtxt({"encrypt", path("plain.txt"), "-o", joinPath(locked, "out.vtxt"), "--password-file", key});
    EXPECT_EQ(run.exitCode, 16) << run.err;
    EXPECT_TRUE(listDirectory(locked).empty());
    chmod(locked.c_str(), 0755);
}

TEST_F(VtxtTool, LeavesNothingOnAFullFileSystem)
{
    const std::string full = path("full");
    MountedDirectory small(full, "size=2m");
    if (!small.mounted()) {
        GTEST_SKIP() << "mounting a small file system needs root";
    }
    const std::string text = randomBytes(3 * 1048576, 12);
    const std::string container = encrypt(text);
    const std::string key = passwordFile("secret");
    // The text does not fit: the write fails half-way.
    ProcessResult run = runVtxt({"decrypt", container, "-o", joinPath(full, "out.txt"), "--password-file", key});
    EXPECT_EQ(run.exitCode, 17) << run.err;
    EXPECT_NE(run.err.find("Write Error"), std::string::npos) << run.err;
    EXPECT_TRUE(listDirectory(full).empty());
    // Encrypting refuses before writing: less than the text and 1 MiB is free.
    put("plain.txt", text);
    run = runVtxt({"encrypt", path("plain.txt"), "-o", joinPath(full, "out.vtxt"), "--password-file", key});
    EXPECT_EQ(run.exitCode, 18) << run.err;
    EXPECT_TRUE(listDirectory(full).empty());
    // passwd without room for the new file keeps the old one as it was.
    const std::string smaller = encrypt(randomBytes(600 * 1024, 13), "smaller.vtxt");
    fs::copy_file(fs::u8path(smaller), fs::u8path(joinPath(full, "doc.vtxt")));
    const std::vector<std::uint8_t> before = readBytes(joinPath(full, "doc.vtxt"));
    run = runVtxt({"passwd", joinPath(full, "doc.vtxt"), "--password-file", key, "--new-password-file", key});
    EXPECT_EQ(run.exitCode, 18) << run.err;
    EXPECT_EQ(readBytes(joinPath(full, "doc.vtxt")), before);
    EXPECT_EQ(listDirectory(full), (std::vector<std::string>{"doc.vtxt"}));
}

// Interrupted half-way, the tool removes its temporary output before it ends.
TEST_F(VtxtTool, LeavesNoTemporaryFileWhenInterrupted)
{
    const std::string container = encrypt(randomBytes(12 * 1048576, 14));
    const std::string key = passwordFile("secret");
    const std::string out = path("out");
    fs::create_directories(out);
    const std::string binary = vtxtPath();
    const std::string target = joinPath(out, "text.txt");
    std::vector<const char*> argv{binary.c_str(), "decrypt",         container.c_str(), "-o",
                                  target.c_str(), "--password-file", key.c_str(),       nullptr};
    const pid_t child = fork();
    if (child == 0) {
        execv(argv[0], const_cast<char* const*>(argv.data()));
        _exit(127);
    }
    ASSERT_GT(child, 0);
    // The temporary file appears only after the text has been deciphered; the
    // interrupt must come while it is being written or just after.
    bool seen = false;
    for (int tries = 0; tries < 60000 && !seen; ++tries) {
        seen = !listDirectory(out).empty();
        if (!seen) {
            usleep(500);
        }
    }
    kill(child, SIGINT);
    int status = 0;
    waitpid(child, &status, 0);
    const bool finishedFirst = listDirectory(out) == std::vector<std::string>{"text.txt"};
    if (!seen || (WIFEXITED(status) && WEXITSTATUS(status) == 0) || finishedFirst) {
        GTEST_SKIP() << "the run ended before it could be interrupted";
    }
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT);
    EXPECT_TRUE(listDirectory(out).empty()) << listDirectory(out)[0];
}

// Ctrl-C while passwd replaces the file waits for the replacement; the run then
// ends by the interrupt, but says that the file now has the new password.
TEST_F(VtxtTool, ReportsAnInterruptThatCameAfterTheFileWasChanged)
{
#if defined(__SANITIZE_ADDRESS__)
    constexpr std::size_t TEXT_BYTES = 2u << 20;  // the sanitizers make each pass ten times slower
#else
    constexpr std::size_t TEXT_BYTES = 6u << 20;
#endif
    const std::string container = encrypt(randomBytes(TEXT_BYTES, 15));
    const std::string oldKey = passwordFile("secret\n", "old.txt");
    const std::string newKey = passwordFile("changed\n", "new.txt");
    const std::vector<std::string> before = entries();
    int errors[2];
    ASSERT_EQ(pipe(errors), 0);
    const std::string binary = vtxtPath();
    std::vector<const char*> argv{binary.c_str(),    "passwd",       container.c_str(),
                                  "--password-file", oldKey.c_str(), "--new-password-file",
                                  newKey.c_str(),    nullptr};
    const pid_t child = fork();
    if (child == 0) {
        dup2(errors[1], 2);
        close(errors[0]);
        execv(argv[0], const_cast<char* const*>(argv.data()));
        _exit(127);
    }
    ASSERT_GT(child, 0);
    close(errors[1]);
    // The temporary file beside the old one is made before any password is
    // read, but it receives its first bytes only once the text has been
    // deciphered and the replacement has begun.
    const auto writing = [&]() {
        for (const std::string& name : entries()) {
            struct stat status {};
            if (std::find(before.begin(), before.end(), name) == before.end() &&
                stat(path(name).c_str(), &status) == 0 && status.st_size > 0) {
                return true;
            }
        }
        return false;
    };
    bool saving = false;
    for (int tries = 0; tries < 120000 && !saving; ++tries) {
        saving = writing();
        if (!saving) {
            usleep(500);
        }
    }
    kill(child, SIGINT);
    int status = 0;
    waitpid(child, &status, 0);
    std::string err;
    char buffer[4096];
    ssize_t got = 0;
    while ((got = read(errors[0], buffer, sizeof buffer)) > 0) {
        err.append(buffer, static_cast<std::size_t>(got));
    }
    close(errors[0]);
    if (!saving || (WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
        GTEST_SKIP() << "the run ended before it could be interrupted";
    }
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT);
    EXPECT_NE(err.find(container + ": interrupted after the file was changed"), std::string::npos) << err;
    EXPECT_EQ(runVtxt({"verify", container, "--password-file", newKey}).exitCode, 0);
    EXPECT_EQ(entries(), before);
}

TEST_F(VtxtTool, ReportsAFailedWriteToStandardOutput)
{
    const std::string container = encrypt("to nowhere");
    ProcessOptions options;
    options.outputFile = "/dev/full";
    const ProcessResult run = runVtxt({"cat", container, "--password-file", passwordFile("secret")}, options);
    EXPECT_EQ(run.exitCode, 17) << run.err;
    EXPECT_NE(run.err.find("Write Error"), std::string::npos) << run.err;
}

TEST_F(VtxtTool, CreatesDecryptedFilesForTheOwnerOnly)
{
    const std::string container = encrypt("private");
    ASSERT_EQ(
        runVtxt({"decrypt", container, "-o", path("out.txt"), "--password-file", passwordFile("secret")}).exitCode, 0);
    struct stat status {};
    ASSERT_EQ(stat(path("out.txt").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
}

// Sanitizers keep memory of their own; the bound below is for the product build.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
TEST_F(VtxtTool, HoldsOneCopyOfALargeTextWhileEncrypting)
{
    constexpr std::size_t TEXT_BYTES = 24u << 20;
    put("plain.txt", randomBytes(TEXT_BYTES, 5));
    passwordFile("secret\n");
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        const std::string binary = vtxtPath();
        const std::string input = path("plain.txt");
        const std::string output = path("doc.vtxt");
        const std::string key = path("password.txt");
        execl(binary.c_str(), binary.c_str(), "encrypt", input.c_str(), "-o", output.c_str(), "--password-file",
              key.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    ASSERT_EQ(wait4(child, &status, 0, &usage), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    // The text once, the three block buffers of at most 1.5 MiB each (the
    // index four bytes per byte) and the program itself; a second copy of the
    // text would add 24 MiB.
    const double peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    EXPECT_LT(peakMiB, 24.0 + 9.0 + 8.0) << "peak resident memory " << peakMiB << " MiB";
}
#endif
#endif

}  // namespace
