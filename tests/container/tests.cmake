set(CONTAINER_TESTS container/checksum_test.cpp)
