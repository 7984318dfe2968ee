set(CIPHER_SOURCES cipher/checksum.cpp cipher/key_setup.cpp cipher/entropy.cpp cipher/payload.cpp)
