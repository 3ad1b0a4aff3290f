# Sourced by the tests of ovm's generated files: what ovm's own help lists, read as a user
# reads it, so that the files are checked against the help rather than against the code
# that wrote them. $ovm is the program.

# The commands under "Subcommands:" in `ovm --help`.
ovm_commands() {
  "$ovm" --help | awk '/^Subcommands:$/ { listed = 1; next } listed && /^  [a-z]/ { print $1 } listed && /^$/ { exit }'
}

# One line per entry of a section ("Options" or "Positionals") of `ovm [COMMAND] --help`:
# the entry's names (comma-separated), a tab, and its value type as the help shows it
# (empty for a flag; without what it needs, excludes or is required, and without the value
# a negated flag stands for, as in --no-connect{false}).
ovm_help_entries() {
  local section=$1
  shift
  "$ovm" "$@" --help | awk -v section="$section:" '
    $0 == section { listed = 1; next }
    listed && /^$/ { exit }
    listed && /^  [^ ]/ {
      sub(/^  /, ""); sub(/  .*/, "")
      names = $1; gsub(/\{[^}]*\}/, "", names); sub(/^[^ ]* ?/, "")
      sub(/ ?(\(Env:|Needs:|Excludes:).*/, ""); sub(/ REQUIRED$/, "")
      print names "\t" $0
    }'
}
