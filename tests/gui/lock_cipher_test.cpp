// The lock's cipher on its own: the container's key setup under salts of the
// lock's own, a check value that tells passwords apart and a keystream that
// undoes itself.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "app/lock_cipher.h"

namespace {

LockKeySetup FixedSetup(std::uint8_t saltByte)
{
    LockKeySetup setup{};
    std::memset(setup.salt, saltByte, sizeof setup.salt);
    setup.mixRounds = 0x4000;
    setup.scheduleRounds = 0x2000;
    setup.stirRounds = 0x2000;
    return setup;
}

std::vector<std::uint8_t> Text(std::size_t length)
{
    std::vector<std::uint8_t> text(length);
    for (std::size_t k = 0; k < length; ++k) {
        text[k] = static_cast<std::uint8_t>(k * 7 + k / 251);
    }
    return text;
}

bool SameSecrets(const LockSecrets& a, const LockSecrets& b)
{
    return std::memcmp(a.check, b.check, sizeof a.check) == 0 && std::memcmp(a.key, b.key, sizeof a.key) == 0;
}

TEST(LockCipher, APasswordGivesTheSameSecretsUnderTheSameSetupOnly)
{
    LockSecrets first{};
    LockSecrets again{};
    LockSecrets otherPassword{};
    LockSecrets otherSalt{};
    DeriveLockSecrets(u"pass word", FixedSetup(1), &first);
    DeriveLockSecrets(u"pass word", FixedSetup(1), &again);
    DeriveLockSecrets(u"pass Word", FixedSetup(1), &otherPassword);
    DeriveLockSecrets(u"pass word", FixedSetup(2), &otherSalt);
    EXPECT_TRUE(SameSecrets(first, again));
    EXPECT_TRUE(LockChecksEqual(first.check, again.check));
    EXPECT_FALSE(LockChecksEqual(first.check, otherPassword.check));
    EXPECT_FALSE(LockChecksEqual(first.check, otherSalt.check));
    EXPECT_FALSE(SameSecrets(first, otherSalt));
    // The key is not the check over again.
    EXPECT_NE(std::memcmp(first.check, first.key, sizeof first.check), 0);
}

TEST(LockCipher, EveryByteOfTheCheckCounts)
{
    LockSecrets secrets{};
    DeriveLockSecrets(u"x", FixedSetup(3), &secrets);
    for (std::size_t k = 0; k < LOCK_CHECK_SIZE; ++k) {
        std::uint8_t changed[LOCK_CHECK_SIZE];
        std::memcpy(changed, secrets.check, sizeof changed);
        changed[k] ^= 0x80;
        EXPECT_FALSE(LockChecksEqual(secrets.check, changed)) << k;
    }
}

class LockKeystream : public ::testing::TestWithParam<std::size_t> {};

TEST_P(LockKeystream, UndoesItselfAndDependsOnKeyAndSalt)
{
    const std::size_t length = GetParam();
    const std::vector<std::uint8_t> plain = Text(length);
    LockSecrets secrets{};
    DeriveLockSecrets(u"pass word", FixedSetup(1), &secrets);
    std::vector<std::uint8_t> locked = plain;
    ApplyLockKeystream(secrets.key, FixedSetup(9), locked.data(), length);
    std::vector<std::uint8_t> otherSalt = plain;
    ApplyLockKeystream(secrets.key, FixedSetup(10), otherSalt.data(), length);
    LockSecrets other{};
    DeriveLockSecrets(u"pass word!", FixedSetup(1), &other);
    std::vector<std::uint8_t> otherKey = plain;
    ApplyLockKeystream(other.key, FixedSetup(9), otherKey.data(), length);
    if (length > 0) {
        EXPECT_NE(locked, plain);
        EXPECT_NE(locked, otherSalt);
        EXPECT_NE(locked, otherKey);
    }
    ApplyLockKeystream(secrets.key, FixedSetup(9), locked.data(), length);
    EXPECT_EQ(locked, plain);
    // The wrong key gives back something else.
    ApplyLockKeystream(other.key, FixedSetup(9), otherSalt.data(), length);
    if (length > 0) {
        EXPECT_NE(otherSalt, plain);
    }
}

INSTANTIATE_TEST_SUITE_P(LockCipher, LockKeystream, ::testing::Values(0, 1, 2, 31, 1024, 65537, 3u << 20));

TEST(LockCipher, FreshSetupsDiffer)
{
    LockKeySetup a{};
    LockKeySetup b{};
    DrawLockKeySetup(&a);
    DrawLockKeySetup(&b);
    EXPECT_NE(std::memcmp(a.salt, b.salt, sizeof a.salt), 0);
    EXPECT_GE(a.mixRounds, 0x4000u);
    EXPECT_GE(a.scheduleRounds, 0x2000u);
    EXPECT_GE(a.stirRounds, 0x2000u);
}

}  // namespace
