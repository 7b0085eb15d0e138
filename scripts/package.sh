#!/usr/bin/env bash
# Builds the Debian package (cpack -G DEB) from a build folder and checks it:
# the files it holds, its control fields and dependencies, the programs run
# from the unpacked package, and lintian (no error, no warning) when lintian
# is installed. The package is left in OUT_DIR.
# Usage: scripts/package.sh [BUILD_DIR [OUT_DIR]]   (exit 77: no dpkg-deb/cpack)
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$source_dir/build}" && pwd)
out=${2:-$source_dir/out/package}
for tool in cpack dpkg-deb dpkg-shlibdeps; do
  command -v "$tool" >/dev/null 2>&1 || { echo "package: $tool is not installed; skipped"; exit 77; }
done
fail() { echo "package: $*" >&2; exit 1; }

mkdir -p "$out"
rm -f "$out"/slidomat_*.deb
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$out" >"$out/cpack.log" 2>&1 || { cat "$out/cpack.log"; fail "cpack failed"; }
deb=$(ls "$out"/slidomat_*.deb)
version=$("$build/slidomat-cli" --version | cut -d' ' -f2)

# The files, exactly: a file added to or lost from the install shows here.
expected="./usr/bin/slidomat
./usr/bin/slidomat-cli
./usr/bin/slidomat-spk
./usr/share/applications/io.github.tarvenit.Slidomat.desktop
./usr/share/doc/slidomat/changelog.gz
./usr/share/doc/slidomat/copyright
./usr/share/icons/hicolor/48x48/apps/io.github.tarvenit.Slidomat.png
./usr/share/icons/hicolor/scalable/apps/io.github.tarvenit.Slidomat.svg
./usr/share/man/man1/slidomat-cli.1.gz
./usr/share/man/man1/slidomat-spk.1.gz
./usr/share/man/man1/slidomat.1.gz
./usr/share/metainfo/io.github.tarvenit.Slidomat.metainfo.xml
./usr/share/mime/packages/io.github.tarvenit.Slidomat.xml
./usr/share/slidomat/ChangeLog
./usr/share/slidomat/HKEY_LOCAL_MACHINE.reg
./usr/share/slidomat/SDM_00000407.SPK
./usr/share/slidomat/SDM_00000409.SPK
./usr/share/slidomat/SDM_0000040C.SPK
./usr/share/slidomat/SDM_00000C0A.SPK
./usr/share/slidomat/help/index.html"
actual=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)
if [ "$actual" != "$(sort <<<"$expected")" ]; then
  diff <(sort <<<"$expected") <(echo "$actual") || true
  fail "the package's files differ from the expected list (< expected, > packaged)"
fi
dpkg-deb -c "$deb" | awk '$2 != "root/root" {bad=1} END {exit bad}' || fail "files not owned by root"

# Control fields: the version, and the libraries and run-time pieces it needs.
[ "$(dpkg-deb -f "$deb" Package)" = slidomat ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "version $(dpkg-deb -f "$deb" Version), not $version"
depends=$(dpkg-deb -f "$deb" Depends)
for need in libqt6widgets6 libqt6gui6 libavcodec libavformat libjpeg62-turbo libvorbisfile3 libfreetype6 \
            qt6-qpa-plugins fonts-dejavu-core; do
  grep -q "\b$need" <<<"$depends" || fail "Depends lacks $need: $depends"
done

mkdir -p "${TMPDIR:-/tmp}"
tmp=$(mktemp -d "${TMPDIR:-/tmp}/slidomat-deb-XXXXXX")
trap 'rm -rf "$tmp"' EXIT
dpkg-deb -x "$deb" "$tmp/root"
root=$tmp/root/usr
# The package's change log names this version first.
zcat "$root/share/doc/slidomat/changelog.gz" | head -n 1 | grep -q "^slidomat ($version) " ||
  fail "doc/changelog.gz does not start with version $version"
# The installed record points at where the package puts the programs.
grep -q '"InstallLocation"="/usr"' "$root/share/slidomat/HKEY_LOCAL_MACHINE.reg" || fail "install location"
# The manual pages render without a warning.
for page in "$root"/share/man/man1/*.1.gz; do
  warnings=$(zcat "$page" | groff -man -ww -z 2>&1) || true
  [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
done

# The unpacked programs run, counting as installed (their own registry).
export SLIDOMAT_REGISTRY_DIR=$tmp/user XDG_CONFIG_HOME=$tmp/config XDG_DATA_HOME=$tmp/data XDG_CACHE_HOME=$tmp/cache
unset SLIDOMAT_MACHINE_REGISTRY_DIR
for prog in slidomat slidomat-cli slidomat-spk; do
  [ "$("$root/bin/$prog" --version)" = "$prog $version" ] || fail "$prog --version"
done
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/bin/slidomat" --help | grep -q '^Usage: slidomat' ||
  fail "slidomat --help"
"$root/bin/slidomat-cli" render --codec "DIB " --resolution 320x240 --single-frame --quiet -o "$tmp/v.avi" \
  "$source_dir/examples/bars.bmp" || fail "slidomat-cli render"
[ -s "$tmp/v.avi" ] || fail "no video written"
[ ! -e "$root/bin/settings.ini" ] || fail "the installed copy ran portable"

if command -v lintian >/dev/null 2>&1; then
  lintian --fail-on error,warning "$deb" || fail "lintian"
  echo "package: lintian accepts $(basename "$deb")"
else
  echo "package: lintian is not installed; not run"
fi
echo "package: $deb checked"
