#!/usr/bin/env bash
# Checks ovm's generated manual page: groff renders it without a warning, and it holds every
# command ovm's help lists, each with all of its options.
#
#   check_man_page.sh MAN_PAGE OVM     (MAN_PAGE empty: help2man was not found, skip)
set -uo pipefail
page=$1 ovm=$(realpath "$2")
# shellcheck source=tests/ovm/ovm_help.sh
source "$(dirname "$0")/ovm_help.sh"

[ -n "$page" ] || { echo "help2man was not found when the build was configured: no manual page"; exit 77; }
command -v groff >/dev/null || { echo "groff is not installed"; exit 77; }

warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1) || { echo "FAIL: groff failed: $warnings"; exit 1; }
[ -z "$warnings" ] || { echo "FAIL: groff warns on $page:"; echo "$warnings"; exit 1; }

# Wide lines, so that no name is broken across two.
text=$(groff -man -Tutf8 -rLL=400n -P-cbou "$page" 2>/dev/null)
listed=$(ovm_commands)
[ -n "$listed" ] || { echo "FAIL: '$ovm --help' lists no commands"; exit 1; }
failures=0
for command in $listed; do
  # The command's subsection: from its heading to the next heading.
  section=$(awk -v heading="ovm $command" '
    /^   [^ ]/ { inside = ($0 == "   " heading) }
    /^[^ ]/ { inside = 0 }
    inside' <<<"$text")
  if [ -z "$section" ]; then
    echo "FAIL: no section 'ovm $command'"
    failures=$((failures + 1))
    continue
  fi
  while IFS=$'\t' read -r names _; do
    for name in ${names//,/ }; do
      grep -qF -- "$name" <<<"$section" && continue
      echo "FAIL: 'ovm $command' lacks $name"
      failures=$((failures + 1))
    done
  done < <(ovm_help_entries Options "$command"; ovm_help_entries Positionals "$command")
done
[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "the manual page renders cleanly and describes every command and option"
