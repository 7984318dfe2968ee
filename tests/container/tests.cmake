# The test-only container writer and the session helpers, shared with the
# golden-file generator and the GUI tests.
set(CONTAINER_TEST_SUPPORT container/session_fixture.cpp container/container_writer.cpp container/container_io.cpp
    container/golden_cases.cpp)
set(CONTAINER_TESTS
    ${CONTAINER_TEST_SUPPORT}
    container/container_header_test.cpp
    container/legacy_header_test.cpp
    container/container_session_test.cpp
    container/memory_limit_test.cpp
    container/payload_test.cpp
    container/mutation_test.cpp
    container/golden_test.cpp
    container/payload_threads_test.cpp
    container/payload_paced_test.cpp
    container/payload_faults.cpp)

# Rewrites the golden container files: make_golden_containers tests/data/containers
add_executable(make_golden_containers container/make_golden_containers.cpp ${CONTAINER_TEST_SUPPORT})
target_link_libraries(make_golden_containers PRIVATE tarnwick_core tarnwick_test_support)
