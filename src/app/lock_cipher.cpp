#include "app/lock_cipher.h"

#include <cstring>

#include "cipher/entropy.h"
#include "cipher/key_setup.h"
#include "container/container_session.h"
#include "platform/secure_wipe.h"

namespace {

// The scheme every save writes: the large tables.
constexpr std::uint16_t LOCK_SCHEME = 3;
// The key generator's first outputs, the ones most shaped by the key schedule,
// are passed over before any is used.
constexpr std::uint32_t SKIPPED_OUTPUTS = 1024;
// generatorSteps counts in 32 bits; longer runs go in pieces of this size.
constexpr std::size_t STEPS_PER_RUN = std::size_t{1} << 30;

// Calls step(k, output byte) for the next length outputs of the key generator.
template <typename Step>
void RunKeystream(ContainerSession* session, std::size_t length, Step step)
{
    CipherState& state = session->cipher;
    // In locals, so that the stores of step cannot force them back to memory.
    std::uint32_t i = state.keyI;
    std::uint32_t j = state.keyJ;
    for (std::size_t done = 0; done < length;) {
        const std::size_t run = length - done < STEPS_PER_RUN ? length - done : STEPS_PER_RUN;
        generatorSteps(
            state.keyTable, i, j, state.tableMask, 0, static_cast<std::uint32_t>(run),
            [&](std::uint32_t k, std::uint32_t output) { step(done + k, static_cast<std::uint8_t>(output)); });
        done += run;
    }
    state.keyI = i;
    state.keyJ = j;
}

// A session keyed under setup with password, its first outputs passed over.
void KeySession(ContainerSession* session, const char16_t* password, const LockKeySetup& setup)
{
    initSession(session);
    ContainerHeader& header = session->header;
    header.cipherScheme = LOCK_SCHEME;
    std::memcpy(header.salt, setup.salt, sizeof header.salt);
    header.mixRounds = setup.mixRounds;
    header.scheduleRounds = setup.scheduleRounds;
    header.stirRounds = setup.stirRounds;
    setupKey(session, password);
    RunKeystream(session, SKIPPED_OUTPUTS, [](std::size_t, std::uint8_t) {});
}

void EndSession(ContainerSession* session)
{
    teardownSession(session);
    wipeObject(*session);
}

}  // namespace

void DrawLockKeySetup(LockKeySetup* setup)
{
    ContainerSession session;
    initSession(&session);
    generateParameters(&session);
    std::memcpy(setup->salt, session.header.salt, sizeof setup->salt);
    setup->mixRounds = session.header.mixRounds;
    setup->scheduleRounds = session.header.scheduleRounds;
    setup->stirRounds = session.header.stirRounds;
    EndSession(&session);
}

void DeriveLockSecrets(const char16_t* password, const LockKeySetup& setup, LockSecrets* secrets)
{
    ContainerSession session;
    KeySession(&session, password, setup);
    RunKeystream(&session, sizeof secrets->check,
                 [&](std::size_t k, std::uint8_t output) { secrets->check[k] = output; });
    RunKeystream(&session, sizeof secrets->key, [&](std::size_t k, std::uint8_t output) { secrets->key[k] = output; });
    EndSession(&session);
}

bool LockChecksEqual(const std::uint8_t (&a)[LOCK_CHECK_SIZE], const std::uint8_t (&b)[LOCK_CHECK_SIZE])
{
    std::uint8_t difference = 0;
    for (std::size_t k = 0; k < LOCK_CHECK_SIZE; ++k) {
        difference = static_cast<std::uint8_t>(difference | (a[k] ^ b[k]));
    }
    return difference == 0;
}

void ApplyLockKeystream(const std::uint8_t (&key)[LOCK_KEY_SIZE], const LockKeySetup& setup, std::uint8_t* bytes,
                        std::size_t length)
{
    // The key enters the key setup as a password: each byte one character
    // from U+0100 to U+01FF, none of them zero or a surrogate.
    char16_t password[LOCK_KEY_SIZE + 1] = {};
    for (std::size_t k = 0; k < LOCK_KEY_SIZE; ++k) {
        password[k] = static_cast<char16_t>(0x100 + key[k]);
    }
    ContainerSession session;
    KeySession(&session, password, setup);
    wipeObject(password);
    RunKeystream(&session, length, [&](std::size_t k, std::uint8_t output) { bytes[k] ^= output; });
    EndSession(&session);
}
