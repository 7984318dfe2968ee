# The vtxt tests run the real binary, natively and (as vtxt.exe) under Wine.
tarnwick_add_gtest(vtxt_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/vtxt_test.cpp ${CMAKE_CURRENT_LIST_DIR}/vtxt_files_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/process_runner.cpp
    LIBS tarnwick_core_testing)
target_compile_definitions(vtxt_tests PRIVATE VTXT_BINARY="$<TARGET_FILE:vtxt>")
add_dependencies(vtxt_tests vtxt)
if(NOT WIN32)
    target_link_libraries(vtxt_tests PRIVATE util)
endif()

# The tool's text encoders and password reader, called directly.
tarnwick_add_gtest(vtxt_unit_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/cli_text_test.cpp ${CMAKE_CURRENT_LIST_DIR}/password_line_test.cpp
    LIBS vtxt_library)
