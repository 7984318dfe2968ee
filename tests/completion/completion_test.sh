#!/usr/bin/env bash
# vtxt's bash completion, called as bash calls it: COMP_WORDS and COMP_CWORD
# set, _vtxt run, COMPREPLY read. The vtxt it asks is the one just built.
#   completion_test.sh VTXT_BINARY COMPLETION_SCRIPT
set -u
vtxt_binary=$1
completion=$2
failures=0

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/files/sub dir"
ln -s "$vtxt_binary" "$work/bin/vtxt"
PATH="$work/bin:$PATH"
cd "$work/files" || exit 1
touch notes.vtxt OLD.KZX plain.txt "my notes.vtxt" -- "-odd.vtxt"

# shellcheck source=/dev/null
source "$completion"

# The candidates for the last of the words, sorted, on one line.
candidates()
{
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    COMP_LINE="$*"
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    _vtxt
    if ((${#COMPREPLY[@]} > 0)); then
        printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd '|' -
    fi
}

report()
{
    if (($1)); then
        echo "ok   $2"
    else
        echo "FAIL $2: $3"
        failures=$((failures + 1))
    fi
}

# expect NAME "a|b|c" WORDS...: exactly these candidates.
expect()
{
    local name=$1 expected=$2 got
    shift 2
    got=$(candidates "$@")
    [[ $got == "$expected" ]]
    report $((!$?)) "$name" "got [$got], expected [$expected]"
}

# offers NAME "a b" "c d" WORDS...: the first among the candidates, the second not.
offers()
{
    local name=$1 wanted=$2 unwanted=$3 got word ok=1 why=""
    shift 3
    got="|$(candidates "$@")|"
    for word in $wanted; do
        [[ $got == *"|$word|"* ]] || { ok=0; why+=" missing $word"; }
    done
    for word in $unwanted; do
        [[ $got != *"|$word|"* ]] || { ok=0; why+=" offers $word"; }
    done
    report $ok "$name" "${why# } in [$got]"
}

expect "commands" "cat|decrypt|encrypt|help|info|passwd|verify" vtxt ""
expect "a command's beginning" "encrypt" vtxt en
expect "the tool's options" "--version" vtxt --v
expect "help takes a command" "verify" vtxt help ve
offers "encrypt's options" "--output -o --hint --from-utf16 --force --password-file --help" "--raw --json --keep-hint" \
    vtxt encrypt -
offers "decrypt's options" "--output --raw --force --password-file" "--hint --json" vtxt decrypt --
offers "info's options" "--json --help" "--output --raw --password-file" vtxt info --
offers "verify's options" "--ask-password --password-file" "--output --json" vtxt verify --
offers "passwd's options" "--hint --keep-hint --password-file --new-password-file" "--output --raw" vtxt passwd --

expect "containers to read" "-odd.vtxt|OLD.KZX|my notes.vtxt|notes.vtxt|sub dir" vtxt cat ""
expect "a container's beginning" "notes.vtxt" vtxt decrypt no
expect "one container after another" "-odd.vtxt|OLD.KZX|my notes.vtxt|notes.vtxt|sub dir" vtxt info notes.vtxt ""
expect "any file to encrypt" "-odd.vtxt|OLD.KZX|my notes.vtxt|notes.vtxt|plain.txt|sub dir" vtxt encrypt ""
expect "the output is any file" "plain.txt" vtxt encrypt notes.vtxt -o pl
expect "a password file is any file" "plain.txt" vtxt cat notes.vtxt --password-file pl
expect "a value after =" "--output=plain.txt" vtxt decrypt notes.vtxt --output=pl
expect "a hint is not a file" "" vtxt encrypt plain.txt --hint ""
expect "a descriptor is not a file" "" vtxt verify notes.vtxt --password-fd ""
offers "a dash begins an option" "--raw" "-odd.vtxt" vtxt cat -
expect "after -- only files" "-odd.vtxt" vtxt cat -- -
registration=$(complete -p vtxt)
[[ $registration == *"-F _vtxt"* && $registration == *"-o filenames"* ]]
report $((!$?)) "registered for vtxt" "$registration"

# Every option offered is one the command's parser takes.
for command in encrypt decrypt cat info verify passwd; do
    while IFS= read -r entry; do
        option=${entry%%=*}
        args=("$command" "$option")
        [[ $entry == *=* ]] && args+=(3)
        message=$(vtxt "${args[@]}" </dev/null 2>&1 >/dev/null)
        [[ $message != *"unknown option"* && $message != *"takes no option"* ]]
        report $((!$?)) "vtxt $command takes $option" "$message"
    done < <(_vtxt_options vtxt "$command")
done

echo "$failures failed"
exit $((failures > 0))
