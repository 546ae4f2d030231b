#!/usr/bin/env bash
# The bash completion of zq417-flash, against the real program and against a stand-in whose
# --help has grown (a subcommand, a global option with a value): the completion must follow
# what --help says, without being edited.
#
# Usage: completion_test.sh COMPLETION-SCRIPT ZQ417-FLASH
set -uo pipefail
completion=$1 program=$2

# shellcheck source=/dev/null
source "$completion" || { echo "the completion script does not load"; exit 1; }
complete -p zq417-flash >/dev/null || { echo "no completion registered for zq417-flash"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0 passed=0

# Completes the words given, the last one being the word under the cursor.
complete_words() {
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _zq417_flash
    printf '%s\n' "${COMPREPLY[@]}"
}

# expect NAME WANTED UNWANTED -- WORDS...: every word of WANTED is offered, none of UNWANTED.
expect() {
    local name=$1 wanted=$2 unwanted=$3
    shift 4
    local offered word ok=1
    offered=$(complete_words "$@")
    for word in $wanted; do
        grep -qxF -- "$word" <<<"$offered" || { echo "FAIL $name: $word not offered"; ok=; }
    done
    for word in $unwanted; do
        grep -qxF -- "$word" <<<"$offered" && { echo "FAIL $name: $word offered"; ok=; }
    done
    if [ -n "$ok" ]; then
        passed=$((passed + 1))
    else
        echo "  offered: $(tr '\n' ' ' <<<"$offered")"
        failures=$((failures + 1))
    fi
}

touch "$work/board.hex" "$work/board.bin"
mkdir "$work/images"

# The real program.
expect "subcommands" "download update ports hex2bin save-bin" "--help" -- "$program" ""
expect "subcommand prefix" "download" "update ports" -- "$program" "d"
expect "top-level options" "--help --version" "--port download" -- "$program" "--"
expect "download options" "--port --trace --image -p" "--with-header" -- "$program" download "-"
expect "save-bin options" "--with-header --image" "--port --trace" -- "$program" save-bin "--"
# Which ports exist depends on the machine: whatever is offered must be a port name, and auto is
# always among them.
ports=$(complete_words "$program" download --port "")
if grep -qvE '^(/dev/.+|COM[0-9]+|auto)?$' <<<"$ports" || ! grep -qx auto <<<"$ports"; then
    echo "FAIL ports: offered $(tr '\n' ' ' <<<"$ports")"
    failures=$((failures + 1))
else
    passed=$((passed + 1))
fi
expect "port after =" "" "--trace download" -- "$program" download --port = ""
expect "image file" "$work/board.hex $work/board.bin" "COM1" -- \
    "$program" download --image "$work/b"
expect "positional files" "$work/board.hex" "--with-header" -- "$program" hex2bin "$work/board.h"
expect "a flag takes no value" "" "COM1 $work/board.hex" -- "$program" download --trace "$work/b"
expect "no files where none are taken" "" "$work/board.hex" -- "$program" ports "$work/b"

# A program whose --help has grown since the completion was written.
newer=$work/zq417-flash
cat >"$newer" <<'EOF'
#!/bin/sh
case "$1 $2" in
"ports "*) printf 'Serial devices:\n  /dev/ttyUSB7\nCOM ports:\n  COM1  /dev/ttyS0  absent\n  COM2  /dev/ttyS1  present\n' ;;
"info --help")
    printf 'Read what the board holds\nUsage: zq417-flash info [OPTIONS]\n\nOptions:\n'
    printf '  -h,--help                   Print this help message and exit\n'
    printf "  -p,--port PORT              A port, or 'auto' for the only board found\n"
    printf '  --json                      Print the result as JSON\n' ;;
*)
    printf 'Usage: zq417-flash [OPTIONS] SUBCOMMAND\n\nOptions:\n'
    printf '  -h,--help                   Print this help message and exit\n'
    printf '  --latency MS                Extra wait for adapters\n\n'
    printf 'Subcommands:\n  info                        Read what the board holds\n' ;;
esac
EOF
chmod +x "$newer"
expect "a new subcommand" "info" "" -- "$newer" ""
expect "a global option's value is not a subcommand" "--json --port" "--latency" -- \
    "$newer" --latency 5 info "--"
expect "ports found and keywords of the help" "/dev/ttyUSB7 COM2 /dev/ttyS1 auto" \
    "COM1 /dev/ttyS0 --json" -- "$newer" info --port ""
expect "short port option" "COM2" "/dev/ttyUSB7" -- "$newer" info -p "C"
expect "port after =" "auto" "" -- "$newer" info --port = "a"

echo "completion: $passed passed, $failures failed"
[ "$failures" -eq 0 ]
