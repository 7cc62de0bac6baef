#!/usr/bin/env bash
# Checks the bash completion of both programs: option values, option names and the
# file names offered, in a folder of sample files. Argument: the completion folder.
set -u
completion_dir=$1
source "$completion_dir/tonbrix"
source "$completion_dir/tonbrix-decode"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
mkdir sub
touch game.img OLD.TAP side.wav deck.Flac notes.txt side_a.json

failures=0
# Each case: the function, the expected words sorted and joined by blanks, then the
# command line with the word under the cursor last (an empty word: cursor after a blank).
check() {
  local function=$1 expected=$2
  shift 2
  COMP_WORDS=("$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  "$function"
  local actual
  actual=$(printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ')
  if [[ ${actual% } != "$expected" ]]; then
    echo "FAIL: ${COMP_WORDS[*]}|: expected '$expected', got '${actual% }'"
    failures=$((failures + 1))
  fi
}

check _tonbrix 'H L M' tonbrix -sr ''
check _tonbrix 'L' tonbrix game.img -sr L
check _tonbrix 'H L M' tonbrix -list -o x.wav -sr ''
check _tonbrix '' tonbrix -amp ''
check _tonbrix '-list' tonbrix -li
check _tonbrix 'OLD.TAP game.img sub' tonbrix ''
check _tonbrix '- side.wav sub' tonbrix -o ''
check _tonbrix 'OLD.TAP game.img sub' tonbrix -o -sr ''
check _tonbrix_decode 'A L R' tonbrix-decode -ch ''
check _tonbrix_decode 'deck.Flac side.wav sub' tonbrix-decode -vb ''
check _tonbrix_decode 'game.img sub' tonbrix-decode -o ''
check _tonbrix_decode '-mato' tonbrix-decode -ma
check _tonbrix_decode 'side_a.json sub' tonbrix-decode -report ''
check _tonbrix_decode 'deck.Flac side.wav sub' tonbrix-decode -report r.json side.wav ''
check _tonbrix_decode '--help --version' tonbrix-decode --

exit $((failures != 0))
