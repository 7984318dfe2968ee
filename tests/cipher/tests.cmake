set(CIPHER_TESTS
    cipher/checksum_test.cpp
    cipher/key_setup_test.cpp
    cipher/entropy_test.cpp
    cipher/settled_positions_test.cpp)
