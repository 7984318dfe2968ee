set(DIALOGS_SOURCES
    dialogs/about_dialog.cpp
    dialogs/file_commands.cpp
    dialogs/find_dialog.cpp
    dialogs/message_dialogs.cpp
    dialogs/password_dialogs.cpp)
