#!/usr/bin/env bash
# Fails when a unit of src/ is missing from the unit index of
# docs/ARCHITECTURE.md: every header by its path under src/ without ".h", and
# every source file without a header by its name.
set -euo pipefail
cd "$(dirname "$0")/.."
doc=docs/ARCHITECTURE.md
missing=0
while read -r f; do
  stem=${f#src/}
  stem=${stem%.*}
  case "$f" in
    *.h) grep -qF "\`$stem\`" "$doc" && continue ;;
    *.cpp)
      [ -f "${f%.cpp}.h" ] && continue
      grep -qE "\`([a-z/]*/)?$(basename "$stem")\`" "$doc" && continue ;;
  esac
  echo "check-docs: $f is not in the unit index of $doc"
  missing=1
done < <(git ls-files 'src/*.h' 'src/*.cpp')
[ "$missing" -eq 0 ] && echo "check-docs: every unit of src/ is in $doc"
exit "$missing"
