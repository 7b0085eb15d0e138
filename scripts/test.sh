#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite twice: once as built, once in a
# second build folder with AddressSanitizer and UndefinedBehaviorSanitizer,
# where any report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
ctest --test-dir build --output-on-failure -j2 --timeout 600

echo "== sanitizer build (build-asan) =="
SDM_BUILD_DIR=build-asan scripts/setup.sh -DSDM_SANITIZE=ON -DSDM_BENCH=OFF
export ASAN_OPTIONS=halt_on_error=1:abort_on_error=0:detect_leaks=1:strict_string_checks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
ctest --test-dir build-asan --output-on-failure -j2 --timeout 900

# A short fuzz run of the MPEG audio reader and decoders (clang, libFuzzer):
# long enough to mutate every seed a few hundred times, short for CI.
echo "== fuzz run (build-fuzz) =="
scripts/fuzz.sh "${SDM_FUZZ_SECONDS:-30}"
SDM_FUZZ_TARGET=audio_fuzz scripts/fuzz.sh "${SDM_FUZZ_SECONDS:-30}"
