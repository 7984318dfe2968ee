# Reliability: the fuzz corpora replayed as regression tests, and the tests of
# hostile inputs, verified saves and crash consistency.

if(NOT WIN32)
    include(${CMAKE_SOURCE_DIR}/fuzz/targets.cmake)
    # Every corpus file through its target, under the compiler and sanitizers
    # of this preset, with a plain driver instead of libFuzzer.
    foreach(target ${TARNWICK_FUZZ_TARGETS})
        add_executable(replay_${target} ${TARNWICK_FUZZ_DIR}/targets/${target}.cpp ${TARNWICK_FUZZ_DIR}/fuzz_support.cpp
                                        ${TARNWICK_FUZZ_DIR}/replay_main.cpp)
        target_include_directories(replay_${target} PRIVATE ${TARNWICK_FUZZ_DIR} ${CMAKE_SOURCE_DIR}/tests)
        target_link_libraries(replay_${target} PRIVATE vtxt_library tarnwick_core)
        set(inputs ${TARNWICK_FUZZ_DIR}/corpus/${target})
        # Inputs that once broke a property, kept after the fix.
        if(EXISTS ${TARNWICK_FUZZ_DIR}/regressions/${target})
            list(APPEND inputs ${TARNWICK_FUZZ_DIR}/regressions/${target})
        endif()
        add_test(NAME FuzzCorpus.${target} COMMAND replay_${target} ${inputs})
        set_tests_properties(FuzzCorpus.${target} PROPERTIES TIMEOUT 300)
    endforeach()

    # Writes the seed corpora from the real writer: scripts/fuzz.sh --seeds.
    add_executable(fuzz_make_seeds ${TARNWICK_FUZZ_DIR}/make_seeds.cpp ${TARNWICK_FUZZ_DIR}/fuzz_support.cpp)
    target_include_directories(fuzz_make_seeds PRIVATE ${TARNWICK_FUZZ_DIR})
    target_link_libraries(fuzz_make_seeds PRIVATE tarnwick_core)
endif()


# The read-back before a save replaces a document: natively and under Wine.
tarnwick_add_gtest(reliability_core_tests SOURCES reliability/verified_save_test.cpp LIBS tarnwick_core_testing)

# vtxt from the outside: hostile headers, and its memory while it holds a
# password. Linux only (processes, resource limits, /proc).
if(NOT WIN32)
    tarnwick_add_gtest(reliability_vtxt_tests
        SOURCES reliability/hostile_header_test.cpp reliability/vtxt_memory_test.cpp reliability/child_process.cpp
        LIBS tarnwick_core)
    target_compile_definitions(reliability_vtxt_tests PRIVATE TARNWICK_VTXT_PATH="$<TARGET_FILE:vtxt>")
    add_dependencies(reliability_vtxt_tests vtxt)
endif()

# SIGKILL at random moments of replacing a document; the long run is
# scripts/crash-consistency.sh with its default of 200 kills.
if(NOT WIN32)
    add_test(NAME CrashConsistency.ThirtyKillsDuringReplacement
             COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/crash-consistency.sh --kills 30 --lines 40000 --vtxt $<TARGET_FILE:vtxt>)
    set_tests_properties(CrashConsistency.ThirtyKillsDuringReplacement PROPERTIES TIMEOUT 600)
endif()

# The protections of the built programs, read from the files: vtxt on Linux,
# tarnwick.exe and vtxt.exe under Wine.
tarnwick_add_gtest(reliability_binary_tests SOURCES reliability/binary_hardening_test.cpp LIBS tarnwick_core)
target_compile_definitions(reliability_binary_tests PRIVATE VTXT_BINARY="$<TARGET_FILE:vtxt>")
add_dependencies(reliability_binary_tests vtxt)
if(WIN32)
    target_compile_definitions(reliability_binary_tests PRIVATE TARNWICK_BINARY="$<TARGET_FILE:tarnwick>")
    add_dependencies(reliability_binary_tests tarnwick)
endif()
