# GUI tests: the real main window, dialogs and resources, driven under Wine.
set(GUI_TESTS
    gui/gui_harness.cpp
    gui/document_fixture.cpp
    gui/window_hooks.cpp
    container/container_writer.cpp
    container/session_fixture.cpp
    gui/about_dialog_test.cpp
    gui/commands_test.cpp
    gui/data_loss_test.cpp
    gui/dll_planting_test.cpp
    gui/documents_test.cpp
    gui/drop_test.cpp
    gui/find_dialog_test.cpp
    gui/keyboard_test.cpp
    gui/lock_cipher_test.cpp
    gui/lock_memory_test.cpp
    gui/lock_test.cpp
    gui/menu_state_test.cpp
    gui/message_dialog_test.cpp
    gui/secrets_test.cpp
    gui/settings_test.cpp
    gui/title_bar_test.cpp
    gui/window_test.cpp)
# The program over the core whose file calls can be made to fail.
tarnwick_add_gtest(gui_tests
    SOURCES ${GUI_TESTS} $<TARGET_OBJECTS:tarnwick_resources>
    LIBS tarnwick_app_testing version
    TIMEOUT 900)
# The About box opens the user guide beside the running program, here the tests.
configure_file(${PROJECT_SOURCE_DIR}/docs/user-guide.html ${CMAKE_CURRENT_BINARY_DIR}/user-guide.html COPYONLY)

# The DLL planting test: a stranger's crypt32.dll, a program that loads it by
# its bare name, and the real editor, all copied into one folder.
add_library(planted_crypt32 SHARED gui/planted_dll.cpp)
# In a folder of its own: never beside a program of the build.
set_target_properties(planted_crypt32 PROPERTIES OUTPUT_NAME crypt32 PREFIX ""
                      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/planted
                      ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/planted)
add_executable(dll_probe WIN32 gui/dll_probe.cpp)
if(MINGW)
    target_link_options(dll_probe PRIVATE -municode)
endif()
add_dependencies(gui_tests planted_crypt32 dll_probe tarnwick)
target_compile_definitions(gui_tests PRIVATE TARNWICK_EXE_PATH="$<TARGET_FILE:tarnwick>"
                                             PLANTED_DLL_PATH="$<TARGET_FILE:planted_crypt32>"
                                             DLL_PROBE_PATH="$<TARGET_FILE:dll_probe>")

# Stands in for the web browser when the About box opens its address.
add_executable(link_handler WIN32 gui/link_handler.cpp)
if(MINGW)
    target_link_options(link_handler PRIVATE -municode)
endif()
target_link_libraries(link_handler PRIVATE shell32)
add_dependencies(gui_tests link_handler)
target_compile_definitions(gui_tests PRIVATE TARNWICK_LINK_HANDLER="$<TARGET_FILE:link_handler>")

# Not a test: drives the editor for `make screenshot`.
add_executable(screenshot_driver gui/screenshot_driver.cpp)
if(MINGW)
    target_link_options(screenshot_driver PRIVATE -municode)
endif()

# The editor's open of a large document, timed under Wine by make bench; not a test.
add_executable(editor_open_bench ${CMAKE_SOURCE_DIR}/bench/editor_open_bench.cpp gui/gui_harness.cpp
                                 $<TARGET_OBJECTS:tarnwick_resources>)
target_link_libraries(editor_open_bench PRIVATE tarnwick_app version tarnwick_test_support gtest_main)
