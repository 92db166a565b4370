#!/usr/bin/env bash
# Every text of the window has a finished translation in every language: lupdate, run on the
# sources into copies of the .ts files, finds nothing new or unfinished.
# Usage: check-translations.sh LUPDATE SOURCE_DIR
set -euo pipefail
lupdate=$1 src=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/vq320-ts.XXXXXX")
trap 'rm -rf "$work"' EXIT
cp "$src"/resources/translations/*.ts "$work/"
"$lupdate" -silent -no-obsolete -locations none "$src/app" "$src/resources" -ts "$work"/*.ts
status=0
for ts in "$work"/*.ts; do
    name=$(basename "$ts")
    if ! cmp -s "$ts" "$src/resources/translations/$name"; then
        echo "FAIL: $name is out of date; run: cmake --build --preset dev --target update_translations" >&2
        diff -u "$src/resources/translations/$name" "$ts" | head -n 40 >&2 || true
        status=1
    fi
    if grep -q 'type="unfinished"' "$ts"; then
        echo "FAIL: $name has untranslated texts:" >&2
        grep -B 2 'type="unfinished"' "$ts" | grep '<source>' >&2 || true
        status=1
    fi
done
[ $status -eq 0 ] && echo "translations: $(grep -c '<source>' "$work"/*.ts | tr '\n' ' ')complete" | sed "s|$work/||g"
exit $status
