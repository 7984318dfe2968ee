set(CONTAINER_SOURCES container/container_header.cpp container/container_session.cpp container/verified_write.cpp)
