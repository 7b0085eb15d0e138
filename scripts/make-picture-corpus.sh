#!/usr/bin/env bash
# Regenerates the seed corpus of the picture fuzz target and corpus test in
# tests/data/picture-corpus: fuzz/make_picture_corpus.cpp writes every file
# (JPEG through libjpeg, BMP byte by byte, damaged ones from both). Every file
# stays below 4 KiB. The files are committed, so nobody needs to run this to
# build or test; run it again only to change the corpus.
set -euo pipefail
cd "$(dirname "$0")/.."

out=tests/data/picture-corpus
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

c++ -std=c++20 -O1 -Wall -Wextra -Werror -Itests -o "$tmp/make_picture_corpus" fuzz/make_picture_corpus.cpp -ljpeg
rm -rf "$out"
mkdir -p "$out"
"$tmp/make_picture_corpus" "$out"
echo "make-picture-corpus: $(ls "$out" | wc -l) files in $out"
