#!/usr/bin/env bash
# Inside the test VM (a throw-away layer over the host's /): installs the .deb with dpkg, starts
# the installed program offscreen, checks that it finds its flasher through the link and prints
# its version, then removes the package and checks that nothing of it is left.
# Usage: install-in-vm.sh DEB VERSION
set -euo pipefail
deb=$1 version=$2
fail() { echo "FAIL: $*" >&2; exit 1; }
step() { echo "deb: $* (${SECONDS}s)"; }
installed() { dpkg-query -W -f='${Status}' vq320-updater 2>/dev/null | grep -q 'install ok installed'; }

! installed || fail "vq320-updater is installed before the test"
# man-db's trigger re-indexes every manual page, minutes under emulation; the VM's layer is
# thrown away anyway. The other triggers (MIME, icons, menu) run as on a desktop.
rm -f /var/lib/man-db/auto-update
step "installing"
dpkg -i "$deb" >/dev/null || fail "dpkg -i failed"
step "installed"
installed || fail "dpkg does not list vq320-updater as installed"

# Software centres read the installed metainfo through AppStream's pool.
if command -v appstreamcli >/dev/null; then
    appstreamcli refresh-cache --force >/dev/null 2>&1 || true
    # grep reads to the end: with -q it would stop at the match, and appstreamcli's SIGPIPE
    # would fail the pipeline.
    appstreamcli get it.mirt.VQ320Updater 2>&1 | grep '^Identifier: it.mirt.VQ320Updater' >/dev/null ||
        fail "AppStream does not list it.mirt.VQ320Updater: $(appstreamcli get it.mirt.VQ320Updater 2>&1)"
fi
step "listed by AppStream"

[ "$(command -v vq320-updater)" = /usr/bin/vq320-updater ] || fail "vq320-updater is not on PATH"
out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM vq320-updater --version)
[ "$out" = "vq320-updater $version" ] || fail "--version printed '$out'"

# The program itself (not a test double) logs the flasher it resolved at start-up.
log=$(mktemp)
QT_QPA_PLATFORM=offscreen vq320-updater >"$log" 2>&1 &
pid=$!
expected='Flasher: /usr/lib/vq320-updater/dfu-util (/usr/bin/dfu-util)'
for _ in $(seq 600); do # polled, at most about a minute under emulation
    grep -Fqx "$expected" "$log" && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
found=0
grep -Fqx "$expected" "$log" && found=1
kill "$pid" 2>/dev/null || fail "the program ended by itself: $(cat "$log")"
wait "$pid" || true
[ $found -eq 1 ] || fail "the program did not report its flasher; its output: $(cat "$log")"

step "started and stopped the program; removing"
dpkg -r vq320-updater >/dev/null || fail "dpkg -r failed"
step "removed"
! installed || fail "still installed after dpkg -r"
for path in /usr/bin/vq320-updater /usr/lib/vq320-updater \
    /usr/share/applications/it.mirt.VQ320Updater.desktop \
    /usr/share/metainfo/it.mirt.VQ320Updater.metainfo.xml; do
    [ ! -e "$path" ] && [ ! -L "$path" ] || fail "$path is left after removal"
done
echo "deb: installed, listed by AppStream, started (found its flasher), --version '$out', removed cleanly"
