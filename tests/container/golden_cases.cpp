#include "container/golden_cases.h"

#include <string>

#include "cipher/checksum.h"
#include "container/container_writer.h"
#include "container/container_header.h"
#include "platform/byte_order.h"
#include "support/hex.h"

namespace {

const char* const SAMPLE = "The quick brown fox jumps over the lazy dog. 0123456789";

ContainerPlan current(std::uint16_t scheme = 3)
{
    ContainerPlan plan;
    plan.cipherScheme = scheme;
    plan.password = u"golden";
    plan.hint = u"the usual";
    plan.text = bytesOf(SAMPLE);
    return plan;
}

ContainerPlan legacy(std::uint32_t generation, std::uint16_t layoutVersion)
{
    ContainerPlan plan;
    plan.generation = generation;
    plan.layoutVersion = layoutVersion;
    plan.mixRounds = 4096 + 3000;
    plan.stirRounds = plan.mixRounds;
    plan.scheduleRounds = 256 + 500;
    plan.password = u"old";
    plan.hint = u"from long ago";
    plan.text = bytesOf(SAMPLE);
    return plan;
}

std::vector<std::uint8_t> multiBlockText(std::size_t n)
{
    std::string text;
    while (text.size() < n) {
        text += SAMPLE;
        text += '\n';
    }
    text.resize(n);
    return bytesOf(text);
}

GoldenCase opens(const std::string& name, const ContainerPlan& plan)
{
    return GoldenCase{name, writeContainerBytes(plan), plan.password, RESULT_OK, plan.text};
}

GoldenCase fails(const std::string& name, std::vector<std::uint8_t> bytes, const std::u16string& password,
                 ResultCode expected)
{
    return GoldenCase{name, std::move(bytes), password, expected, {}};
}

std::string utf8Of(const std::u16string& text)
{
    std::string out;
    for (const char16_t unit : text) {
        // The golden passwords are ASCII or Latin-1.
        if (unit < 0x80) {
            out += static_cast<char>(unit);
        } else {
            out += static_cast<char>(0xC0 | (unit >> 6));
            out += static_cast<char>(0x80 | (unit & 0x3F));
        }
    }
    return out;
}

}  // namespace

