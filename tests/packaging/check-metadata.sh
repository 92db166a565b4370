#!/usr/bin/env bash
# The desktop entry, the AppStream metainfo and the MIME type validate, and the metainfo's and
# the changelog's newest release is the project's version.
# Usage: check-metadata.sh SOURCE_DIR VERSION
set -euo pipefail
src=$1 version=$2
id=it.mirt.VQ320Updater
fail() { echo "FAIL: $*" >&2; exit 1; }

desktop-file-validate "$src/resources/$id.desktop"
grep -qx 'MimeType=application/x-dfu;' "$src/resources/$id.desktop" ||
    fail "the desktop entry does not open .dfu files"
appstreamcli validate --no-net "$src/resources/$id.metainfo.xml"
newest=$(sed -n 's/.*<release version="\([^"]*\)".*/\1/p' "$src/resources/$id.metainfo.xml" | head -n 1)
[ "$newest" = "$version" ] || fail "the metainfo's newest release is '$newest', the project is $version"
newest=$(dpkg-parsechangelog -l "$src/resources/changelog" -S Version)
[ "$newest" = "$version" ] || fail "the changelog's newest entry is '$newest', the project is $version"
# The MIME type the desktop entry names is the one the package defines for *.dfu.
grep -q '<mime-type type="application/x-dfu">' "$src/resources/vq320-updater-mime.xml" ||
    fail "vq320-updater-mime.xml does not define application/x-dfu"
grep -q '<glob pattern="\*.dfu"/>' "$src/resources/vq320-updater-mime.xml" ||
    fail "vq320-updater-mime.xml does not match *.dfu"
echo "metadata: desktop entry, metainfo and MIME type valid"
