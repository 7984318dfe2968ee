# fault_injection.cpp is empty unless TARNWICK_FAULT_INJECTION is defined, which
# only the testing copy of the core does.
set(PLATFORM_SOURCES
    platform/secure_wipe.cpp
    platform/fault_injection.cpp
    platform/system_path.cpp
    platform/locked_memory.cpp
    platform/file_replacement.cpp
    platform/result_codes.cpp)
if(WIN32)
    list(APPEND PLATFORM_SOURCES platform/platform_win32.cpp platform/file_replacement_win32.cpp)
else()
    list(APPEND PLATFORM_SOURCES platform/platform_posix.cpp platform/file_replacement_posix.cpp)
endif()
