#!/usr/bin/env bash
# A per-user install (`cmake --install BUILD --prefix ~/.local`) succeeds without root, installs
# no udev rule, and leaves a program that runs and has its flasher beside it.
# Usage: check-user-install.sh BUILD_DIR VERSION
set -euo pipefail
build=$1 version=$2
fail() { echo "FAIL: $*" >&2; exit 1; }
home=$(mktemp -d "${TMPDIR:-/tmp}/vq320-home.XXXXXX")
trap 'rm -rf "$home"' EXIT
prefix=$home/.local

cmake --install "$build" --prefix "$prefix" >"$home/install.log" 2>&1 ||
    { cat "$home/install.log" >&2; fail "the install failed"; }
out=$(env -u DISPLAY -u QT_QPA_PLATFORM "$prefix/bin/vq320-updater" --version)
[ "$out" = "vq320-updater $version" ] || fail "the installed program printed '$out'"
flasher=$prefix/lib/vq320-updater/dfu-util
[ -L "$flasher" ] && [ -x "$flasher" ] || fail "no working flasher link at $flasher"
[ -f "$prefix/share/applications/it.mirt.VQ320Updater.desktop" ] || fail "no desktop entry"
! grep -q udev "$home/install.log" || fail "a user install touched udev: $(grep udev "$home/install.log")"
# Everything installed is listed for an uninstall, the links too.
manifest=$build/install_manifest.txt
for f in "$prefix/bin/vq320-updater" "$flasher"; do
    grep -Fxq "$f" "$manifest" || fail "$f is missing from install_manifest.txt"
done
echo "user install: $(wc -l <"$manifest") files under a user prefix, program and flasher work"
