#!/usr/bin/env bash
# Writes ovm's manual page with help2man from the program's own help: the page of
# `ovm --help`, a COMMANDS section made of each `ovm COMMAND --help`, and the hand-written
# sections of ovm.h2m. The commands are those `ovm --help` lists, so a new command or
# option is in the page without a list to keep here.
#
#   make_man_page.sh OVM VERSION HAND_WRITTEN_INCLUDE OUTPUT
set -euo pipefail
ovm=$1 version=$2 hand_written=$3 output=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The version is given rather than read from `ovm --version`, whose further lines (the
# compiler, the library this build found) describe the build machine, not the program.
page() { help2man --no-info --version-string="$version" "$@" "$ovm"; }

help=$("$ovm" --help)
commands=$(awk '/^Subcommands:$/ { listed = 1; next } listed && /^  [a-z]/ { print $1 } listed && /^$/ { exit }' <<<"$help")
[ -n "$commands" ] || { echo "make_man_page.sh: '$ovm --help' lists no commands" >&2; exit 1; }

# One command's page becomes a subsection: its synopsis and description, its positionals
# and options as lists under bold headings. The footer it shares with ovm's own page is
# left out.
as_subsection() {
  awk -v command="$1" '
    /^\.SH SYNOPSIS$/ { print ".SS \"ovm " command "\""; started = 1; next }
    !started { next }
    /^\.SH DESCRIPTION$/ { print ".PP"; next }
    /^\.SH OPTIONS$/ { print ".PP\n.B Options:"; next }
    /^\.SS / { sub(/^\.SS "/, ""); sub(/"$/, ""); print ".PP\n.B " $0; next }
    /^\.PP$/ { paragraph = 1; next }
    paragraph && /^Exit status/ { exit }
    paragraph { print ".PP"; paragraph = 0 }
    { print }'
}

{
  echo "[COMMANDS]"
  for command in $commands; do page --help-option="$command --help" | as_subsection "$command"; done
} >"$work/commands.h2m"

# The name line says what ovm is, in the words its help starts with.
name=$(head -1 <<<"$help" | sed 's/^ovm: //')
page --name="$name" --include="$work/commands.h2m" --include="$hand_written" --output="$output"
