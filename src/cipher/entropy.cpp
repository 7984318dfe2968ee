#include "cipher/entropy.h"

#include <cstring>

#include "cipher/checksum.h"
#include "cipher/key_setup.h"
#include "platform/byte_order.h"
#include "platform/platform.h"
#include "platform/secure_wipe.h"

namespace {

constexpr std::uint32_t ENTROPY_FOLD_STEPS = 34567;
constexpr std::uint32_t ENTROPY_WORDS = ENTROPY_BYTES / 4;

}  // namespace

void storeEntropyRecord(const SystemSample& sample, std::uint8_t record[ENTROPY_RECORD_SIZE])
{
    storeLe32(record + 0, sample.tickCount);
    storeLe32(record + 4, sample.processId);
    storeLe32(record + 8, sample.threadId);
    storeLe32(record + 12, sample.messageTime);
    storeLe32(record + 16, static_cast<std::uint32_t>(sample.perfFrequency));
    storeLe64(record + 20, sample.perfCounter);
    storeLe64(record + 28, sample.diskFreeBytes);
    storeLe64(record + 36, sample.systemTime);
    storeLe32(record + 44, rotateAddChecksum(sample.memoryStatus, sizeof sample.memoryStatus));
    storeLe32(record + 48, rotateAddChecksum(sample.systemInfo, sizeof sample.systemInfo));
    storeLe32(record + 52, static_cast<std::uint32_t>(sample.foregroundWindow));
    storeLe32(record + 56, rotateAddChecksum(sample.windowInfo, sizeof sample.windowInfo));
}

void gatherEntropy(std::uint8_t out[ENTROPY_BYTES])
{
    SystemSample sample;
    std::memset(&sample, 0, sizeof sample);
    sampleSystemValues(&sample);

    std::uint8_t record[ENTROPY_RECORD_SIZE];
    storeEntropyRecord(sample, record);

    std::uint32_t words[ENTROPY_WORDS];
    foldDigest(record, sizeof record, words, ENTROPY_WORDS, ENTROPY_FOLD_STEPS, FoldVariant::ThreeTerm);
    for (std::uint32_t k = 0; k < ENTROPY_WORDS; ++k) {
        storeLe32(out + 4 * k, words[k]);
    }

    wipeObject(sample);
    wipeObject(record);
    wipeObject(words);
}
