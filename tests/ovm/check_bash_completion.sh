#!/usr/bin/env bash
# Runs ovm's generated bash completion as bash does on Tab and checks it against ovm's help:
# every command and every option is offered, a text value or positional completes to file
# names, a number to nothing, a DIR to folders, and a set of allowed values to exactly them.
#
#   check_bash_completion.sh COMPLETION_FILE OVM
set -uo pipefail
completion=$(realpath "$1") ovm=$(realpath "$2")
# shellcheck source=tests/ovm/ovm_help.sh
source "$(dirname "$0")/ovm_help.sh"
# shellcheck disable=SC1090
source "$completion"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" && touch some-file && mkdir some-folder
failures=0

# The words the completion offers with the cursor on the last argument.
offered() {
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMPREPLY=()
  _ovm
  printf '%s\n' "${COMPREPLY[@]}" | sort
}

expect() {
  local what=$1 expected=$2 actual=$3
  [ "$expected" = "$actual" ] && return
  echo "FAIL: $what: expected [${expected//$'\n'/ }], offered [${actual//$'\n'/ }]"
  failures=$((failures + 1))
}

expect_offers() {
  local what=$1 word=$2 actual=$3
  grep -qxF -- "$word" <<<"$actual" && return
  echo "FAIL: $what: '$word' not among [${actual//$'\n'/ }]"
  failures=$((failures + 1))
}

# What a value of the type the help shows completes to.
expect_value() {
  local what=$1 type=$2 actual=$3
  case $type in
    *'{'*)
      local set=${type#*\{}
      expect "$what" "$(tr ',' '\n' <<<"${set%%\}*}" | sed 's/->.*//' | sort)" "$actual" ;;
    *DIR*) expect "$what" "some-folder" "$actual" ;;
    TEXT*) expect "$what" "$(printf '%s\n' some-file some-folder | sort)" "$actual" ;;
    *) expect "$what" "" "$actual" ;;
  esac
}

# The options of ovm itself, then of each command, with their values.
check_options() {
  local names type name all
  all=$(offered ovm "$@" -)
  while IFS=$'\t' read -r names type; do
    for name in ${names//,/ }; do expect_offers "ovm $* -" "$name" "$all"; done
    # The value only after the last name, to keep the test quick: the completion gives every
    # name of an option the same entry.
    [ -n "$type" ] && expect_value "ovm $* $name" "$type" "$(offered ovm "$@" "$name" "")"
  done < <(ovm_help_entries Options "$@")
}

listed=$(ovm_commands)
[ -n "$listed" ] || { echo "FAIL: '$ovm --help' lists no commands"; exit 1; }
check_options
commands=$(offered ovm "")
for command in $listed; do
  expect_offers "ovm" "$command" "$commands"
  check_options "$command"
  before=()
  while IFS=$'\t' read -r names type; do
    expect_value "ovm $command ${before[*]} ($names)" "$type" "$(offered ovm "$command" "${before[@]}" "")"
    before+=(x)
  done < <(ovm_help_entries Positionals "$command")
done

[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "bash completion offers every command and option of ovm's help"
