# The fuzz targets and their options, for scripts/fuzz.sh (the same list as
# fuzz/targets.cmake).
FUZZ_TARGETS=(decode_utf8 detect_encoding expand_line_breaks repair_surrogates plain_file_chain
              container_text_chain header_reader open_container round_trip)
FUZZ_TARGETS+=(system_path)

# Inputs longer than this add run time, not paths.
fuzz_max_len() {
    case "$1" in
        header_reader | open_container) echo 16384 ;;
        *) echo 4096 ;;
    esac
}

fuzz_dictionary() {
    case "$1" in
        header_reader | open_container) echo fuzz/dict/container.dict ;;
        round_trip) echo "" ;;
        *) echo fuzz/dict/text.dict ;;
    esac
}
