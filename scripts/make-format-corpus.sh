#!/usr/bin/env bash
# Regenerates the seed corpora of the fuzz targets and corpus tests of the
# picture kinds beyond JPEG and BMP: tests/data/{png,webp,tiff,gif,heif}-corpus.
# fuzz/make_format_corpus.cpp writes every file through the format's own
# library (libpng, libtiff, libwebp, giflib, libheif with x265), damaged ones
# from them. Every file stays below 4 KiB. The files are committed, so nobody
# needs to run this to build or test; run it again only to change a corpus.
set -euo pipefail
cd "$(dirname "$0")/.."

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

c++ -std=c++20 -O1 -Wall -Wextra -Werror -Itests -o "$tmp/make_format_corpus" fuzz/make_format_corpus.cpp \
  $(pkg-config --cflags --libs libpng libtiff-4 libwebp libwebpmux libheif lcms2 zlib) -lgif
for kind in png webp tiff gif heif; do
  out=tests/data/$kind-corpus
  rm -rf "$out"
  mkdir -p "$out"
  "$tmp/make_format_corpus" tests/data "$kind"
  echo "make-format-corpus: $(ls "$out" | wc -l) files in $out"
done
