set(CONTAINER_SOURCES container/container_header.cpp container/container_session.cpp container/payload.cpp
    container/verified_write.cpp)

# The payload's block loop drives the cipher's transforms on two threads.
set_source_files_properties(container/payload.cpp PROPERTIES COMPILE_OPTIONS "$<$<CONFIG:RelWithDebInfo>:-O3>")
