#!/usr/bin/env bash
# Times a whole update of the emulated USB mixer in the test VM, step by step: the mixer's
# plug-in until the host's USB audio driver shows it, the enter-DFU SysEx until the loader is
# enumerated, dfu-util's download of a DfuSe file (81 KiB in three elements) until it exits,
# and the loader's reset until the mixer is back as a MIDI device.
# Usage: bench/emulated-update.sh BUILD_DIR [RUNS]    (needs python3 for the firmware file)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:?usage: emulated-update.sh BUILD_DIR [RUNS]}" && pwd)
runs=${2:-3}
work=$(mktemp -d "${TMPDIR:-/tmp}/vq320-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

# A DfuSe file of three elements, 81 KiB.
python3 "$root/bench/make-firmware.py" "$work/firmware.dfu"

# Runs in the guest: $1 the mixer program, $2 the work directory, $3 the number of runs.
cat >"$work/guest.sh" <<'GUEST'
mixer=$1 firmware=$2/firmware.dfu runs=$3
work=/tmp/emulated-update # the guest's own: FIFOs do not work on the shared directory
mkdir -p "$work"
now() { date +%s.%N; }
since() { awk -v a="$(now)" -v b="$1" 'BEGIN { printf "%.2f", a - b }'; }
for run in $(seq "$runs"); do
    mkfifo "$work/stop.$run"
    t=$(now)
    "$mixer" <"$work/stop.$run" >"$work/mixer.out" 2>&1 &
    exec 3>"$work/stop.$run"
    until aconnect -l | grep -q "'MIRT VQ320'"; do sleep 0.01; done
    plug=$(since "$t")
    port=$(amidi -l | awk '/MIRT VQ320/ {print $2; exit}')
    t=$(now)
    amidi -p "$port" -S 'F0 60 07 10 4D F7'
    until grep -q 'LOADER enumerated' "$work/mixer.out"; do sleep 0.01; done
    restart=$(since "$t")
    t=$(now)
    dfu-util -a 0 -d 0483:df11 -s :leave -D "$firmware" >/dev/null 2>&1
    status=$?
    download=$(since "$t")
    t=$(now)
    until [ "$(grep -c 'MIDI plugged in' "$work/mixer.out")" -ge 2 ] &&
        aconnect -l | grep -q "'MIRT VQ320'"; do sleep 0.01; done
    back=$(since "$t")
    printf 'run %d: plug-in %.2f s, SysEx to loader %.2f s, dfu-util %.2f s (status %d), back in MIDI mode %.2f s\n' \
        "$run" "$plug" "$restart" "$download" "$status" "$back"
    exec 3>&-
    wait
done
GUEST
"$root/tools/vm/run-in-vm.sh" --timeout 600 --share "$work" -- \
    bash "$work/guest.sh" "$build/tests/usb/vq_emulated_mixer" "$work" "$runs" 2>&1 |
    grep -E '^run |^vm: '
