#!/usr/bin/env bash
# Records what Debian's real dfu-util prints while it writes DfuSe files into the emulated mixer's
# loader on the test VM's real USB stack, for the tests that judge that output
# (tests/app/transcripts, see its README). Each transcript is dfu-util's standard output and
# standard error through one pipe, as the updater reads them, with the updater's arguments.
# Usage: tests/usb/record-transcripts.sh BUILD_DIR [OUT_DIR]   (OUT_DIR: tests/app/transcripts)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(cd "${1:?usage: record-transcripts.sh BUILD_DIR [OUT_DIR]}" && pwd)
out=$(mkdir -p "${2:-$root/tests/app/transcripts}" && cd "${2:-$root/tests/app/transcripts}" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/vq320-transcripts.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The files: dfuse-pack's own (it counts the suffix in the image size and names every target
# "ST..."), and, through its build function, files with a chosen target name.
python3 - "$work" <<'PY'
import random, struct, subprocess, sys, types
# dfuse-pack has no .py name, so it is loaded as a module by hand; its main() stays unrun.
pack = types.ModuleType("dfuse_pack")
exec(compile(open("/usr/bin/dfuse-pack").read(), "/usr/bin/dfuse-pack", "exec"), pack.__dict__)
work = sys.argv[1]
random.seed(320)

def data(name, size):
    path = f"{work}/{name}.bin"
    open(path, "wb").write(random.randbytes(size))
    return path

# The tests' image: elements of 70000, 5000 and 6161 bytes in three sectors.
three = [(0x08000000, 70000), (0x08020000, 5000), (0x08040000, 6161)]
bins = [f"{a:#x}:{data(f'e{i}', n)}" for i, (a, n) in enumerate(three)]
subprocess.run(["dfuse-pack"] + sum([["-b", b] for b in bins], []) + [f"{work}/good.dfu"],
               check=True, stdout=subprocess.DEVNULL)
# A second target for alternate setting 1, which the loader does not have.
subprocess.run(["dfuse-pack", "-b", f"0x08000000:{data('a', 4096)}",
                "-b", f"0x1fff0000@1:{data('b', 16)}", f"{work}/two-targets.dfu"],
               check=True, stdout=subprocess.DEVNULL)

def element(address, size):
    return {"address": address, "alt": 0, "data": random.randbytes(size)}

# The same three elements in two targets, both for alternate setting 0.
pack.build(f"{work}/two-targets-alt0.dfu", [[element(0x08000000, 70000)],
           [element(0x08020000, 5000), element(0x08040000, 6161)]])
# A target named with the phrases dfu-util prints after a good write.
pack.build(f"{work}/phrases.dfu", [[element(0x08000000, 4096)]],
           b"Download done. Submitting leave request...")
# Elements the loader refuses: past the end of its flash, two overlapping.
pack.build(f"{work}/outside.dfu", [[element(0x08100000, 2048)]])
pack.build(f"{work}/overlap.dfu", [[element(0x08000000, 4096), element(0x08000800, 4096)]])
# Raw data with a DFU signature at its end: a plain DFU file and one that claims DfuSe.
open(f"{work}/plain.dfu", "wb").write(random.randbytes(4096))
open(f"{work}/raw.dfu", "wb").write(random.randbytes(4096))
PY
dfu-suffix -v 0483 -p df11 -a "$work/plain.dfu" >/dev/null
dfu-suffix -v 0483 -p df11 -S 0x011a -a "$work/raw.dfu" >/dev/null
chmod -R a+rX "$work" # dfu-util also runs as user "nobody"

# Runs in the guest: $1 the mixer program, $2 the work directory, $3 the output directory.
cat >"$work/guest.sh" <<'GUEST'
set -u
mixer=$1 files=$2 out=$3
tmp=/tmp/transcripts # the guest's own: FIFOs do not work on the shared directory
mkdir -p "$tmp"
: >"$out/exits.txt"
declare -A fds
n=0
# start NAME [FAULTS...]: a mixer in MIDI mode, its output in $tmp/NAME.log.
start() {
    local name=$1; shift
    n=$((n + 1))
    fds[$name]=$((n + 2))
    mkfifo "$tmp/stop.$n"
    "$mixer" "$@" <"$tmp/stop.$n" >"$tmp/$name.log" 2>&1 &
    eval "exec ${fds[$name]}>\"$tmp/stop.$n\""
    until grep -q 'MIDI plugged in' "$tmp/$name.log"; do sleep 0.05; done
    until aconnect -l | grep -q "'MIRT VQ320'"; do sleep 0.05; done
}
# stop NAME: the mixer unplugs and ends.
stop() { eval "exec ${fds[$1]}>&-"; sleep 1; }
# restart NAME: the enter-DFU SysEx to the mixer's MIDI port, then wait for its loader.
restart() {
    local port
    port=$(amidi -l | awk '/MIRT VQ320/ {print $2; exit}')
    amidi -p "$port" -S 'F0 60 07 10 4D F7'
    until grep -q 'LOADER enumerated' "$tmp/$1.log"; do sleep 0.05; done
    sleep 0.5 # udev and the kernel settle
}
# flash NAME FILE: dfu-util as the updater runs it; records its output and exit status.
flash() {
    dfu-util -a 0 -d 0483:df11 -s :leave -D "$files/$2" 2>&1 | cat >"$out/$1.out"
    echo "$1 ${PIPESTATUS[0]}" >>"$out/exits.txt"
}
back() { until [ "$(grep -c 'MIDI plugged in' "$tmp/$1.log")" -ge "$2" ]; do sleep 0.05; done; }

flash no-device good.dfu

start mixer
restart mixer
# Files dfu-util refuses: the loader stays in its update mode.
flash plain-file plain.dfu
flash raw-file raw.dfu
flash outside-flash outside.dfu
setpriv --reuid=65534 --regid=65534 --clear-groups \
    dfu-util -a 0 -d 0483:df11 -s :leave -D "$files/good.dfu" 2>&1 | cat >"$out/no-permission.out"
echo "no-permission ${PIPESTATUS[0]}" >>"$out/exits.txt"
flash two-targets two-targets.dfu
back mixer 2
restart mixer
flash good-write good.dfu
back mixer 3
restart mixer
flash two-targets-written two-targets-alt0.dfu
back mixer 4
restart mixer
flash overlap overlap.dfu
# A second mixer restarted beside the first, still in its loader: two loaders on the bus.
start second
restart second
flash two-loaders good.dfu
stop mixer
stop second

start phrases --fail-write-after 0
restart phrases
flash phrases-failed phrases.dfu
stop phrases
start failing --fail-write-after 5
restart failing
flash failed-block good.dfu
stop failing
start resetting --reset-on-leave
restart resetting
flash reset-on-leave good.dfu
stop resetting
wait
cat "$out/exits.txt"
GUEST
mkdir "$work/out"
"$root/tools/vm/run-in-vm.sh" --timeout 900 --share "$work" -- \
    bash "$work/guest.sh" "$build/tests/usb/vq_emulated_mixer" "$work" "$work/out"
cp "$work"/out/* "$out/"
