#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite twice: once as built (g++),
# once in a second build folder with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, where any report fails the run; that folder also
# builds the libFuzzer targets, which end the run with a short fuzzing of each.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
scripts/check-format.sh
scripts/check-docs.sh
ctest --test-dir build --output-on-failure -j2 --timeout 600

echo "== sanitizer build (build-asan: clang, ASan+UBSan, with the fuzz targets) =="
CC=clang CXX=clang++ SDM_BUILD_DIR=build-asan scripts/setup.sh -DSDM_SANITIZE=ON -DSDM_BENCH=OFF -DSDM_FUZZ=ON
export ASAN_OPTIONS=halt_on_error=1:abort_on_error=0:detect_leaks=1:strict_string_checks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
ctest --test-dir build-asan --output-on-failure -j2 --timeout 900

# A short run of every fuzz target (clang, libFuzzer), one after the other:
# SDM_FUZZ_SECONDS (150 by default) shared among them, so CI spends under
# three minutes fuzzing however many targets there are, and each mutates its
# seeds a few hundred times.
echo "== fuzz runs (build-asan) =="
fuzz_total=${SDM_FUZZ_SECONDS:-150}
fuzz_targets=$(scripts/fuzz.sh --list | wc -l)
fuzz_each=$(( fuzz_total / fuzz_targets ))
[ "$fuzz_each" -ge 5 ] || fuzz_each=5
# The mutations start from a fixed seed (SDM_FUZZ_SEED), so that a CI run
# can be repeated; scripts/fuzz.sh on its own draws a new seed every run and
# is the way to look further.
SDM_FUZZ_BUILD_DIR=build-asan scripts/fuzz.sh "$fuzz_each" -seed="${SDM_FUZZ_SEED:-20261210}"
