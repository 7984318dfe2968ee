set(CIPHER_TEST_SUPPORT cipher/session_fixture.cpp cipher/container_writer.cpp cipher/container_io.cpp
    cipher/golden_cases.cpp)
set(CIPHER_TESTS
    ${CIPHER_TEST_SUPPORT}
    cipher/key_setup_test.cpp
    cipher/entropy_test.cpp
    cipher/payload_test.cpp
    cipher/mutation_test.cpp
    cipher/golden_test.cpp
    cipher/payload_threads_test.cpp
    cipher/payload_paced_test.cpp
    cipher/settled_positions_test.cpp
    cipher/payload_faults.cpp)

# Rewrites the golden container files: make_golden_containers tests/data/containers
add_executable(make_golden_containers cipher/make_golden_containers.cpp ${CIPHER_TEST_SUPPORT})
target_link_libraries(make_golden_containers PRIVATE tarnwick_core tarnwick_test_support)
