#!/usr/bin/env bash
# Checks that a program's usage text (-h) and its man page list the same options, that the
# exit codes the usage text explains are the page's, and that the page's footer names the
# version the program reports (-v).
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
  # Every exit code that the usage text explains is an entry of the page's EXIT STATUS.
  listed=$(awk '/^\.SH /{ inside = ($2 == "EXIT") } inside && tagged { print } { tagged = /^\.TP/ }' \
    "$page" | grep -o '[0-9]\+')
  for code in $("$program" -h | sed -n 's/^Exit code \([0-9]*\):.*/\1/p'); do
    if ! grep -qx "$code" <<<"$listed"; then
      echo "FAIL: $program -h explains exit code $code, which $page does not list"
      failures=$((failures + 1))
    fi
  done
  version=$("$program" -v | sed -n '1s/^[^ ]* \([^ ]*\) .*/\1/p')
  if ! grep -q "^\.TH [^ ]* 1 [^ ]* \"Tonbrix $version\" " "$page"; then
    echo "FAIL: the .TH line of $page does not name version $version"
    failures=$((failures + 1))
  fi
done
exit $((failures != 0))
