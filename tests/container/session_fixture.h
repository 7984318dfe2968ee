#pragma once
// A heap-held ContainerSession that is torn down and freed when it goes out of
// scope, so a failing assertion never leaks buffers or open files.
#include <memory>

#include "container/container_session.h"

struct SessionDeleter {
    void operator()(ContainerSession* session) const;
};
using SessionPtr = std::unique_ptr<ContainerSession, SessionDeleter>;

// A fresh session: zeroed, both files closed, result RESULT_OK.
SessionPtr makeSession();
