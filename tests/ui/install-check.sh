#!/usr/bin/env bash
# `cmake --install` puts the programs and the desktop files in place, and the
# desktop entry and AppStream metainfo pass their validators.
# Usage: install-check.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: install-check.sh BUILD_DIR}
base=${SDM_TEST_TMP:-${TMPDIR:-/tmp}}
mkdir -p "$base"
prefix=$(mktemp -d "$base/install-XXXXXX")
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
id=io.github.tarvenit.Slidomat
for f in bin/slidomat bin/slidomat-cli bin/slidomat-spk share/applications/$id.desktop share/mime/packages/$id.xml \
         share/metainfo/$id.metainfo.xml share/icons/hicolor/scalable/apps/$id.svg \
         share/icons/hicolor/48x48/apps/$id.png share/slidomat/help/index.html share/slidomat/ChangeLog \
         share/slidomat/HKEY_LOCAL_MACHINE.reg share/man/man1/slidomat.1.gz share/man/man1/slidomat-cli.1.gz \
         share/man/man1/slidomat-spk.1.gz share/doc/slidomat/copyright share/doc/slidomat/changelog.gz; do
  [ -s "$prefix/$f" ] || { echo "install-check: $f is missing"; exit 1; }
done
# The manual pages are man(7) that groff reads without a warning, and each
# names its program's version.
version=$("$prefix/bin/slidomat-cli" --version | cut -d' ' -f2)
for page in "$prefix"/share/man/man1/*.1.gz; do
  warnings=$(zcat "$page" | groff -man -ww -z 2>&1) || true
  [ -z "$warnings" ] || { echo "install-check: $(basename "$page"): $warnings"; exit 1; }
  zcat "$page" | grep -q "^\.TH .*\"Slidomat $version\"" || { echo "install-check: $(basename "$page") lacks $version"; exit 1; }
done
# Every option render's help names is in its manual page.
cli_page=$(zcat "$prefix/share/man/man1/slidomat-cli.1.gz" | sed 's/\\-/-/g')
for option in $("$prefix/bin/slidomat-cli" render --help | head -n 1 | grep -o -- '--[a-z][a-z-]*' | sort -u); do
  grep -q -- "$option" <<<"$cli_page" || { echo "install-check: slidomat-cli(1) lacks render $option"; exit 1; }
done
grep -q '^Exec=slidomat %F$' "$prefix/share/applications/$id.desktop"
grep -q 'glob pattern="\*.sdm"' "$prefix/share/mime/packages/$id.xml"
if command -v desktop-file-validate >/dev/null; then desktop-file-validate "$prefix/share/applications/$id.desktop"; fi
if command -v appstreamcli >/dev/null; then appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" >/dev/null; fi
# The installed program counts as installed (no portable settings.ini).
"$prefix/bin/slidomat-cli" --version >/dev/null
echo "install-check: programs and desktop files installed and valid"
