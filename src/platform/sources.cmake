# fault_injection.cpp is empty unless TARNWICK_FAULT_INJECTION is defined, which
# only the testing copy of the core does.
if(WIN32)
    set(PLATFORM_SOURCES platform/secure_wipe.cpp platform/platform_win32.cpp platform/fault_injection.cpp)
else()
    set(PLATFORM_SOURCES platform/secure_wipe.cpp platform/platform_posix.cpp platform/fault_injection.cpp)
endif()
