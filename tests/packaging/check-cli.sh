#!/usr/bin/env bash
# The program's command line, without a display: --help and --version print and exit 0; an
# unknown option or a second file is refused with a message and exit status 2.
# Usage: check-cli.sh PROGRAM VERSION
set -uo pipefail
program=$1 version=$2
fail() { echo "FAIL: $*" >&2; exit 1; }
run() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" "$@" >"$out" 2>"$err"; }
out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT

run --help; status=$?
[ $status -eq 0 ] || fail "--help exited $status: $(cat "$err")"
grep -q '^Usage: .*\[FIRMWARE\]' "$out" || fail "--help printed no usage: $(cat "$out")"
grep -q -- '--version' "$out" || fail "--help does not list --version"

run --version; status=$?
[ $status -eq 0 ] || fail "--version exited $status: $(cat "$err")"
[ "$(cat "$out")" = "vq320-updater $version" ] || fail "--version printed '$(cat "$out")'"

for args in "--frobnicate" "-x" "one.dfu two.dfu"; do
    # shellcheck disable=SC2086 # word splitting wanted
    run $args; status=$?
    [ $status -eq 2 ] || fail "'$args' exited $status, not 2"
    [ ! -s "$out" ] || fail "'$args' printed to standard output: $(cat "$out")"
    grep -q "^vq320-updater: " "$err" || fail "'$args' gave no message: $(cat "$err")"
done
echo "command line: --help, --version and refusals behave without a display"
