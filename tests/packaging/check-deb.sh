#!/usr/bin/env bash
# Builds the .deb of a build tree with CPack, checks its control fields and file list, lints it.
# Usage: check-deb.sh BUILD_DIR OUT_DIR VERSION
# Leaves OUT_DIR/vq320-updater.deb for the installation test in the VM.
set -euo pipefail
build=$1 out=$2 version=$3
fail() { echo "FAIL: $*" >&2; exit 1; }

rm -rf "$out" && mkdir -p "$out"
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1 ||
    { cat "$out/cpack.log" >&2; fail "cpack failed"; }
debs=("$out"/vq320-updater_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "cpack made no single vq320-updater_*.deb"
deb=${debs[0]}
ln -sf "$(basename "$deb")" "$out/vq320-updater.deb"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = vq320-updater ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', not $version"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture is '$(field Architecture)'"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ "$(field Section)" = sound ] || fail "Section is '$(field Section)'"
depends=$(field Depends)
for dep in dfu-util libasound2 libqt6widgets6 libqt6core6 libc6; do
    # Whole package names only (libqt6core6 must not be satisfied by libqt6core6t64 text).
    grep -Eq "(^|, )$dep(t64)?( \(|,|$)" <<<"$depends" || fail "Depends lacks $dep: $depends"
done
grep -q qt6-translations-l10n <<<"$(field Recommends)" || fail "Recommends lacks qt6-translations-l10n"

# The file list: "type path[ -> target]" for each entry, from the data archive.
dpkg-deb -c "$deb" | awk '{ t = substr($1, 1, 1); $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +/, ""); print t, $0 }' \
    >"$out/files.txt"
expect() { grep -Fxq -- "$1" "$out/files.txt" || fail "the package lacks '$1'"; }
expect "- ./usr/lib/vq320-updater/vq320-updater"
expect "l ./usr/lib/vq320-updater/dfu-util -> ../../bin/dfu-util"
expect "l ./usr/bin/vq320-updater -> ../lib/vq320-updater/vq320-updater"
expect "- ./usr/share/applications/it.mirt.VQ320Updater.desktop"
expect "- ./usr/share/metainfo/it.mirt.VQ320Updater.metainfo.xml"
expect "- ./usr/share/mime/packages/vq320-updater.xml"
expect "- ./usr/share/icons/hicolor/scalable/apps/vq320-updater.svg"
for size in 16 22 24 32 48 64 128 256; do
    expect "- ./usr/share/icons/hicolor/${size}x${size}/apps/vq320-updater.png"
done
expect "- ./usr/share/man/man1/vq320-updater.1.gz"
expect "- ./usr/share/doc/vq320-updater/copyright"
expect "- ./usr/share/doc/vq320-updater/changelog.gz"
# No copy of the flasher, no udev rule of its own (dfu-util's covers the loader), nothing
# outside /usr.
! grep -E '^- .*/dfu-util$' "$out/files.txt" || fail "the package holds a copy of dfu-util"
! grep -E 'udev' "$out/files.txt" || fail "the package holds a udev rule"
! grep -Ev '^[-ld] \./(usr(/|$)|$)' "$out/files.txt" || fail "the package installs outside /usr"
# Debian's own checks, informational tags shown too; errors and warnings fail.
lintian --display-info --fail-on error,warning "$deb" >"$out/lintian.txt" 2>&1 ||
    { cat "$out/lintian.txt" >&2; fail "lintian reports errors or warnings"; }
echo "package: $(basename "$deb"), $(wc -l <"$out/files.txt") entries, Depends: $depends"
