#pragma once
// Walking every failed read and write of a payload, shared by the tests of
// the one-thread and two-thread transforms.
#include <cstdint>
#include <string>

#include "container/container_writer.h"

// Opens path once to count its reads, then fails each of the last
// payloadReads of them in turn (the payload's, after the header's): each open
// must give RESULT_READ_FAILED after exactly that one injected failure.
void expectEachPayloadReadFails(const std::string& path, const std::u16string& password, std::uint64_t payloadReads);

// Writes plan's payload into new files in directory, failing the first write,
// then the second, and so on until none fails: each failure must give
// RESULT_WRITE_FAILED with nothing written after it, and a run without one
// must make exactly writes writes.
void expectEachPayloadWriteFails(const ContainerPlan& plan, const std::string& directory, std::uint64_t writes);
