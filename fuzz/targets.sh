# The fuzz targets and their options, for scripts/fuzz.sh. The list itself is
# read from fuzz/targets.cmake, its one home, which the builds use.
mapfile -t FUZZ_TARGETS < <(sed -n '/^set(TARNWICK_FUZZ_TARGETS/,/)/{s/set(TARNWICK_FUZZ_TARGETS//; s/)//; p}' \
    "$(dirname "${BASH_SOURCE[0]}")/targets.cmake" | tr -s ' ' '\n' | sed '/^$/d')

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
