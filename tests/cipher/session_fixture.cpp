#include "cipher/session_fixture.h"

#include <cstring>

#include "platform/secure_wipe.h"

void SessionDeleter::operator()(ContainerSession* session) const
{
    wipeObject(*session);
    delete session;
}

SessionPtr makeSession()
{
    SessionPtr session(new ContainerSession);
    std::memset(session.get(), 0, sizeof(ContainerSession));
    session->sourceFile = INVALID_FILE;
    session->targetFile = INVALID_FILE;
    session->result = RESULT_OK;
    return session;
}
