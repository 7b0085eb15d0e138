#!/usr/bin/env bash
# Fails when a C++ file of the project is not formatted by .clang-format (the
# check CI runs before building; `clang-format -i FILE` mends a file).
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files 'src/*.cpp' 'src/*.h' 'app/*.cpp' 'app/*.h' 'tests/*.cpp' 'tests/*.h' \
  'bench/*.cpp' 'bench/*.h' 'fuzz/*.cpp' 'fuzz/*.h')
clang-format --dry-run --Werror "${files[@]}"
echo "check-format: ${#files[@]} files formatted"
