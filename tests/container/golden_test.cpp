#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "container/container_io.h"
#include "container/golden_cases.h"
#include "support/hex.h"
#include "support/test_support.h"

namespace {

struct ManifestEntry {
    ResultCode expected = RESULT_OK;
    std::u16string password;
    std::vector<std::uint8_t> text;
};

std::map<std::string, ManifestEntry> readManifest()
{
    const std::vector<std::uint8_t> bytes = readBytes(joinPath(sourcePath(GOLDEN_FOLDER), GOLDEN_MANIFEST));
    std::stringstream stream(std::string(bytes.begin(), bytes.end()));
    std::map<std::string, ManifestEntry> entries;
    std::string line;
    while (std::getline(stream, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::stringstream fields(line);
        std::string name;
        std::string code;
        std::string password;
        std::string text;
        std::getline(fields, name, '\t');
        std::getline(fields, code, '\t');
        std::getline(fields, password, '\t');
        std::getline(fields, text, '\t');
        ManifestEntry entry;
        entry.expected = std::stoi(code);
        if (password != "-") {
            const std::vector<std::uint8_t> utf8 = bytesFromHex(password);
            entry.password = toUtf16(std::string(utf8.begin(), utf8.end()));
        }
        if (text != "-") {
            entry.text = bytesFromHex(text);
        }
        entries[name] = entry;
    }
    return entries;
}

TEST(GoldenContainers, EachFileOpensWithItsExpectedCodeAndText)
{
    const std::map<std::string, ManifestEntry> manifest = readManifest();
    const std::string folder = sourcePath(GOLDEN_FOLDER);
    std::set<std::string> seen;
    for (const std::string& name : listDirectory(folder)) {
        if (name == GOLDEN_MANIFEST) {
            continue;
        }
        const auto entry = manifest.find(name);
        ASSERT_NE(entry, manifest.end()) << name << " is not in the manifest";
        seen.insert(name);
        const OpenOutcome outcome = openAndDecrypt(joinPath(folder, name), entry->second.password);
        EXPECT_EQ(outcome.code, entry->second.expected) << name;
        if (entry->second.expected == RESULT_OK) {
            EXPECT_EQ(outcome.text, entry->second.text) << name;
        }
    }
    for (const auto& [name, entry] : manifest) {
        EXPECT_TRUE(seen.count(name) == 1) << name << " is listed but missing";
    }
}

// The committed files are what the writer produces today: a change in the
// writer or in the key setup that would alter stored bytes shows up here.
TEST(GoldenContainers, WriterStillProducesEveryFile)
{
    const std::map<std::string, ManifestEntry> manifest = readManifest();
    const std::string folder = sourcePath(GOLDEN_FOLDER);
    for (const GoldenCase& c : goldenCases()) {
        EXPECT_EQ(readBytes(joinPath(folder, c.name)), c.bytes) << c.name;
        const auto entry = manifest.find(c.name);
        ASSERT_NE(entry, manifest.end()) << c.name;
        EXPECT_EQ(entry->second.expected, c.expected) << c.name;
        EXPECT_EQ(entry->second.text, c.text) << c.name;
    }
}

}  // namespace

namespace {

// The hex dump in docs/format.md: "OFFSET: HH HH ...  text" lines, with "*"
// standing for repeated all-zero lines up to the next offset.
std::vector<std::uint8_t> bytesOfDocumentedExample()
{
    const std::vector<std::uint8_t> doc = readBytes(sourcePath("docs/format.md"));
    std::stringstream stream(std::string(doc.begin(), doc.end()));
    std::vector<std::uint8_t> bytes;
    std::string line;
    bool gap = false;
    while (std::getline(stream, line)) {
        if (line == "*") {
            gap = true;
            continue;
        }
        if (line.size() < 10 || line[8] != ':' || line.find_first_not_of("0123456789abcdef") != 8) {
            continue;
        }
        const std::size_t offset = std::stoul(line.substr(0, 8), nullptr, 16);
        if (gap) {
            bytes.resize(offset, 0);
            gap = false;
        }
        EXPECT_EQ(offset, bytes.size()) << line;
        const std::vector<std::uint8_t> row = bytesFromHex(line.substr(10, 16 * 3));
        bytes.insert(bytes.end(), row.begin(), row.end());
    }
    return bytes;
}

TEST(GoldenContainers, FormatDescriptionShowsTheExampleFileAsItIs)
{
    const std::vector<std::uint8_t> shown = bytesOfDocumentedExample();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown, readBytes(joinPath(sourcePath(GOLDEN_FOLDER), "example-hello.vtxt")));
    const OpenOutcome outcome = openAndDecrypt(joinPath(sourcePath(GOLDEN_FOLDER), "example-hello.vtxt"), u"pw");
    ASSERT_EQ(outcome.code, RESULT_OK);
    EXPECT_EQ(std::string(outcome.text.begin(), outcome.text.end()), "Hello");
}

}  // namespace
