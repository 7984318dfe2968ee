set(TEXT_SOURCES text/text_encoding.cpp)
