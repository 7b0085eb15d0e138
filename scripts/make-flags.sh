#!/usr/bin/env bash
# Draws the flag pictures of the shipped translations (data/lang/flags/) as
# 30 x 20 BMP files of 24 bits: plain banded flags, which is all the language
# list needs to tell the languages apart. The pictures are committed; run this
# again only to change them.
set -euo pipefail
cd "$(dirname "$0")/.."

width=30
height=20
row_bytes=$(( (width * 3 + 3) / 4 * 4 ))
pad=$(( row_bytes - width * 3 ))

# Little-endian bytes of a number, as printf escapes.
le() {
  local v=$1 n=$2 out=""
  for ((i = 0; i < n; i++)); do
    out+=$(printf '\\x%02x' $(( (v >> (8 * i)) & 255 )))
  done
  printf '%s' "$out"
}

# colour_at X Y prints the "R G B" of the pixel at column X, row Y (0 = top).
write_bmp() {
  local file=$1 colour_at=$2
  local size=$(( 54 + row_bytes * height ))
  {
    printf "BM$(le $size 4)$(le 0 4)$(le 54 4)"
    printf "$(le 40 4)$(le $width 4)$(le $height 4)$(le 1 2)$(le 24 2)"
    printf "$(le 0 4)$(le $(( row_bytes * height )) 4)$(le 2835 4)$(le 2835 4)$(le 0 4)$(le 0 4)"
    # Rows bottom-up, pixels blue-green-red.
    for ((y = height - 1; y >= 0; y--)); do
      local row=""
      for ((x = 0; x < width; x++)); do
        read -r r g b < <($colour_at "$x" "$y")
        row+=$(printf '\\x%02x\\x%02x\\x%02x' "$b" "$g" "$r")
      done
      for ((p = 0; p < pad; p++)); do row+='\x00'; done
      printf "$row"
    done
  } > "$file"
}

# France: blue, white, red upright bands.
france() {
  if (( $1 < 10 )); then echo 0 35 149; elif (( $1 < 20 )); then echo 255 255 255; else echo 237 41 57; fi
}
# Germany: black, red, gold lying bands.
germany() {
  if (( $2 < 7 )); then echo 0 0 0; elif (( $2 < 13 )); then echo 221 0 0; else echo 255 206 0; fi
}
# Spain: red, yellow twice as wide, red.
spain() {
  if (( $2 < 5 || $2 >= 15 )); then echo 170 21 27; else echo 241 191 0; fi
}

# United States: red and white stripes two pixels high (thirteen do not fit
# twenty rows evenly), a blue canton with white points for the stars.
usa() {
  if (( $1 < 12 && $2 < 10 )); then
    if (( $1 % 3 == 1 && $2 % 3 == 1 )); then echo 255 255 255; else echo 60 59 110; fi
  elif (( ($2 / 2) % 2 == 0 )); then echo 178 34 52; else echo 255 255 255; fi
}

write_bmp data/lang/flags/us.bmp usa
write_bmp data/lang/flags/fr.bmp france
write_bmp data/lang/flags/de.bmp germany
write_bmp data/lang/flags/es.bmp spain
echo "flags written to data/lang/flags/"
