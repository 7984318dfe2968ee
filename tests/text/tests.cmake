set(TEXT_TESTS text/text_encoding_test.cpp text/loaded_text_test.cpp)
