#include "container/container_io.h"

#include <algorithm>

#include "cipher/key_setup.h"
#include "container/payload.h"
#include "container/session_fixture.h"
#include "support/test_support.h"

OpenOutcome openAndDecrypt(const std::string& path, const std::u16string& password, std::uint64_t capacityLimit)
{
    OpenOutcome outcome;
    SessionPtr session = makeSession();
    const std::u16string path16 = toUtf16(path);
    outcome.code = openContainer(session.get(), path16.c_str());
    if (outcome.code == RESULT_OK) {
        setupKey(session.get(), password.c_str());
        const std::uint64_t plainSize = headerPlainSize(session->header);
        const std::uint64_t capacity = std::min(plainSize, capacityLimit);
        std::vector<std::uint8_t> destination(static_cast<std::size_t>(capacity));
        outcome.code = decryptPayload(session.get(), destination.data(), capacity);
        if (outcome.code == RESULT_OK) {
            const std::uint64_t stored = std::min(capacity, headerPlainSize(session->header));
            destination.resize(static_cast<std::size_t>(stored));
            outcome.text = destination;
        }
    }
    outcome.header = session->header;
    return outcome;
}

ResultCode saveText(const std::string& path, const std::vector<std::uint8_t>& text, const std::u16string& password,
                    const std::u16string& hint)
{
    SessionPtr session = makeSession();
    const std::u16string path16 = toUtf16(path);
    return saveContainer(session.get(), text.data(), text.size(), path16.c_str(), password.c_str(), hint.c_str(),
                         chooseShuffleLevel(text.size()));
}
