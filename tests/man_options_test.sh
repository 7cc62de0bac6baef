#!/usr/bin/env bash
# Checks that a program's usage text (-h) and its man page list the same options, and that
# the page's footer names the version the program reports (-v).
# Arguments: pairs of program and man page.
set -u
failures=0
while (($# >= 2)); do
  program=$1 page=$2
  shift 2
  # Usage lines name one option each: two blanks, then the option.
  usage=$("$program" -h | sed -n 's/^  \(-[a-z]*\).*/\1/p' | sort)
  # In the OPTIONS section each option is the first word after a .TP line.
  manual=$(awk '/^\.SH /{ inside = ($2 == "OPTIONS") } inside && tagged { print $2 } { tagged = /^\.TP/ }' \
    "$page" | sed 's/^\\-/-/' | sort)
  if [[ -z $usage || $usage != "$manual" ]]; then
    echo "FAIL: $page and $program -h differ"
    diff <(echo "$usage") <(echo "$manual")
    failures=$((failures + 1))
  fi
  version=$("$program" -v | sed -n '1s/^[^ ]* \([^ ]*\) .*/\1/p')
  if ! grep -q "^\.TH [^ ]* 1 [^ ]* \"Tonbrix $version\" " "$page"; then
    echo "FAIL: the .TH line of $page does not name version $version"
    failures=$((failures + 1))
  fi
done
exit $((failures != 0))
