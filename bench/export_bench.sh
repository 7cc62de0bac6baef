#!/bin/sh
# Export throughput: converts a large generated tape at -sr H and compares the time with
# writing the same number of bytes with `head -c N /dev/zero > file` in the same run.
# The page cache bounds both; the ratio shows what the encoder adds on top. Target: 1.4.
#
# Usage: bench/export_bench.sh [tonbrix] [make_bench_tape] [runs]
#   tonbrix          the program to measure (default build/release/tonbrix)
#   make_bench_tape  the tape generator (default: bench/make_bench_tape beside tonbrix,
#                    else build/bench/bench/make_bench_tape)
#   runs             timed runs of each command, median reported (default 5)
# Build both with: cmake --preset bench && cmake --build --preset bench
set -eu

tonbrix=${1:-build/release/tonbrix}
generator=${2:-$(dirname "$tonbrix")/bench/make_bench_tape}
[ -x "$generator" ] || generator=build/bench/bench/make_bench_tape
runs=${3:-5}

for program in "$tonbrix" "$generator"; do
  if [ ! -x "$program" ]; then
    echo "not found: $program (cmake --preset bench && cmake --build --preset bench)" >&2
    exit 2
  fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/tonbrix-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

now_ns() { date +%s%N; }

# Prints the median of the numbers on standard input.
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

"$generator" "$work/tape.img" 16 60
"$tonbrix" -sr H -o "$work/out.wav" "$work/tape.img" > /dev/null
bytes=$(wc -c < "$work/out.wav")
echo "tape: $(wc -c < "$work/tape.img") bytes, 16 header blocks of 60 KB; WAV: $bytes bytes"

: > "$work/export.times"
: > "$work/plain.times"
i=0
while [ "$i" -lt "$runs" ]; do
  # Alternate the two so that both see the same state of the machine; start each from no
  # file, so neither pays for truncating the previous one.
  rm -f "$work/out.wav" "$work/zero.bin"
  start=$(now_ns)
  "$tonbrix" -sr H -o "$work/out.wav" "$work/tape.img" > /dev/null
  end=$(now_ns)
  echo $((end - start)) >> "$work/export.times"

  start=$(now_ns)
  head -c "$bytes" /dev/zero > "$work/zero.bin"
  end=$(now_ns)
  echo $((end - start)) >> "$work/plain.times"
  i=$((i + 1))
done

export_ns=$(median < "$work/export.times")
plain_ns=$(median < "$work/plain.times")
awk -v bytes="$bytes" -v e="$export_ns" -v p="$plain_ns" -v runs="$runs" 'BEGIN {
  printf "export (tonbrix -sr H): %8.1f MB/s  %7.3f s  (median of %d)\n", bytes / e * 1000, e / 1e9, runs
  printf "plain write (head -c):  %8.1f MB/s  %7.3f s  (median of %d)\n", bytes / p * 1000, p / 1e9, runs
  printf "time ratio export / plain write: %.2f (target <= 1.40)\n", e / p
}'
