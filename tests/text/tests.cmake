set(TEXT_TESTS text/text_encoding_test.cpp)
