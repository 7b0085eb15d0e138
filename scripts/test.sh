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

# A short run of every fuzz target (clang, libFuzzer), one after the other:
# SDM_FUZZ_SECONDS (150 by default) shared among them, so CI spends under
# three minutes fuzzing however many targets there are, and each mutates its
# seeds a few hundred times.
echo "== fuzz runs (build-fuzz) =="
fuzz_total=${SDM_FUZZ_SECONDS:-150}
fuzz_targets=$(scripts/fuzz.sh --list | wc -l)
fuzz_each=$(( fuzz_total / fuzz_targets ))
[ "$fuzz_each" -ge 5 ] || fuzz_each=5
scripts/fuzz.sh "$fuzz_each"
