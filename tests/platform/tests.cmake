set(PLATFORM_TESTS platform/platform_test.cpp platform/fault_injection_test.cpp platform/file_replacement_test.cpp
    platform/system_path_test.cpp platform/locked_memory_test.cpp
    platform/result_codes_test.cpp)
