#pragma once
// The cipher behind the document lock: the container's own key setup and key
// generator, under salts and round counts of the lock's own. The document's
// password gives a check value and a lock key; the lock key, under a fresh
// salt for every lock, gives the keystream that enciphers the text while the
// document is locked. Nothing here touches a window.
#include <cstddef>
#include <cstdint>

inline constexpr std::size_t LOCK_SALT_SIZE = 16;
inline constexpr std::size_t LOCK_CHECK_SIZE = 32;
inline constexpr std::size_t LOCK_KEY_SIZE = 64;

// Salt and round counts of one key setup.
struct LockKeySetup {
    std::uint8_t salt[LOCK_SALT_SIZE];
    std::uint32_t mixRounds;
    std::uint32_t scheduleRounds;
    std::uint32_t stirRounds;
};

// What a password gives under one key setup: a value that tells the right
// password from a wrong one, and the key the text is locked under.
struct LockSecrets {
    std::uint8_t check[LOCK_CHECK_SIZE];
    std::uint8_t key[LOCK_KEY_SIZE];
};

// Fresh salt and round counts, drawn as a save draws them.
void DrawLockKeySetup(LockKeySetup* setup);
// Keys the container cipher with password (NUL-terminated UTF-16, as the
// container's key setup takes it) under setup and fills secrets from its key
// generator. Wipes every intermediate state.
void DeriveLockSecrets(const char16_t* password, const LockKeySetup& setup, LockSecrets* secrets);
// Whether two check values are equal, compared in the same time either way.
bool LockChecksEqual(const std::uint8_t (&a)[LOCK_CHECK_SIZE], const std::uint8_t (&b)[LOCK_CHECK_SIZE]);
// XORs length bytes with the keystream of key under setup: enciphers, and
// deciphers when applied again with the same key and setup. Wipes every
// intermediate state.
void ApplyLockKeystream(const std::uint8_t (&key)[LOCK_KEY_SIZE], const LockKeySetup& setup, std::uint8_t* bytes,
                        std::size_t length);
