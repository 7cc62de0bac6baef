#!/usr/bin/env bash
# Builds the fuzz preset, writes the seed corpus and runs each fuzz target for the given
# number of seconds, one after another. Fails on any crash, leak, hang or sanitizer report.
# Usage: fuzz/run_fuzzers.sh SECONDS [TARGET...]   (default: every target that was built)
set -euo pipefail

seconds=${1:?usage: run_fuzzers.sh SECONDS [TARGET...]}
shift
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/fuzz
work=$root/fuzz/corpus-work

cd "$root"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2
"$build/fuzz/make_seed_corpus" "$work/seeds"
# Decoder seeds are recordings of seed tapes, short enough to fit in -max_len whole.
mkdir -p "$work/seeds/decode_wav_fuzzer"
for protocol in -rph -dbl -mato; do
  "$build/tonbrix" $protocol -sr L -o "$work/seeds/decode_wav_fuzzer/headerless$protocol.wav" \
    "$work/seeds/tape/headerless-only.img" >/dev/null
done
"$build/tonbrix" -mato -sr L -gap 1 -o "$work/seeds/decode_wav_fuzzer/header-mato.wav" \
  "$work/seeds/tape/checksum-faults.img" >/dev/null
# The other layouts libsndfile reads, where sox is at hand to write them.
if command -v sox >/dev/null; then
  seed=$work/seeds/decode_wav_fuzzer/header-mato
  sox "$seed.wav" -b 24 "$seed-24bit.wav"
  sox "$seed.wav" -e floating-point -b 32 "$seed-float.wav"
  sox "$seed.wav" -c 3 "$seed-3ch.wav"
  sox "$seed.wav" "$seed.flac"
  sox "$seed.wav" "$seed.aiff"
fi

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for candidate in tape_fuzzer options_fuzzer decode_wav_fuzzer merge_fuzzer; do
    if [ -x "$build/fuzz/$candidate" ]; then
      targets+=("$candidate")
    fi
  done
fi

# Inputs beyond these lengths add running time, not new paths.
maxLength() {
  case $1 in
    tape_fuzzer) echo 4096 ;;
    options_fuzzer) echo 256 ;;
    merge_fuzzer) echo 512 ;;
    *) echo 65536 ;;
  esac
}

seedFolder() {
  case $1 in
    tape_fuzzer) echo "$work/seeds/tape" ;;
    options_fuzzer) echo "$work/seeds/options" ;;
    *) echo "$work/seeds/$1" ;;
  esac
}

failed=0
for target in "${targets[@]}"; do
  corpus=$work/corpus/$target
  artifacts=$work/artifacts/$target
  log=$work/$target.log
  mkdir -p "$corpus" "$artifacts" "$(seedFolder "$target")"
  echo "== $target: ${seconds}s, -max_len=$(maxLength "$target")"
  status=0
  # -close_fd_mask=2 keeps the program's error messages out of the log; libFuzzer and the
  # sanitizers keep reporting through their own copy of stderr.
  ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=0} \
  UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
    "$build/fuzz/$target" -max_total_time="$seconds" -max_len="$(maxLength "$target")" \
    -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -close_fd_mask=2 \
    -artifact_prefix="$artifacts/" "$corpus" "$(seedFolder "$target")" >"$log" 2>&1 ||
    status=$?
  grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1 || true
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb)' \
    "$log" || true
  if [ "$status" -ne 0 ] || ls "$artifacts" | grep -q . ||
    grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:' "$log"; then
    echo "!! $target found a problem (exit $status); see $log and $artifacts"
    grep -E 'ERROR:|runtime error:|SUMMARY:' "$log" | head -5 || true
    failed=1
  fi
done
exit $failed
