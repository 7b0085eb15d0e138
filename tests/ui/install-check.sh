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
for f in bin/slidomat bin/slidomat-cli share/applications/$id.desktop share/mime/packages/$id.xml \
         share/metainfo/$id.metainfo.xml share/icons/hicolor/scalable/apps/$id.svg \
         share/icons/hicolor/48x48/apps/$id.png share/slidomat/help/index.html share/slidomat/ChangeLog \
         share/slidomat/HKEY_LOCAL_MACHINE.reg; do
  [ -s "$prefix/$f" ] || { echo "install-check: $f is missing"; exit 1; }
done
grep -q '^Exec=slidomat %F$' "$prefix/share/applications/$id.desktop"
grep -q 'glob pattern="\*.sdm"' "$prefix/share/mime/packages/$id.xml"
if command -v desktop-file-validate >/dev/null; then desktop-file-validate "$prefix/share/applications/$id.desktop"; fi
if command -v appstreamcli >/dev/null; then appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" >/dev/null; fi
# The installed program counts as installed (no portable settings.ini).
"$prefix/bin/slidomat-cli" --version >/dev/null
echo "install-check: programs and desktop files installed and valid"
