# Everything of vtxt but its entry function (paths relative to src/), so that
# the tests and the fuzz targets call the very code the tool runs.
set(VTXT_LIBRARY_SOURCES
    cli/cli_args.cpp
    cli/cli_cleanup.cpp
    cli/cli_commands.cpp
    cli/cli_console.cpp
    cli/cli_document.cpp
    cli/cli_files.cpp
    cli/cli_examine.cpp
    cli/cli_memory.cpp
    cli/cli_password.cpp
    cli/cli_password_line.cpp
    cli/cli_progress.cpp
    cli/cli_structure.cpp
    cli/cli_text.cpp)
