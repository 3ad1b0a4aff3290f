#!/usr/bin/env bash
# Checks that every folder includes only its own headers and those of the layers below it
# (docs/architecture.md draws the layers). A folder not listed here (tests, fuzz, bench)
# may include any layer. Prints each include that crosses a layer the wrong way and exits 1
# when there is one.
#
#   scripts/check_layers.sh [ROOT]
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

# folder: the folders below it that it may include, besides its own.
declare -A allowed=(
  [abi]=""
  [framework]="abi"
  [factory]="abi"
  [modules]="abi framework factory"
  [host]="abi"
  [engine]="abi host"
  [description]="abi host engine"
  [validate]="abi host engine description"
  [ovm/core]="abi host engine description"
  [ovm/live]="abi host engine description ovm/core"
  [ovm/cli]="abi host engine description ovm/core ovm/live validate"
  [examples]="abi host"
  [lv2]="abi host engine description ovm/core"
)

status=0
for folder in "${!allowed[@]}"; do
  [ -d "$folder" ] || continue
  while IFS= read -r file; do
    while IFS=: read -r line included; do
      from=$(dirname "$included")
      ok=0
      for permitted in "$folder" ${allowed[$folder]}; do
        [ "$from" = "$permitted" ] && ok=1
      done
      if [ "$ok" -eq 0 ]; then
        echo "$file:$line: includes $included; $folder may include only: ${allowed[$folder]:-nothing outside itself}"
        status=1
      fi
    done < <(grep -n -o '^#include "[^"]*"' "$file" | sed -E 's/^([0-9]+):#include "(.*)"$/\1:\2/')
  done < <(find "$folder" -maxdepth 1 -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.c' -o -name '*.in' \))
done
[ "$status" -eq 0 ] && echo "include layers: every include goes to the folder itself or a layer below"
exit "$status"
