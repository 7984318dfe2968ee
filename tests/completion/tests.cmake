# vtxt's bash completion, called in bash as bash calls it, against the vtxt
# just built (Linux only).
find_program(TARNWICK_BASH bash)
if(TARNWICK_BASH)
    add_test(NAME VtxtCompletion.InBash
             COMMAND ${TARNWICK_BASH} ${CMAKE_CURRENT_LIST_DIR}/completion_test.sh $<TARGET_FILE:vtxt>
                     ${CMAKE_SOURCE_DIR}/packaging/linux/vtxt-completion.bash)
    set_tests_properties(VtxtCompletion.InBash PROPERTIES TIMEOUT 120)
endif()
