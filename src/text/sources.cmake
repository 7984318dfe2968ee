set(TEXT_SOURCES text/text_encoding.cpp text/loaded_text.cpp)
