#!/usr/bin/env bash
# Kills vtxt with SIGKILL at random moments while it replaces an existing
# document (encrypt --force onto it, passwd on it), many times, and checks
# after every kill that the document still opens, to the old text or the new
# one, under the old password or the new one. Never failing to open is the
# property; a leftover temporary file beside it is allowed (nothing can remove
# it once the writer is killed) but counted.
#   scripts/crash-consistency.sh [--kills N] [--lines L] [--vtxt PATH] [--seed S]
# --lines sets the size of the two texts (default 90000 lines, about 3 MiB:
# three blocks, so kills land between the writes of different blocks).
# Exits 1 on the first document that does not open or holds other text.
set -u

kills=200
lines=90000
vtxt=""
seed="${RANDOM}"
while [ $# -gt 0 ]; do
    case "$1" in
        --kills) kills="$2"; shift 2 ;;
        --lines) lines="$2"; shift 2 ;;
        --vtxt) vtxt="$2"; shift 2 ;;
        --seed) seed="$2"; shift 2 ;;
        *) echo "usage: $0 [--kills N] [--lines L] [--vtxt PATH] [--seed S]" >&2; exit 2 ;;
    esac
done
cd "$(dirname "${BASH_SOURCE[0]}")/.."
if [ -z "$vtxt" ]; then
    cmake --preset linux >/dev/null && cmake --build --preset linux --target vtxt >/dev/null || exit 1
    vtxt="$PWD/build/linux/src/cli/vtxt"
fi
RANDOM=$seed

work="$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-crash-XXXXXX")"
keep=0
trap 'if [ $keep = 0 ]; then rm -rf "$work"; else echo "evidence kept in $work" >&2; fi' EXIT
cd "$work" || exit 1

# Two texts large enough that a save takes a while (several blocks, so a kill
# can land between any two writes), and two passwords.
seq 1 "$lines" | sed 's/^/old text of the document, line /' >old.txt
seq 1 "$lines" | sed 's/^/NEW text after the save, line /' >new.txt
printf 'first password\n' >pw1
printf 'second p\xc3\xa4ssword\r\n' >pw2
document="$work/notes.vtxt"

"$vtxt" encrypt old.txt -o "$document" --password-file pw1 --hint "crash test" || {
    echo "cannot create the first document" >&2
    exit 1
}
password=pw1

# The text the document holds now and under which password; fails when it
# opens under neither password or holds neither text.
check_document() {
    local found=""
    for candidate in pw1 pw2; do
        if "$vtxt" cat "$document" --password-file "$candidate" >opened.txt 2>opened.err; then
            found="$candidate"
            break
        fi
    done
    if [ -z "$found" ]; then
        echo "kill $1: the document does not open:" >&2
        cat opened.err >&2
        keep=1
        return 1
    fi
    if ! cmp -s opened.txt old.txt && ! cmp -s opened.txt new.txt; then
        echo "kill $1: the document opens to neither the old nor the new text" >&2
        keep=1
        return 1
    fi
    password="$found"
    return 0
}

# How long an undisturbed run of each operation takes, in microseconds, so the
# kills spread over the whole of a run.
elapsed_us() {
    local start end
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s%N)
    echo $(((end - start) / 1000))
}
other_password() { if [ "$password" = pw1 ]; then echo pw2; else echo pw1; fi; }
encrypt_us=$(elapsed_us "$vtxt" encrypt new.txt -o "$document" --password-file "$password" --force)
passwd_us=$(elapsed_us "$vtxt" passwd "$document" --password-file "$password" --new-password-file "$(other_password)" --keep-hint)
check_document 0 || exit 1
echo "undisturbed: encrypt --force ${encrypt_us} us, passwd ${passwd_us} us; seed $seed"

killed=0
finished=0
# Counts only the runs that were really killed; a run that ended before its
# kill still has its outcome checked.
for ((k = 1; killed < kills && k <= 3 * kills; k++)); do
    if ((k % 2)); then
        text=old.txt
        ((k % 4 == 1)) && text=new.txt
        span=$encrypt_us
        "$vtxt" encrypt "$text" -o "$document" --password-file "$password" --force >/dev/null 2>&1 &
    else
        span=$passwd_us
        "$vtxt" passwd "$document" --password-file "$password" --new-password-file "$(other_password)" \
            --keep-hint >/dev/null 2>&1 &
    fi
    pid=$!
    delay=$(((RANDOM * 32768 + RANDOM) % (span + 1)))
    sleep "$(printf '%d.%06d' $((delay / 1000000)) $((delay % 1000000)))"
    if kill -KILL "$pid" 2>/dev/null; then
        killed=$((killed + 1))
    else
        finished=$((finished + 1))
    fi
    wait "$pid" 2>/dev/null
    check_document "$k" || exit 1
done

leftovers=$(find "$work" -maxdepth 1 -type f ! -name '*.txt' ! -name 'pw?' ! -name 'opened.*' ! -name notes.vtxt | wc -l)
if ((killed < kills)); then
    echo "only $killed of $kills runs were killed mid-run" >&2
    exit 1
fi
echo "crash consistency: $((k - 1)) runs, $killed killed mid-run, $finished finished before the kill;" \
    "the document opened every time; $leftovers temporary files left by killed writers"
