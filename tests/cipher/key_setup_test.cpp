#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "cipher/key_setup.h"
#include "container/session_fixture.h"
#include "container/container_session.h"
#include "support/hex.h"
#include "support/test_support.h"

namespace {

std::vector<std::uint32_t> wordsFromList(const std::string& list)
{
    std::vector<std::uint32_t> words;
    std::stringstream stream(list);
    std::string item;
    while (std::getline(stream, item, ',')) {
        words.push_back(static_cast<std::uint32_t>(std::stoul(item, nullptr, 16)));
    }
    return words;
}

std::vector<std::string> vectorLines(const std::string& firstField)
{
    const std::vector<std::uint8_t> bytes = readBytes(sourcePath("tests/data/cipher/key_vectors.txt"));
    std::stringstream stream(std::string(bytes.begin(), bytes.end()));
    std::vector<std::string> lines;
    std::string line;
    bool inFoldSection = false;
    while (std::getline(stream, line)) {
        if (line.rfind("# fold", 0) == 0) {
            inFoldSection = true;
        }
        if (line.empty() || line[0] == '#') {
            continue;
        }
        if ((firstField == "fold") == inFoldSection) {
            lines.push_back(line);
        }
    }
    return lines;
}

// The first steps of a generator, taken on a copy so the state is left alone.
std::vector<std::uint32_t> firstOutputs(const std::uint32_t* table, std::uint32_t i, std::uint32_t j,
                                        std::uint32_t mask, int count)
{
    std::vector<std::uint32_t> copy(table, table + CIPHER_TABLE_CAPACITY);
    std::vector<std::uint32_t> out;
    for (int k = 0; k < count; ++k) {
        out.push_back(keystreamStep(copy.data(), &i, &j, mask));
    }
    return out;
}

std::vector<std::uint32_t> keyOutputs(const ContainerSession& session, int count)
{
    const CipherState& state = session.cipher;
    return firstOutputs(state.keyTable, state.keyI, state.keyJ, state.tableMask, count);
}

std::vector<std::uint32_t> shuffleOutputs(const ContainerSession& session, int count)
{
    const CipherState& state = session.cipher;
    return firstOutputs(state.shuffleTable, state.shuffleI, state.shuffleJ, state.tableMask, count);
}

bool isPermutation(const std::uint32_t* table, std::uint32_t mask)
{
    std::vector<std::uint32_t> sorted(table, table + mask + 1);
    std::sort(sorted.begin(), sorted.end());
    for (std::uint32_t v = 0; v <= mask; ++v) {
        if (sorted[v] != v) {
            return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------
// The fold

TEST(FoldDigest, MatchesVectors)
{
    const std::vector<std::string> lines = vectorLines("fold");
    ASSERT_FALSE(lines.empty());
    for (const std::string& line : lines) {
        std::stringstream fields(line);
        int variant = 0;
        std::string inputHex;
        std::uint32_t wordCount = 0;
        std::uint32_t steps = 0;
        std::string expected;
        fields >> variant >> inputHex >> wordCount >> steps >> expected;
        const std::vector<std::uint8_t> input = bytesFromHex(inputHex);
        std::vector<std::uint32_t> words(wordCount, 0xDEADBEEF);
        foldDigest(input.data(), input.size(), words.data(), wordCount, steps,
                   variant == 3 ? FoldVariant::ThreeTerm : FoldVariant::TwoTerm);
        EXPECT_EQ(words, wordsFromList(expected)) << line;
    }
}

TEST(FoldDigest, WorkedExampleOfThreeTermFoldWithManySteps)
{
    const std::uint8_t abc[] = {'a', 'b', 'c'};
    std::uint32_t words[16];
    foldDigest(abc, 3, words, 16, 34567, FoldVariant::ThreeTerm);
    const std::uint32_t expected[16] = {0xFF54F9FC, 0x9A696237, 0x1F626E62, 0xFE22C93D, 0xBF16FCD2, 0x64C586F7,
                                        0xBFE512B7, 0xDFBB7128, 0x6CF447A3, 0x00A5B6A8, 0xC5BAA4A7, 0xF100AEE8,
                                        0x572E2755, 0x181BDE8A, 0xDF030B97, 0xAF236024};
    EXPECT_TRUE(std::equal(words, words + 16, expected));
}

TEST(FoldDigest, WorkedExampleOfThreeTermFoldWithSixteenSteps)
{
    const std::uint8_t abc[] = {'a', 'b', 'c'};
    std::uint32_t words[16];
    foldDigest(abc, 3, words, 16, 16, FoldVariant::ThreeTerm);
    for (std::uint32_t k = 0; k < 16; ++k) {
        EXPECT_EQ(words[k], k % 3 == 2 ? 0x00000C60u : 0x00000C20u) << "word " << k;
    }
}

TEST(FoldDigest, EmptyInputLeavesEveryWordZero)
{
    std::uint32_t words[64];
    std::fill(std::begin(words), std::end(words), 0xFFFFFFFFu);
    foldDigest(nullptr, 0, words, 64, 1000, FoldVariant::TwoTerm);
    EXPECT_TRUE(std::all_of(std::begin(words), std::end(words), [](std::uint32_t w) { return w == 0; }));
}

// ---------------------------------------------------------------------------
// The generator step and the schedule

TEST(KeystreamStep, FirstStepsOnAnIdentityTable)
{
    std::uint32_t table[CIPHER_TABLE_CAPACITY];
    for (std::uint32_t v = 0; v < 256; ++v) {
        table[v] = v;
    }
    std::uint32_t i = 0;
    std::uint32_t j = 0;
    // i=1, j=1: nothing moves, output table[2].
    EXPECT_EQ(keystreamStep(table, &i, &j, 255), 2u);
    // i=2, j=3: 2 and 3 trade places, output table[3+2].
    EXPECT_EQ(keystreamStep(table, &i, &j, 255), 5u);
    EXPECT_EQ(table[2], 3u);
    EXPECT_EQ(table[3], 2u);
    EXPECT_EQ(i, 2u);
    EXPECT_EQ(j, 3u);
}

TEST(KeystreamStep, IndicesWrapAtTheMaskAndTableStaysAPermutation)
{
    for (const std::uint32_t mask : {255u, 1023u}) {
        std::uint32_t table[CIPHER_TABLE_CAPACITY] = {};
        for (std::uint32_t v = 0; v <= mask; ++v) {
            table[v] = mask - v;
        }
        std::uint32_t i = 0;
        std::uint32_t j = 0;
        for (int k = 0; k < 5000; ++k) {
            ASSERT_LE(keystreamStep(table, &i, &j, mask), mask);
            ASSERT_LE(i, mask);
            ASSERT_LE(j, mask);
        }
        EXPECT_TRUE(isPermutation(table, mask)) << mask;
        if (mask == 255) {
            EXPECT_TRUE(
                std::all_of(table + 256, table + CIPHER_TABLE_CAPACITY, [](std::uint32_t v) { return v == 0; }));
        }
    }
}

TEST(GeneratorSteps, GiveTheOutputsAndStateOfSingleSteps)
{
    // Starting entries on, just before and at the end of a run of eight, and
    // step counts that end before, on and past a run.
    for (const std::uint32_t mask : {255u, 1023u}) {
        for (const std::uint32_t start : {0u, 5u, 6u, 7u, mask - 3, mask}) {
            for (const std::uint32_t count : {0u, 1u, 3u, 8u, 13u, 1000u}) {
                std::uint32_t single[CIPHER_TABLE_CAPACITY] = {};
                for (std::uint32_t v = 0; v <= mask; ++v) {
                    single[v] = (v * 173 + 29) & mask;
                }
                std::uint32_t passes[CIPHER_TABLE_CAPACITY];
                std::memcpy(passes, single, sizeof passes);
                std::uint32_t i1 = start;
                std::uint32_t j1 = 9;
                std::uint32_t i2 = start;
                std::uint32_t j2 = 9;
                std::vector<std::uint32_t> expected;
                for (std::uint32_t k = 0; k < count; ++k) {
                    expected.push_back(generatorStep(single, i1, j1, mask));
                }
                std::vector<std::uint32_t> got(count + 5, 0xFFFFFFFFu);
                generatorSteps(passes, i2, j2, mask, 5, count + 5,
                               [&](std::uint32_t k, std::uint32_t output) { got[k] = output; });
                const std::string where =
                    std::to_string(mask) + "/" + std::to_string(start) + "/" + std::to_string(count);
                EXPECT_TRUE(std::equal(expected.begin(), expected.end(), got.begin() + 5)) << where;
                EXPECT_EQ(i2, i1) << where;
                EXPECT_EQ(j2, j1) << where;
                EXPECT_EQ(std::memcmp(single, passes, sizeof passes), 0) << where;
            }
        }
    }
}

TEST(ScheduleKey, EmptyBytesChangeNothing)
{
    CipherState state{};
    state.tableMask = 255;
    for (std::uint32_t v = 0; v < 256; ++v) {
        state.keyTable[v] = v;
    }
    state.scheduleJ = 17;
    const CipherState before = state;
    scheduleKey(&state, nullptr, 0, 1000);
    EXPECT_EQ(std::memcmp(&before, &state, sizeof state), 0);
}

TEST(ScheduleKey, FirstStepsByHandAndScheduleJCarriesOver)
{
    CipherState state{};
    state.tableMask = 255;
    for (std::uint32_t v = 0; v < 256; ++v) {
        state.keyTable[v] = v;
    }
    const std::uint8_t bytes[] = {10, 20};
    scheduleKey(&state, bytes, 2, 2);
    // k=0: j = 0+0+10 = 10, swap [0],[10]. k=1: j = 10+1+20 = 31, swap [1],[31].
    EXPECT_EQ(state.scheduleJ, 31u);
    EXPECT_EQ(state.keyTable[0], 10u);
    EXPECT_EQ(state.keyTable[10], 0u);
    EXPECT_EQ(state.keyTable[1], 31u);
    EXPECT_EQ(state.keyTable[31], 1u);
    // A new pass starts its counter at 0 but keeps scheduleJ: j = 31+10+10 = 51.
    scheduleKey(&state, bytes, 2, 1);
    EXPECT_EQ(state.scheduleJ, 51u);
    EXPECT_EQ(state.keyTable[0], 51u);
    EXPECT_EQ(state.keyTable[51], 10u);
    EXPECT_EQ(state.keyI, 0u);
    EXPECT_EQ(state.keyJ, 0u);
}

// The schedule step by step, as plainly as it can be written.
void modelSchedule(CipherState* state, const std::vector<std::uint8_t>& bytes, std::uint32_t count)
{
    if (bytes.empty()) {
        return;
    }
    for (std::uint32_t k = 0; k < count; ++k) {
        const std::uint32_t i = k % (state->tableMask + 1);
        state->scheduleJ = (state->scheduleJ + state->keyTable[i] + bytes[k % bytes.size()]) % (state->tableMask + 1);
        std::swap(state->keyTable[i], state->keyTable[state->scheduleJ]);
    }
}

TEST(ScheduleKey, MatchesTheStepByStepModel)
{
    struct Case {
        std::uint32_t mask;
        std::size_t length;
        std::uint32_t count;
    };
    // Key strings shorter than a pass of steps and longer than key material
    // take the plain loop; counts that are no multiple of a pass end in it.
    const Case cases[] = {{255, 3, 1000},     {255, 7, 9},        {255, 8, 8},       {255, 32, 3},
                          {255, 33, 8195},    {1023, 256, 8192},  {1023, 30, 30},    {1023, 46, 1029},
                          {1023, 1024, 2050}, {1023, 1025, 2050}, {1023, 510, 24575}};
    for (const Case& c : cases) {
        CipherState state{};
        state.tableMask = c.mask;
        for (std::uint32_t v = 0; v <= c.mask; ++v) {
            state.keyTable[v] = (v * 37 + 11) & c.mask;
        }
        state.scheduleJ = 5;
        std::vector<std::uint8_t> bytes(c.length);
        for (std::size_t k = 0; k < c.length; ++k) {
            bytes[k] = static_cast<std::uint8_t>(k * 101 + 7);
        }
        CipherState expected = state;
        modelSchedule(&expected, bytes, c.count);
        scheduleKey(&state, bytes.data(), bytes.size(), c.count);
        EXPECT_EQ(state.scheduleJ, expected.scheduleJ) << c.mask << "/" << c.length << "/" << c.count;
        EXPECT_EQ(std::memcmp(state.keyTable, expected.keyTable, sizeof state.keyTable), 0)
            << c.mask << "/" << c.length << "/" << c.count;
    }
}

// ---------------------------------------------------------------------------
// Key setup

struct KeyCase {
    std::uint16_t scheme;
    std::u16string password;
    std::vector<std::uint8_t> salt;
    std::uint32_t mixRounds;
    std::uint32_t scheduleRounds;
    std::uint32_t stirRounds;
};

void applyCase(ContainerSession* session, const KeyCase& c)
{
    session->header.cipherScheme = c.scheme;
    std::copy(c.salt.begin(), c.salt.end(), session->header.salt);
    session->header.mixRounds = c.mixRounds;
    session->header.scheduleRounds = c.scheduleRounds;
    session->header.stirRounds = c.stirRounds;
}

TEST(SetupKey, MatchesIndependentModelForEveryScheme)
{
    const std::vector<std::string> lines = vectorLines("key");
    ASSERT_FALSE(lines.empty());
    for (const std::string& line : lines) {
        std::stringstream fields(line);
        KeyCase c;
        std::string passwordHex;
        std::string saltHex;
        std::uint32_t scheduleJ = 0;
        std::string keyList;
        std::string shuffleList;
        fields >> c.scheme >> passwordHex >> saltHex >> c.mixRounds >> c.scheduleRounds >> c.stirRounds >> scheduleJ >>
            keyList >> shuffleList;
        const std::vector<std::uint8_t> utf8 =
            passwordHex == "-" ? std::vector<std::uint8_t>{} : bytesFromHex(passwordHex);
        c.password = toUtf16(std::string(utf8.begin(), utf8.end()));
        c.salt = bytesFromHex(saltHex);

        SessionPtr session = makeSession();
        applyCase(session.get(), c);
        session->result = RESULT_OK;
        EXPECT_EQ(setupKey(session.get(), c.password.c_str()), RESULT_OK);
        EXPECT_EQ(session->cipher.scheduleJ, scheduleJ) << line.substr(0, 60);
        EXPECT_EQ(keyOutputs(*session, 24), wordsFromList(keyList)) << line.substr(0, 60);
        EXPECT_EQ(shuffleOutputs(*session, 24), wordsFromList(shuffleList)) << line.substr(0, 60);
    }
}

KeyCase baseCase(std::uint16_t scheme)
{
    return KeyCase{scheme, u"Tr0ub4dor&3", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}, 16400, 8200, 8300};
}

CipherState stateAfterSetup(const KeyCase& c, const char16_t* password)
{
    SessionPtr session = makeSession();
    applyCase(session.get(), c);
    setupKey(session.get(), password);
    return session->cipher;
}

bool sameState(const CipherState& a, const CipherState& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

class SetupKeyPerScheme : public ::testing::TestWithParam<std::uint16_t> {};

TEST_P(SetupKeyPerScheme, LeavesBothTablesPermutationsOfTheirSize)
{
    const KeyCase c = baseCase(GetParam());
    const CipherState state = stateAfterSetup(c, c.password.c_str());
    const std::uint32_t expectedMask = GetParam() == 3 ? 1023 : 255;
    EXPECT_EQ(state.tableMask, expectedMask);
    EXPECT_TRUE(isPermutation(state.keyTable, expectedMask));
    EXPECT_TRUE(isPermutation(state.shuffleTable, expectedMask));
    EXPECT_EQ(state.shuffleI, 0u);
    EXPECT_EQ(state.shuffleJ, 0u);
    if (expectedMask == 255) {
        EXPECT_TRUE(std::all_of(state.keyTable + 256, state.keyTable + CIPHER_TABLE_CAPACITY,
                                [](std::uint32_t v) { return v == 0; }));
    }
}

TEST_P(SetupKeyPerScheme, SameHeaderAndPasswordGiveIdenticalState)
{
    const KeyCase c = baseCase(GetParam());
    // The second setup runs on a session that held another key before.
    SessionPtr session = makeSession();
    applyCase(session.get(), baseCase(3));
    setupKey(session.get(), u"something else entirely");
    applyCase(session.get(), c);
    setupKey(session.get(), c.password.c_str());
    EXPECT_TRUE(sameState(session->cipher, stateAfterSetup(c, c.password.c_str())));
}

TEST_P(SetupKeyPerScheme, EveryParameterChangesTheKeystream)
{
    const KeyCase base = baseCase(GetParam());
    const CipherState reference = stateAfterSetup(base, base.password.c_str());
    auto keystreamOf = [](const CipherState& s) { return firstOutputs(s.keyTable, s.keyI, s.keyJ, s.tableMask, 64); };
    // One more stir step may leave the first shuffle outputs alone; the table shows it.
    auto shuffleOf = [](const CipherState& s) {
        return std::vector<std::uint32_t>(s.shuffleTable, s.shuffleTable + s.tableMask + 1);
    };
    std::vector<std::pair<std::string, KeyCase>> variants;
    for (const std::size_t saltByte : {std::size_t{0}, std::size_t{7}, std::size_t{8}, std::size_t{15}}) {
        KeyCase c = base;
        c.salt[saltByte] ^= 1;
        variants.emplace_back("salt byte " + std::to_string(saltByte), c);
    }
    KeyCase c = base;
    c.mixRounds += 1;
    variants.emplace_back("mixRounds", c);
    c = base;
    c.scheduleRounds += 1;
    variants.emplace_back("scheduleRounds", c);
    c = base;
    c.stirRounds += 1;
    variants.emplace_back("stirRounds", c);
    c = base;
    c.password = u"Tr0ub4dor&4";
    variants.emplace_back("password", c);
    for (const auto& [what, variant] : variants) {
        const CipherState changed = stateAfterSetup(variant, variant.password.c_str());
        EXPECT_NE(keystreamOf(changed), keystreamOf(reference)) << what;
        EXPECT_NE(shuffleOf(changed), shuffleOf(reference)) << what;
    }
}

TEST_P(SetupKeyPerScheme, NullPasswordCountsAsEmpty)
{
    const KeyCase c = baseCase(GetParam());
    EXPECT_TRUE(sameState(stateAfterSetup(c, nullptr), stateAfterSetup(c, u"")));
    EXPECT_FALSE(sameState(stateAfterSetup(c, nullptr), stateAfterSetup(c, u"a")));
}

// Passwords whose UTF-8 forms agree up to the scheme's limit give the same
// key; a difference inside the limit gives another. The cut may split a
// two-byte sequence: 'é' is C3 A9 and 'è' is C3 A8.
TEST_P(SetupKeyPerScheme, PasswordIsCutAtTheSchemesByteLimit)
{
    const std::uint16_t scheme = GetParam();
    const std::size_t limit = scheme == 3 ? 510 : 255;
    const KeyCase c = baseCase(scheme);

    const std::u16string ascii(limit, u'x');
    EXPECT_TRUE(sameState(stateAfterSetup(c, (ascii + u"A").c_str()), stateAfterSetup(c, (ascii + u"B").c_str())));
    std::u16string lastInside = ascii;
    lastInside.back() = u'y';
    EXPECT_FALSE(sameState(stateAfterSetup(c, ascii.c_str()), stateAfterSetup(c, lastInside.c_str())));

    // limit is odd for schemes 0 to 2 (the cut splits the last 'é') and even
    // for scheme 3 (the cut falls between two characters).
    const std::u16string accents((limit + 1) / 2, u'\u00E9');
    const std::u16string otherTail = accents.substr(0, accents.size() - 1) + u"\u00E8";
    const bool tailByteCut = limit % 2 == 1;
    EXPECT_EQ(sameState(stateAfterSetup(c, accents.c_str()), stateAfterSetup(c, otherTail.c_str())), tailByteCut);
    // A password far longer than any limit is still cut the same way.
    EXPECT_TRUE(
        sameState(stateAfterSetup(c, (ascii + std::u16string(4000, u'z')).c_str()), stateAfterSetup(c, ascii.c_str())));
}

INSTANTIATE_TEST_SUITE_P(AllSchemes, SetupKeyPerScheme, ::testing::Values(0, 1, 2, 3));

TEST(SetupKey, SchemesZeroAndOneShareTheirKeyAndTheOthersDiffer)
{
    const CipherState zero = stateAfterSetup(baseCase(0), u"pw");
    EXPECT_TRUE(sameState(zero, stateAfterSetup(baseCase(1), u"pw")));
    EXPECT_FALSE(sameState(zero, stateAfterSetup(baseCase(2), u"pw")));
    EXPECT_FALSE(sameState(stateAfterSetup(baseCase(2), u"pw"), stateAfterSetup(baseCase(3), u"pw")));
}

TEST(SetupKey, KeepsTheSessionResult)
{
    SessionPtr session = makeSession();
    applyCase(session.get(), baseCase(3));
    session->result = RESULT_DISK_FULL;
    EXPECT_EQ(setupKey(session.get(), u"pw"), RESULT_DISK_FULL);
    EXPECT_EQ(session->result, RESULT_DISK_FULL);
}

}  // namespace
