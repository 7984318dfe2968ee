set(PLATFORM_TESTS platform/platform_test.cpp platform/fault_injection_test.cpp)
