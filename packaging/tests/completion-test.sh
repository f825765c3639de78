#!/usr/bin/env bash
# completion-test.sh COMPLETION PROGRAM_DIR: runs the tokvane-cli completion on typed command
# lines, with the tokvane-cli of PROGRAM_DIR first on the PATH, and compares what it offers.
set -uo pipefail
completion=$1
export PATH="$2:$PATH"
# shellcheck source=/dev/null
source "$completion"

# The demo key's readers, as the completion must offer them after --reader: escaped for the shell.
mapfile -t demo_readers < <(tokvane-cli --demo readers | cut -f1)
escaped_readers=""
for name in "${demo_readers[@]}"; do
  printf -v quoted '%q' "$name"
  escaped_readers+="${escaped_readers:+|}$quoted"
done
[ "${#demo_readers[@]}" -ge 2 ] || { echo "FAIL: the demo key lists fewer than two readers"; exit 1; }

failures=0
checks=0
# check OFFERED WORD...: completing the last WORD (as readline splits the line: an escaped or
# quoted name is one word) offers exactly OFFERED, sorted and joined by '|'.
check() {
  local expected=$1
  shift
  COMP_WORDS=("$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _tokvane_cli
  local offered
  offered=$(printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort | paste -sd'|')
  expected=$(tr '|' '\n' <<<"$expected" | sed '/^$/d' | sort | paste -sd'|')
  checks=$((checks + 1))
  if [ "$offered" != "$expected" ]; then
    echo "FAIL: '$*' offered [$offered], expected [$expected]"
    failures=$((failures + 1))
  fi
}

check 'info|mode|oath|readers'                    tokvane-cli ''
check 'oath'                                      tokvane-cli o
check 'add|code|default|delete|list|reset'        tokvane-cli oath ''
check 'set|show'                                  tokvane-cli --json mode ''
check 'list'                                      tokvane-cli --reader X oath l
check ''                                          tokvane-cli oath list ''
check '--json'                                    tokvane-cli --j
check '--force|--format'                          tokvane-cli oath add mail --f
check 'base32|hex|uri'                            tokvane-cli oath add mail --format ''
check '6|8'                                       tokvane-cli oath add mail --digits ''
check '--yes'                                     tokvane-cli oath reset --y
check ''                                          tokvane-cli readers --y
check "$escaped_readers"                          tokvane-cli --demo --reader ''
check 'VORTAN\ HID\ DEVICE\ KB\ 0'                tokvane-cli --demo oath list --reader 'VORTAN\ HID\ DEVICE\ K'
check 'VORTAN HID DEVICE U2F 1'                   tokvane-cli --demo --reader '"VORTAN HID DEVICE U'

[ "$failures" -eq 0 ] && echo "completion: $checks command lines complete as expected"
exit $((failures > 0))
