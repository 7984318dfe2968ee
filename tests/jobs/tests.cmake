set(RESULT_TESTS jobs/result_codes_test.cpp)
