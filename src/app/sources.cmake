# Everything of the program but wWinMain (main.cpp), so that the GUI tests link it.
set(APP_SOURCES
    app/app_entry.cpp
    app/app_state.cpp
    app/clipboard.cpp
    app/document_lock.cpp
    app/drop_open.cpp
    app/edit_keyboard.cpp
    app/lock_cipher.cpp
    app/main_window.cpp
    app/menu_state.cpp
    app/settings.cpp
    app/title_bar.cpp
    app/view_settings.cpp)
