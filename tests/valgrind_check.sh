#!/usr/bin/env bash
# Runs a listing, exports in every protocol (also to standard output) and a failing export
# of a generated tape under valgrind, on a release build with debug information. Fails on
# any memory error or leak.
# Usage: tests/valgrind_check.sh [BUILD_FOLDER]   (default: build/valgrind)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/valgrind}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS=-g \
  -DTONBRIX_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target tonbrix tonbrix-decode make_demo_tape

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/make_demo_tape" "$work/tape.img"

failed=0
# Runs a program under valgrind and expects exit code $2; valgrind's own failure is 1, a
# code neither program returns.
run() {
  local program=$1 expected=$2
  shift 2
  local status=0
  valgrind --quiet --error-exitcode=1 --leak-check=full --show-leak-kinds=all \
    --errors-for-leak-kinds=all --track-fds=no "$build/$program" "$@" \
    >"$work/stdout" 2>"$work/stderr" || status=$?
  if [ "$status" -ne "$expected" ]; then
    echo "!! $program $*: exit $status, expected $expected"
    cat "$work/stderr"
    failed=1
  else
    echo "ok $program $*"
  fi
}

check() { run tonbrix "$@"; }

check 0 -list "$work/tape.img"
check 0 -vb -o "$work/normal.wav" "$work/tape.img"
check 0 -dbl -rph -sr H -blk 3,1-2,2 -o "$work/double.wav" "$work/tape.img"
check 0 -mato -sr L -gap 1 -o "$work/mato.wav" "$work/tape.img"
check 16 -o /dev/full "$work/tape.img"
# The same export on standard output: counted first, then written, byte for byte.
check 0 -mato -sr L -gap 1 -o - "$work/tape.img"
if ! cmp -s "$work/stdout" "$work/mato.wav"; then
  echo "!! -o - differs from -o FILE"
  failed=1
fi
head -c 1000 "$work/tape.img" >"$work/cut.img"
check 18 -list "$work/cut.img"
check 19 -blk 1,x "$work/tape.img"
# The decoder reads the export back; the image it writes must be the tape itself.
run tonbrix-decode 0 -o "$work/decoded.img" "$work/normal.wav"
if ! cmp -s "$work/tape.img" "$work/decoded.img"; then
  echo "!! tonbrix-decode did not give back the tape"
  failed=1
fi
run tonbrix-decode 20 "$work/tape.img"
# Standard input, as in live use, through the same decode.
status=0
valgrind --quiet --error-exitcode=1 --leak-check=full --show-leak-kinds=all \
  --errors-for-leak-kinds=all "$build/tonbrix-decode" -o "$work/piped.img" - \
  <"$work/normal.wav" >"$work/stdout" 2>"$work/stderr" || status=$?
if [ "$status" -ne 0 ] || ! cmp -s "$work/tape.img" "$work/piped.img"; then
  echo "!! tonbrix-decode - : exit $status"
  cat "$work/stderr"
  failed=1
else
  echo "ok tonbrix-decode - (standard input)"
fi
exit $failed
