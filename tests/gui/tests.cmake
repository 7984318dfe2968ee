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
