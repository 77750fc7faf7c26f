#!/usr/bin/env bash
# Checks the configured man pages: groff -man -ww reports nothing for any of them, each names the
# project's version, Synapsor(1) holds every key and message of the README's parameter file and
# message tables, and synapsor-tool(1), when the tool is built, shows every subcommand the tool's
# --help lists.
# Usage: check-man-pages.sh MAN_DIR VERSION README TOOL_OR_EMPTY PAGE...
set -u
man_dir=$1 version=$2 readme=$3 tool=$4
shift 4
if ! command -v groff >/dev/null 2>&1; then
    echo "groff is not installed (Debian groff-base): man page check skipped"
    exit 77
fi
failed=0
fail() {
    echo "FAIL: $*"
    failed=1
}
# One line of plain text per page: no line breaks, so no hyphenation, and no font changes.
render() {
    groff -man -Tascii -P-cbou -rLL=20000n "$1" 2>/dev/null | tr -s ' \n' '  '
}

for page in "$@"; do
    file=$man_dir/$page
    [ -f "$file" ] || { fail "$page was not configured"; continue; }
    warnings=$(groff -man -ww -z "$file" 2>&1)
    [ -z "$warnings" ] || fail "$page: groff warns: $warnings"
    grep -q "^\.TH .*\"Synapsor $version\"" "$file" || fail "$page: .TH does not name Synapsor $version"
done

# Keys: the first column of the README's key table; messages: the first column of the tables
# of the command line, the parameter file and the checks of the settings.
synapsor_text=$(render "$man_dir/Synapsor.1")
while IFS= read -r item; do
    [ -n "$item" ] || continue
    case $synapsor_text in
        *"$item"*) ;;
        *) fail "Synapsor.1 lacks \"$item\" of $(basename "$readme")" ;;
    esac
done < <(awk '
    /^### Keys/ || /^### Command line/ || /^### Reading the parameter file/ || /^### Checking the settings/ { on = 1; next }
    /^#/ { on = 0 }
    on && /^\| `/ { split($0, cell, "`"); print cell[2] }' "$readme")

if [ -n "$tool" ]; then
    if [ ! -f "$man_dir/synapsor-tool.1" ]; then
        fail "synapsor-tool is built but synapsor-tool.1 was not configured"
    else
        tool_text=$(render "$man_dir/synapsor-tool.1")
        commands=$("$tool" --help | awk 'tolower($0) ~ /^subcommands:/ { on = 1; next }
                                        on && /^[^ ]/ { on = 0 } on && NF { print $1 }')
        for command in $commands; do
            case $tool_text in
                *"synapsor-tool $command "*) ;;
                *) fail "synapsor-tool.1 does not show the subcommand $command" ;;
            esac
        done
    fi
fi

[ "$failed" = 0 ] && echo "man pages: $# checked"
exit "$failed"
