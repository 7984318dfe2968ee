// The structure walk of `vtxt verify` against the reader: on any file the walk
// fails exactly where deciphering fails, with the same code, and passes only
// files whose payload deciphers (under the right or a wrong password). Input:
// an options byte (bit 0 rewrites the header checksum, bit 1 the block
// checksums and lengths), then the file.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cipher/key_setup.h"
#include "container/payload.h"
#include "cli/cli_structure.h"
#include "container/container_header.h"
#include "container/container_session.h"
#include "fuzz_support.h"

namespace {

bool walkCodeExpected(ResultCode code)
{
    return code == RESULT_OK || code == RESULT_CHECKSUM_FAILED || code == RESULT_UNEXPECTED_EOF ||
           code == RESULT_READ_FAILED;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) {
        return 0;
    }
    const std::uint8_t options = data[0];
    std::vector<std::uint8_t> file(data + 1, data + size);
    ContainerSession walk;
    if (!openRepairedScratch(options, &file, &walk)) {
        return 0;
    }
    std::vector<std::string> findings;
    const ResultCode walked =
        walkContainerStructure(&walk, [&findings](const std::string& line) { findings.push_back(line); });
    const ContainerHeader header = walk.header;
    teardownSession(&walk);
    FUZZ_CHECK(walkCodeExpected(walked));
    FUZZ_CHECK(!findings.empty());

    ContainerSession reader;
    initSession(&reader);
    FUZZ_CHECK(openContainer(&reader, scratchPath()) == RESULT_OK);
    capHeaderWork(&reader.header);  // the same caps as the walk's, so both read the same layout
    FUZZ_CHECK(setupKey(&reader, u"any password") == RESULT_OK);
    std::uint8_t nowhere[1] = {0};
    const ResultCode deciphered = decryptPayload(&reader, nowhere, 0);
    teardownSession(&reader);
    FUZZ_CHECK(reader.header.blockSize == header.blockSize);

    if (walked != RESULT_OK) {
        FUZZ_CHECK(deciphered == walked);
        return 0;
    }
    // Only the sum of the text is left, which needs the key: a wrong password,
    // or a sum whose spare copies the walk found damaged or missing.
    const bool spareCopiesBad = findings.back().find("spare copies") != std::string::npos;
    FUZZ_CHECK(deciphered == RESULT_OK || deciphered == RESULT_WRONG_PASSWORD ||
               (deciphered == RESULT_CHECKSUM_FAILED && spareCopiesBad));
    return 0;
}
