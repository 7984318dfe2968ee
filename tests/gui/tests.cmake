# GUI tests: the real main window, dialogs and resources, driven under Wine.
set(GUI_TESTS
    gui/gui_harness.cpp
    gui/commands_test.cpp
    gui/documents_test.cpp
    gui/keyboard_test.cpp
    gui/menu_state_test.cpp
    gui/message_dialog_test.cpp
    gui/settings_test.cpp
    gui/window_test.cpp)
tarnwick_add_gtest(gui_tests
    SOURCES ${GUI_TESTS} $<TARGET_OBJECTS:tarnwick_resources>
    LIBS tarnwick_app version
    TIMEOUT 900)

# Not a test: drives the editor for `make screenshot`.
add_executable(screenshot_driver gui/screenshot_driver.cpp)
if(MINGW)
    target_link_options(screenshot_driver PRIVATE -municode)
endif()
