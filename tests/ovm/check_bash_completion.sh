#!/usr/bin/env bash
# Runs ovm's generated bash completion as bash does on Tab and checks it against ovm's help:
# every command and every option is offered, a value or positional completes to file names,
# except a number (to nothing), a DIR (to folders) and a set of allowed values (to them).
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

# Completes as bash does on Tab, with the cursor on the last word; the offer is in COMPREPLY.
complete_words() {
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMPREPLY=()
  _ovm
}

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# Whether a word is among the rest.
among() {
  local word=$1 candidate
  shift
  for candidate in "$@"; do [[ $candidate == "$word" ]] && return 0; done
  return 1
}

# The last completion offered exactly these words, in any order.
expect_offer() {
  local what=$1 word
  shift
  [ ${#COMPREPLY[@]} -eq $# ] || { fail "$what: expected [$*], offered [${COMPREPLY[*]}]"; return; }
  for word in "$@"; do
    among "$word" "${COMPREPLY[@]}" || { fail "$what: expected [$*], offered [${COMPREPLY[*]}]"; return; }
  done
}

# What a value of the type the help shows completes to.
expect_value() {
  local what=$1 type=$2 set
  local -a words
  case $type in
    *'{'*)
      set=${type#*\{}
      IFS=, read -ra words <<<"${set%%\}*}"
      expect_offer "$what" "${words[@]%%->*}" ;;
    *DIR*) expect_offer "$what" some-folder ;;
    INT* | UINT* | FLOAT* | NUMBER* | BOOLEAN*) expect_offer "$what" ;;
    *) expect_offer "$what" some-file some-folder ;;
  esac
}

# The options of ovm itself, or of a command, and their values.
check_options() {
  local names type name
  local -a all
  complete_words ovm "$@" -
  all=("${COMPREPLY[@]}")
  while IFS=$'\t' read -r names type; do
    for name in ${names//,/ }; do among "$name" "${all[@]}" || fail "ovm $* -: $name not offered"; done
    # The value only after the last name, to keep the test quick: the completion gives every
    # name of an option the same entry.
    [ -z "$type" ] && continue
    complete_words ovm "$@" "$name" ""
    expect_value "ovm $* $name" "$type"
  done < <(ovm_help_entries Options "$@")
}

listed=$(ovm_commands)
[ -n "$listed" ] || { echo "FAIL: '$ovm --help' lists no commands"; exit 1; }
check_options
for command in $listed; do
  complete_words ovm ""
  among "$command" "${COMPREPLY[@]}" || fail "ovm: command $command not offered"
  check_options "$command"
  before=()
  while IFS=$'\t' read -r names type; do
    complete_words ovm "$command" "${before[@]}" ""
    expect_value "ovm $command ${before[*]} ($names)" "$type"
    before+=(x)
  done < <(ovm_help_entries Positionals "$command")
done

[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "bash completion offers every command and option of ovm's help"
