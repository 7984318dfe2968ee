set(CIPHER_TESTS cipher/session_fixture.cpp cipher/key_setup_test.cpp)
