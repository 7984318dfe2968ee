# GUI tests: the real main window, dialogs and resources, driven under Wine.
set(GUI_TESTS
    gui/gui_harness.cpp
    gui/about_dialog_test.cpp
    gui/commands_test.cpp
    gui/document_helpers.cpp
    gui/documents_test.cpp
    gui/drop_test.cpp
    gui/find_dialog_test.cpp
    gui/keyboard_test.cpp
    gui/lock_cipher_test.cpp
    gui/lock_memory_test.cpp
    gui/lock_test.cpp
    gui/menu_state_test.cpp
    gui/message_dialog_test.cpp
    gui/settings_test.cpp
    gui/title_bar_test.cpp
    gui/window_test.cpp)
tarnwick_add_gtest(gui_tests
    SOURCES ${GUI_TESTS} $<TARGET_OBJECTS:tarnwick_resources>
    LIBS tarnwick_app version
    TIMEOUT 900)

# Stands in for the web browser when the About box opens its address.
add_executable(link_handler WIN32 gui/link_handler.cpp)
if(MINGW)
    target_link_options(link_handler PRIVATE -municode)
endif()
target_link_libraries(link_handler PRIVATE shell32)
add_dependencies(gui_tests link_handler)
target_compile_definitions(gui_tests PRIVATE TARNWICK_LINK_HANDLER="$<TARGET_FILE:link_handler>")
# The editor itself, started as a process of its own by the lock's memory test.
add_dependencies(gui_tests tarnwick)
target_compile_definitions(gui_tests PRIVATE TARNWICK_EXE="$<TARGET_FILE:tarnwick>")

# Not a test: drives the editor for `make screenshot`.
add_executable(screenshot_driver gui/screenshot_driver.cpp)
if(MINGW)
    target_link_options(screenshot_driver PRIVATE -municode)
endif()

# The editor's open of a large document, timed under Wine by make bench; not a test.
add_executable(editor_open_bench ${CMAKE_SOURCE_DIR}/bench/editor_open_bench.cpp gui/gui_harness.cpp
                                 $<TARGET_OBJECTS:tarnwick_resources>)
target_link_libraries(editor_open_bench PRIVATE tarnwick_app version tarnwick_test_support gtest_main)
