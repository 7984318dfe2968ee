#include "container/payload_faults.h"

#include <gtest/gtest.h>

#include "container/container_io.h"
#include "cipher/key_setup.h"
#include "container/payload.h"
#include "container/session_fixture.h"
#include "container/container_header.h"
#include "platform/fault_injection.h"
#include "platform/platform.h"
#include "support/test_support.h"

void expectEachPayloadReadFails(const std::string& path, const std::u16string& password, std::uint64_t payloadReads)
{
    resetFaults();
    ASSERT_EQ(openAndDecrypt(path, password).code, RESULT_OK);
    const std::uint64_t reads = ioCallCount(FAULT_READ);
    ASSERT_GE(reads, payloadReads + 1);  // the header's read comes first
    for (std::uint64_t k = reads - payloadReads + 1; k <= reads; ++k) {
        resetFaults();
        armFault(FAULT_READ, k, false);
        EXPECT_EQ(openAndDecrypt(path, password).code, RESULT_READ_FAILED) << "read " << k;
        EXPECT_EQ(injectedFailureCount(), 1u);
    }
}

void expectEachPayloadWriteFails(const ContainerPlan& plan, const std::string& directory, std::uint64_t writes)
{
    const std::vector<std::uint8_t> model = writeContainerBytes(plan);
    for (std::uint64_t k = 1;; ++k) {
        SessionPtr session = makeSession();
        loadHeader(model.data(), &session->header);
        setupKey(session.get(), plan.password.c_str());
        const std::string path = joinPath(directory, "w" + std::to_string(k) + ".vtxt");
        session->targetFile = createNewFile(toUtf16(path).c_str());
        ASSERT_NE(session->targetFile, INVALID_FILE);
        resetFaults();
        armFault(FAULT_WRITE, k, false);
        const ResultCode code = encryptPayload(session.get(), plan.text.data());
        if (injectedFailureCount() == 0) {
            EXPECT_EQ(code, RESULT_OK);
            EXPECT_EQ(ioCallCount(FAULT_WRITE), writes);
            EXPECT_EQ(k, writes + 1);
            break;
        }
        EXPECT_EQ(code, RESULT_WRITE_FAILED) << "write " << k;
        EXPECT_EQ(session->result, RESULT_WRITE_FAILED);
        EXPECT_EQ(ioCallCount(FAULT_WRITE), k) << "nothing is written after a failure";
        ASSERT_LE(k, writes) << "a write past the last one failed";
    }
}
