#!/usr/bin/env bash
# Builds the MPEG audio fuzz target with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) in build-fuzz/ and runs it on the seed corpus of
# tests/data/mpeg-corpus for a bounded time. SDM_FUZZ_TARGET=audio_fuzz runs
# the audio facade's target on tests/data/audio-corpus instead. Any crash, leak, hang or broken
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
target=${SDM_FUZZ_TARGET:-mpeg_fuzz}
case "$target" in
  mpeg_fuzz) seeds=tests/data/mpeg-corpus; dict=(-dict=fuzz/mpeg.dict) ;;
  audio_fuzz) seeds=tests/data/audio-corpus; dict=() ;;
  *) echo "fuzz.sh: unknown target $target" >&2; exit 2 ;;
esac
cmake --build "$build_dir" -j2 --target "$target"

# New inputs the fuzzer finds go to a work corpus of its own; the committed
# seeds are only read.
work="$build_dir/corpus-$target"
crashes="$build_dir/crashes"
mkdir -p "$work" "$crashes"
export ASAN_OPTIONS=halt_on_error=1:abort_on_error=0:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
"$build_dir/fuzz/$target" "$work" "$seeds" \
  "${dict[@]}" \
  -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix="$crashes/" -print_final_stats=1 "$@"
