#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) in build-fuzz/ and runs each on its committed
# seed corpus for a bounded time. Any crash, leak, hang or broken promise of
# the code under test fails the script; the input that caused it is left in
# build-fuzz/crashes/<target>/.
#   scripts/fuzz.sh [--target NAME]... [SECONDS [libFuzzer options...]]
#   scripts/fuzz.sh --list
# SECONDS (default 60) is the time of each target; without --target every
# target runs in turn. For example: scripts/fuzz.sh --target mpeg 600 -jobs=2
#
# A target is found by its name alone: fuzz/NAME_fuzz.cpp (declared in
# fuzz/CMakeLists.txt with sdm_fuzz_target), its seeds in
# tests/data/NAME-corpus/, and its dictionary fuzz/NAME.dict when there is one.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
  echo "usage: scripts/fuzz.sh [--target NAME]... [SECONDS [libFuzzer options...]] | --list" >&2
  exit 2
}

all_targets() {
  for f in fuzz/*_fuzz.cpp; do
    basename "$f" .cpp
  done
}

targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --list) all_targets; exit 0 ;;
    --target)
      [ $# -ge 2 ] || usage
      name=${2%_fuzz}_fuzz
      [ -f "fuzz/$name.cpp" ] || { echo "scripts/fuzz.sh: no fuzz target \"$2\"" >&2; exit 2; }
      targets+=("$name")
      shift 2 ;;
    *) break ;;
  esac
done
[ ${#targets[@]} -gt 0 ] || mapfile -t targets < <(all_targets)

seconds=${1:-60}
[ $# -gt 0 ] && shift
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
  usage
fi

# SDM_FUZZ_BUILD_DIR names a build folder already configured with clang and
# SDM_FUZZ=ON (the test script's sanitizer build, which builds the targets
# beside the tests instead of compiling the libraries a third time);
# otherwise build-fuzz/ is configured for the targets alone.
build_dir=${SDM_FUZZ_BUILD_DIR:-}
if [ -z "$build_dir" ]; then
  build_dir=build-fuzz
  CC=clang CXX=clang++ cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DSDM_FUZZ=ON -DSDM_TESTS=OFF -DSDM_BENCH=OFF >/dev/null
fi
cmake --build "$build_dir" -j2 --target "${targets[@]}"

# The targets put their inputs in files: a private folder, in memory where
# there is some, so no disk sync slows them, removed at the end.
tmp_base=/tmp
[ -d /dev/shm ] && [ -w /dev/shm ] && tmp_base=/dev/shm
TMPDIR=$(mktemp -d "$tmp_base/sdm-fuzz.XXXXXX")
export TMPDIR
trap 'rm -rf "$TMPDIR"' EXIT

export ASAN_OPTIONS=halt_on_error=1:abort_on_error=0:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
failed=()
for target in "${targets[@]}"; do
  name=${target%_fuzz}
  # New inputs the fuzzer finds go to a work corpus of its own; the committed
  # seeds are only read.
  work="$build_dir/corpus/$name"
  crashes="$build_dir/crashes/$name"
  mkdir -p "$work" "$crashes"
  dict=()
  [ -f "fuzz/$name.dict" ] && dict=("-dict=fuzz/$name.dict")
  echo "== $target: $seconds s on tests/data/$name-corpus =="
  if ! "$build_dir/fuzz/$target" "$work" "tests/data/$name-corpus" "${dict[@]}" \
      -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$crashes/" -print_final_stats=1 "$@"; then
    failed+=("$target")
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "scripts/fuzz.sh: failed: ${failed[*]} (inputs in $build_dir/crashes/)" >&2
  exit 1
fi
