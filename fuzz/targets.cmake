# The fuzz targets, one file each in fuzz/targets; shared by the libFuzzer
# build (fuzz/CMakeLists.txt) and the corpus replay of the test presets.
set(TARNWICK_FUZZ_TARGETS
    decode_utf8
    detect_encoding
    expand_line_breaks
    repair_surrogates
    plain_file_chain
    container_text_chain
    header_reader
    open_container
    round_trip
    system_path
    verify_walk
    terminal_escape
    vtxt_utf16
    password_line
    command_line)
set(TARNWICK_FUZZ_DIR ${CMAKE_SOURCE_DIR}/fuzz)
