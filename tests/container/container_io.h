#pragma once
// Opening a container file the way the open job does: header, key, payload.
#include <cstdint>
#include <string>
#include <vector>

#include "container/container_header.h"
#include "platform/result_codes.h"

struct OpenOutcome {
    ResultCode code = RESULT_OK;
    std::vector<std::uint8_t> text;  // the deciphered text, only on success
    ContainerHeader header{};
};

// openContainer, setupKey, decryptPayload into a destination of
// min(plainSize, capacityLimit) bytes. On success text holds what the
// destination received (a short text's real length).
OpenOutcome openAndDecrypt(const std::string& path, const std::u16string& password,
                           std::uint64_t capacityLimit = UINT64_MAX);

// saveContainer with the save job's shuffle level for the text's size.
ResultCode saveText(const std::string& path, const std::vector<std::uint8_t>& text, const std::u16string& password,
                    const std::u16string& hint = u"");
