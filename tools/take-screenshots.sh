#!/usr/bin/env bash
# Takes the README's screenshots (docs/screenshots/*.png) under a virtual X display: the real
# window and controller on the simulated MIDI service, with a stand-in flasher, through a whole
# update. Rerunnable; needs the test packages (tools/setup.sh --test) and the dev build tree.
set -euo pipefail
cd "$(dirname "$0")/.."
[ -f build/dev/CMakeCache.txt ] || cmake --preset dev >/dev/null
cmake --build --preset dev --target screenshot_tour >/dev/null
out=$PWD/docs/screenshots
mkdir -p "$out"
rc=$(mktemp)
trap 'rm -f "$rc"' EXIT
# A plain English desktop with a window manager (for the title bars): the pictures must not
# depend on who takes them. openbox runs the tour once it manages the screen, then exits.
tour="$PWD/build/dev/tests/screenshots/screenshot_tour $out; echo \$? >$rc; openbox --exit"
env -u DISPLAY -u WAYLAND_DISPLAY LANG=C.UTF-8 LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb \
    QT_STYLE_OVERRIDE=Fusion xvfb-run -a -s "-screen 0 1024x768x24" \
    openbox --startup "sh -c '$tour'" 2>&1 | grep -v '^Openbox-Message' || true
[ "$(cat "$rc")" = 0 ] || { echo "take-screenshots: the tour failed" >&2; exit 1; }
echo "screenshots: $(ls "$out" | tr "\n" " ")"
