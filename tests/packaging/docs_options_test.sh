#!/usr/bin/env bash
# Every option that zq417-flash's --help names (the program's and each subcommand's) is explained
# in its manual page and in the Windows zip's README.txt, so that neither falls behind the program.
#
# Usage: docs_options_test.sh ZQ417-FLASH MANUAL-PAGE.1.gz README.txt.in
set -uo pipefail
program=$1 page=$2 readme=$3

# Options as the help's first column names them: "  -p,--port PORT ...", "  --json".
options_of() {
    "$program" "$@" --help | sed -n 's/^  \{1,\}\(-[^ ]*\).*/\1/p' | tr ',' '\n' | grep -- '^--'
}

subcommands=$("$program" --help | sed -n '/^Subcommands:/,/^$/s/^  \{1,\}\([a-z][a-z0-9-]*\) .*/\1/p')
[ -n "$subcommands" ] || { echo "FAIL: no subcommands found in --help"; exit 1; }

manual=$(zcat "$page" | sed 's/\\-/-/g') || { echo "FAIL: cannot read $page"; exit 1; }
missing=0
for where in "" $subcommands; do
    # shellcheck disable=SC2086
    for option in $(options_of $where); do
        if ! grep -qF -- "$option" <<<"$manual"; then
            echo "FAIL: ${where:-zq417-flash} $option is not in the manual page"
            missing=$((missing + 1))
        fi
        if ! grep -qF -- "$option" "$readme"; then
            echo "FAIL: ${where:-zq417-flash} $option is not in README.txt"
            missing=$((missing + 1))
        fi
    done
done
echo "$(wc -w <<<"$subcommands") subcommands checked, $missing options undocumented"
[ "$missing" -eq 0 ]
