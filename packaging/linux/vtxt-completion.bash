# Bash completion for vtxt: commands, the options of each command, and files
# (containers, .vtxt and .kzx, where a container is read).
#
# The commands and options come from the installed vtxt's own help
# ("vtxt --help", "vtxt COMMAND --help"), so they always match the version
# that runs; an option whose help names a value (FILE, OUT, N, TEXT) is
# completed with a file name where that value is a file, and with nothing
# otherwise.
#
# Installed as share/bash-completion/completions/vtxt, where bash-completion
# finds it; or source it from ~/.bashrc.

# The lines of vtxt's help that define options, for command $2 (empty: the
# tool's own help), of the vtxt at $1.
_vtxt_option_lines()
{
    local line
    while IFS= read -r line; do
        [[ $line =~ ^[[:space:]]+- ]] && printf '%s\n' "$line"
    done < <("$1" ${2:+"$2"} --help 2>/dev/null)
}

# The options of command $2, one a line: "name", or "name=KIND" for one that
# takes a value, KIND being "file" or "other". A help line defines its names
# first ("-o, --output OUT"), the value's name after the last of them.
_vtxt_options()
{
    local line rest value kind names name
    while IFS= read -r line; do
        rest=${line#"${line%%[![:space:]]*}"}
        names=()
        while [[ $rest =~ ^(--?[A-Za-z][A-Za-z0-9-]*)(,[[:space:]]*)?(.*)$ ]]; do
            names+=("${BASH_REMATCH[1]}")
            rest=${BASH_REMATCH[3]}
            [[ -n ${BASH_REMATCH[2]} ]] || break
        done
        value=""
        [[ $rest =~ ^[[:space:]]([A-Z][A-Z0-9]*)([[:space:]]|$) ]] && value=${BASH_REMATCH[1]}
        case $value in
            "") kind="" ;;
            FILE | OUT | IN | PATH) kind="=file" ;;
            *) kind="=other" ;;
        esac
        for name in "${names[@]}"; do
            printf '%s%s\n' "$name" "$kind"
        done
    done < <(_vtxt_option_lines "$1" "$2")
    printf '%s\n' --help
}

# The commands, from the "commands:" part of the tool's help.
_vtxt_commands()
{
    local line listing=0 found=""
    while IFS= read -r line; do
        if [[ $line == commands:* ]]; then
            listing=1
            continue
        fi
        if ((listing)); then
            [[ $line =~ ^[[:space:]]+([a-z][a-z0-9-]*) ]] || break
            found+=" ${BASH_REMATCH[1]}"
        fi
    done < <("$1" --help 2>/dev/null)
    printf '%s\n' "${found:-encrypt decrypt cat info verify passwd} help"
}

# Files under $2 for compgen: all of them, or (containers) directories and
# .vtxt and .kzx files, in any letter case.
_vtxt_files()
{
    local kind=$1 cur=$2 file lower
    while IFS= read -r file; do
        lower=${file,,}
        if [[ $kind == all || -d $file || $lower == *.vtxt || $lower == *.kzx ]]; then
            COMPREPLY+=("$file")
        fi
    done < <(compgen -f -- "$cur")
}

_vtxt()
{
    COMPREPLY=()
    # The vtxt being completed, whose help is asked: "~/bin/vtxt" as typed
    # has its tilde still.
    local vtxt=${COMP_WORDS[0]/#\~/$HOME}
    local cur=${COMP_WORDS[COMP_CWORD]}
    local prev=""
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}

    # The command is the first word after the program's name.
    if ((COMP_CWORD == 1)); then
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "--help --version -h -V" -- "$cur"))
        else
            COMPREPLY=($(compgen -W "$(_vtxt_commands "$vtxt")" -- "$cur"))
        fi
        return 0
    fi
    local command=${COMP_WORDS[1]}
    if [[ $command == help ]]; then
        ((COMP_CWORD == 2)) && COMPREPLY=($(compgen -W "$(_vtxt_commands "$vtxt")" -- "$cur"))
        return 0
    fi

    local options=() names=() entry k
    while IFS= read -r entry; do
        options+=("$entry")
        names+=("${entry%%=*}")
    done < <(_vtxt_options "$vtxt" "$command")

    # After "--" every word is a file name.
    local ended=0
    for ((k = 2; k < COMP_CWORD; ++k)); do
        [[ ${COMP_WORDS[k]} == -- ]] && ended=1
    done

    # The value of an option, given as the next word or after "=".
    local option=$prev value=$cur
    if ((!ended)) && [[ $cur == --*=* ]]; then
        option=${cur%%=*}
        value=${cur#*=}
    fi
    if ((!ended)); then
        for entry in "${options[@]}"; do
            if [[ $entry == "$option="* ]]; then
                [[ ${entry#*=} == file ]] && _vtxt_files all "$value"
                if [[ $cur == --*=* ]]; then
                    COMPREPLY=("${COMPREPLY[@]/#/$option=}")
                fi
                return 0
            fi
        done
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "${names[*]}" -- "$cur"))
            return 0
        fi
    fi

    # Encrypt reads any file; every other command reads a container.
    if [[ $command == encrypt ]]; then
        _vtxt_files all "$cur"
    else
        _vtxt_files containers "$cur"
    fi
    return 0
}

complete -o filenames -F _vtxt vtxt
