# The fuzz targets and their options, for scripts/fuzz.sh (the same list as
# fuzz/targets.cmake).
FUZZ_TARGETS=(decode_utf8 detect_encoding expand_line_breaks repair_surrogates plain_file_chain
              container_text_chain header_reader open_container round_trip system_path
              verify_walk terminal_escape vtxt_utf16 password_line command_line)

# Inputs longer than this add run time, not paths.
fuzz_max_len() {
    case "$1" in
        header_reader | open_container | verify_walk) echo 16384 ;;
        command_line) echo 1024 ;;
        *) echo 4096 ;;
    esac
}

fuzz_dictionary() {
    case "$1" in
        header_reader | open_container | verify_walk) echo fuzz/dict/container.dict ;;
        command_line) echo fuzz/dict/command_line.dict ;;
        round_trip | password_line) echo "" ;;
        *) echo fuzz/dict/text.dict ;;
    esac
}

# Further libFuzzer options. The UTF-16 input conversion explains each refusal
# on standard error, as vtxt does; closing the target's standard error keeps
# the log readable (libFuzzer and the sanitizers report through a copy of it).
fuzz_extra_options() {
    case "$1" in
        vtxt_utf16) echo "-close_fd_mask=2" ;;
        *) echo "" ;;
    esac
}