std::vector<GoldenCase> goldenCases()
{
    std::vector<GoldenCase> cases;

    {
        // The worked example of the format description.
        ContainerPlan plan = current();
        plan.flags = HEADER_FLAG_BASE | HEADER_FLAG_SHORT_TEXT;
        plan.password = u"pw";
        plan.hint = u"greeting";
        plan.text = bytesOf("Hello");
        for (std::size_t k = 0; k < plan.padding.size(); ++k) {
            plan.padding[k] = static_cast<std::uint8_t>(0x9E ^ (k * 37));
        }
        cases.push_back(opens("example-hello.vtxt", plan));
    }
    cases.push_back(opens("current-scheme3.vtxt", current(3)));
    cases.push_back(opens("current-scheme2.vtxt", current(2)));
    cases.push_back(opens("current-scheme1.vtxt", current(1)));
    cases.push_back(opens("current-scheme0.vtxt", current(0)));
    {
        ContainerPlan plan = current();
        plan.shuffleLevel = 0;
        cases.push_back(opens("current-no-shuffle.vtxt", plan));
    }
    {
        ContainerPlan plan = current();
        plan.flags = HEADER_FLAG_BASE | HEADER_FLAG_SHORT_TEXT;
        plan.text.clear();
        for (std::size_t k = 0; k < plan.padding.size(); ++k) {
            plan.padding[k] = static_cast<std::uint8_t>(31 * k + 5);
        }
        cases.push_back(opens("current-empty-text.vtxt", plan));
        plan.text = bytesOf("thirty-one bytes, padded to 32");
        plan.text.push_back('!');
        cases.push_back(opens("current-short-text-31-bytes.vtxt", plan));
    }
    {
        ContainerPlan plan = current();
        plan.blockSize = 2048;
        plan.text = multiBlockText(5000);
        cases.push_back(opens("current-three-blocks.vtxt", plan));
    }
    {
        ContainerPlan plan = current();
        plan.entryName = u"vellic_w.txt";
        plan.text.clear();
        for (const char c : std::string("UTF-16 text \xE9")) {
            plan.text.push_back(static_cast<std::uint8_t>(c));
            plan.text.push_back(0);
        }
        cases.push_back(opens("current-utf16-entry.vtxt", plan));
    }

    cases.push_back(opens("generation1-layout512.vtxt", legacy(1, 512)));
    cases.push_back(opens("generation1-layout256-no-shuffle.vtxt", legacy(1, 256)));
    {
        ContainerPlan plan = legacy(1, 528);
        plan.blockSize = 4096;  // level 4096 >> 8 = 16
        plan.text = multiBlockText(9000);
        cases.push_back(opens("generation1-layout528-three-blocks.vtxt", plan));
    }
    cases.push_back(opens("generation0-layout512.vtxt", legacy(0, 512)));
    {
        ContainerPlan plan = legacy(0, 512);
        plan.legacyChecksum = false;
        cases.push_back(opens("generation0-unchecked-header.vtxt", plan));
    }
    {
        ContainerPlan plan = legacy(0, 512);
        plan.blockSize = 2048;
        plan.text = multiBlockText(5000);
        plan.blockLengths = {1000, 2048, 7, 1945};
        cases.push_back(opens("generation0-short-blocks-chained-checksum.vtxt", plan));
    }

    const ContainerPlan base = current();
    const std::vector<std::uint8_t> good = writeContainerBytes(base);
    const ContainerLayout layout = layoutOf(base);
    const std::size_t trailer = layout.trailerOffset;
    cases.push_back(fails("wrong-password.vtxt", good, u"not golden", RESULT_WRONG_PASSWORD));
    {
        std::vector<std::uint8_t> b = good;
        b[layout.payloadOffset + 8 + 10] ^= 0x40;
        cases.push_back(fails("damaged-ciphertext.vtxt", b, base.password, RESULT_CHECKSUM_FAILED));
    }
    {
        std::vector<std::uint8_t> b = good;
        b[layout.payloadOffset + 4] ^= 0x01;
        cases.push_back(fails("damaged-block-checksum.vtxt", b, base.password, RESULT_CHECKSUM_FAILED));
    }
    {
        std::vector<std::uint8_t> b = good;
        b[layout.payloadOffset] ^= 0x01;
        cases.push_back(fails("damaged-block-length.vtxt", b, base.password, RESULT_CHECKSUM_FAILED));
    }
    {
        std::vector<std::uint8_t> b = good;
        b[trailer] = 1;
        cases.push_back(fails("damaged-end-marker.vtxt", b, base.password, RESULT_CHECKSUM_FAILED));
    }
    {
        std::vector<std::uint8_t> b = good;
        b[trailer + 4] ^= 0x01;
        cases.push_back(fails("damaged-trailer-sum.vtxt", b, base.password, RESULT_CHECKSUM_FAILED));
    }
    {
        const ContainerPlan plan = current(0);
        std::vector<std::uint8_t> b = writeContainerBytes(plan);
        b[layoutOf(plan).trailerOffset + 4] ^= 0x01;
        cases.push_back(fails("scheme0-damaged-trailer-sum.vtxt", b, plan.password, RESULT_WRONG_PASSWORD));
    }
    {
        std::vector<std::uint8_t> b = good;
        b[trailer + 8] ^= 0x01;
        b[trailer + 15] ^= 0x80;
        cases.push_back(GoldenCase{"damaged-trailer-copies-harmless.vtxt", b, base.password, RESULT_OK, base.text});
    }
    {
        std::vector<std::uint8_t> b = good;
        b.resize(trailer + 8);
        cases.push_back(GoldenCase{"trailer-cut-after-8-bytes.vtxt", b, base.password, RESULT_OK, base.text});
        b.resize(trailer + 7);
        cases.push_back(fails("trailer-cut-after-7-bytes.vtxt", b, base.password, RESULT_UNEXPECTED_EOF));
        b.resize(layout.payloadOffset + 8 + 20);
        cases.push_back(fails("block-cut-short.vtxt", b, base.password, RESULT_UNEXPECTED_EOF));
        b.resize(1000);
        cases.push_back(fails("header-cut-short.vtxt", b, base.password, RESULT_BAD_FORMAT));
    }
    {
        std::vector<std::uint8_t> b = good;
        b[608] ^= 0x20;  // a letter of the hint
        cases.push_back(fails("damaged-header-byte.vtxt", b, base.password, RESULT_CHECKSUM_FAILED));
    }
    {
        std::vector<std::uint8_t> b = good;
        b[3] = 3;
        cases.push_back(fails("generation-3.vtxt", b, base.password, RESULT_BAD_FORMAT));
    }
    {
        ContainerPlan plan = current();
        plan.cipherScheme = 4;
        cases.push_back(fails("newer-scheme-4.vtxt", writeContainerBytes(plan), plan.password, RESULT_NEWER_VERSION));
    }
    return cases;
}

std::string manifestLine(const GoldenCase& c)
{
    const std::string password = utf8Of(c.password);
    const std::string passwordHex =
        password.empty() ? "-" : hexFromBytes(std::vector<std::uint8_t>(password.begin(), password.end()));
    const std::string textHex = c.text.empty() ? "-" : hexFromBytes(c.text);
    return c.name + "\t" + std::to_string(c.expected) + "\t" + passwordHex + "\t" + textHex;
}
