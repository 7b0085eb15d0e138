#!/usr/bin/env bash
# Regenerates the seed corpus of the language-file fuzz target and corpus
# test in tests/data/langfile-corpus: the shipped language files as built into
# build/, small files of every revision made with slidomat-spk, and damaged
# files built from them. The files are committed, so nobody needs to run this
# to build or test; run it again (after a build) only to change the corpus.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
for f in "$build/slidomat-spk" "$build/SDM_0000040C.SPK"; do
  [ -e "$f" ] || { echo "make-langfile-corpus: $f is missing (build first)" >&2; exit 1; }
done
command -v python3 >/dev/null || { echo "make-langfile-corpus: python3 is missing" >&2; exit 1; }

out=tests/data/langfile-corpus
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
rm -rf "$out"
mkdir -p "$out"

for id in 00000409 0000040C 00000407 00000C0A; do
  cp "$build/SDM_$id.SPK" "$out/shipped-$id.SPK"
done

# Small files of revisions 1 to 4, each with a caption, a hint, items and an
# alignment, so that mutations reach every kind of record quickly.
for rev in 1 2 3 4; do
  cat > "$tmp/small.txt" <<SRC
LangId=040C
Revision=$rev
ListName=Petit
HeaderName=Langue
ListSuffix=Small
FontName=MS Sans Serif
Charset=0
MainDlg.Caption=Titre
MainDlg.go_btn.Caption=Lancer
MainDlg.go_btn.Hint=Commencer
MainDlg.go_btn.ShowHint=0
MainDlg.go_btn.Alignment=1
MainDlg.res_lst.Items[0]=un
MainDlg.res_lst.Items[1]=deux
MainDlg.res_lst.Items[2]=trois
MainDlg.main_ts.Items[0]=premier
SRC
  "$build/slidomat-spk" compile "$tmp/small.txt" "$out/small-rev$rev.SPK" --version 1.0.0.0
done

python3 - "$out" <<'PY'
import struct, sys, os
out = sys.argv[1]
sig = b"Xol LANGUAGE FILE"

def rec(tag, payload):
    return struct.pack("<II", len(payload) + 8, tag & 0xFFFFFFFF) + payload + struct.pack("<I", len(payload) + 12)

def store(records, count=None):
    return sig + struct.pack("<i", len(records) if count is None else count) + b"".join(records)

def put(name, data):
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)

small = open(os.path.join(out, "small-rev4.SPK"), "rb").read()
put("cut-inside-record.SPK", small[: len(small) - 7])
put("header-only.SPK", small[:21])
put("wrong-signature.SPK", b"Xol LANGUAGE FILX" + small[17:])
# Record 0 claims to run far past the end of the file.
put("size-past-end.SPK", small[:21] + struct.pack("<I", 0x7FFFFFF0) + small[25:])
# A size smaller than a record's own header, in the middle of the file.
mid = 21 + 12 + 4
put("size-too-small.SPK", small[:mid] + struct.pack("<I", 3) + small[mid + 4:])
put("trailer-garbled.SPK", small[:-4] + b"\xff\xff\xff\x7f")
put("count-huge.SPK", small[:17] + struct.pack("<i", 0x7FFFFFFF) + small[21:])
put("count-negative.SPK", small[:17] + struct.pack("<i", -3) + small[21:])
put("revision-5.SPK", small[:31] + b"\x05" + small[32:])
header = [rec(0, struct.pack("<I", 4 << 16 | 0x040C))] + [rec(t, b"x") for t in (1, 2, 3, 4)] + [rec(5, b"")]
put("five-records.SPK", store(header[:5]))
# Revision 0: a two-byte LANGID and entries of every kind, one of them unknown.
r0 = [rec(0, struct.pack("<H", 0x0407))] + [rec(t, b"x") for t in (1, 2, 3, 4)] + [rec(5, b"")]
r0 += [rec(6, b"MainDlg.go_btn"), rec(0, b"Los"), rec(0, b"")]
r0 += [rec(11, b"MainDlg.res_lst"), rec(0, b""), rec(0, b"Hinweis"), rec(0, b"a\r\nb\r\nc")]
r0 += [rec(12, b"MainDlg.codecs_cmb"), rec(0, b"x")]
r0 += [rec(99, b"junk"), rec(13, b"MainDlg"), rec(0, b"Titel"), rec(0, b"")]
put("revision-0.SPK", store(r0))
# Entries whose flag words are negative, zero or odd, and one cut short.
odd = header + [rec(512, struct.pack("<I", 0x01000000)), rec(516, b"\0\0\0\0"), rec(517, b""), rec(518, b""),
                rec(513, b""), rec(514, b"Arial"), rec(515, struct.pack("<I", 0xFFFFFFFF)), rec(516, struct.pack("<i", -8))]
odd += [rec(528, b"MainDlg.go_btn"), rec(768, struct.pack("<I", 7)), rec(-1, b"neg"), rec(0x30, b"hint"), rec(0x20, b"")]
odd += [rec(531, b"MainDlg.res_lst"), rec(768, b"")]
put("odd-flags.SPK", store(odd))
put("empty.SPK", b"")
PY
ls -l "$out" | awk '{s+=$5} END {print NR-1 " files, " s " bytes"}'
