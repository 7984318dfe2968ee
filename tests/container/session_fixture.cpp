#include "container/session_fixture.h"

void SessionDeleter::operator()(ContainerSession* session) const
{
    teardownSession(session);
    delete session;
}

SessionPtr makeSession()
{
    SessionPtr session(new ContainerSession);
    initSession(session.get());
    return session;
}
