#!/usr/bin/env bash
# Builds the MPEG audio fuzz target with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) in build-fuzz/ and runs it on the seed corpus of
# tests/data/mpeg-corpus for a bounded time. Any crash, leak, hang or broken
# promise of the reader fails the script; the input that caused it is left in
# build-fuzz/crashes/.
#   scripts/fuzz.sh [seconds [libFuzzer options...]]   (default 60 s)
# for example scripts/fuzz.sh 600 -max_len=32768 -jobs=2
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
[ $# -gt 0 ] && shift
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
  echo "usage: scripts/fuzz.sh [seconds [libFuzzer options...]]" >&2
  exit 2
fi

build_dir=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSDM_FUZZ=ON -DSDM_TESTS=OFF -DSDM_BENCH=OFF >/dev/null
cmake --build "$build_dir" -j2 --target mpeg_fuzz langfile_fuzz

# New inputs the fuzzer finds go to a work corpus of its own; the committed
# seeds are only read.
work="$build_dir/corpus"
crashes="$build_dir/crashes"
mkdir -p "$work" "$crashes"
export ASAN_OPTIONS=halt_on_error=1:abort_on_error=0:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
"$build_dir/fuzz/mpeg_fuzz" "$work" tests/data/mpeg-corpus \
  -dict=fuzz/mpeg.dict \
  -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix="$crashes/" -print_final_stats=1 "$@"

# Then the language-file target (record store, LoadAndApply) on its own seeds
# (tests/data/langfile-corpus) for the same time.
mkdir -p "$work-langfile"
"$build_dir/fuzz/langfile_fuzz" "$work-langfile" tests/data/langfile-corpus \
  -dict=fuzz/langfile.dict \
  -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix="$crashes/" -print_final_stats=1 "$@"
