#!/usr/bin/env bash
# The whole update of the emulated mixer in the test VM, through the program and by hand, in
# turns in one VM: the program (Send, every alert answered once painted, the replug request at
# once) against `amidi -S` with the enter-DFU SysEx, a wait for the loader's uevent and a bare
# dfu-util with the program's own arguments, on the same DfuSe file (81 KiB in three elements).
# Everything is stamped by bench/update/update-probe.py; see bench/README.md for the figures.
# Usage: bench/update/run-update-bench.sh BUILD_DIR [ROUNDS]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "${1:?usage: run-update-bench.sh BUILD_DIR [ROUNDS]}" && pwd)
rounds=${2:-3}
work=$(mktemp -d "${TMPDIR:-/tmp}/vq320-update-bench.XXXXXX")
[ -n "${VQ_BENCH_KEEP:-}" ] || trap 'rm -rf "$work"' EXIT
for program in bench/update/bench_update_updater bench/update/bench_emulated_mixer; do
    [ -x "$build/$program" ] || { echo "no $build/$program: build the target first" >&2; exit 2; }
done

# A DfuSe file of three elements, 81 KiB.
python3 "$root/bench/make-firmware.py" "$work/firmware.dfu"

cat >"$work/guest.sh" <<'GUEST'
set -u
here=$1 build=$2 share=$3 rounds=$4
updater=$build/bench/update/bench_update_updater mixer=$build/bench/update/bench_emulated_mixer
firmware=$share/firmware.dfu
work=/tmp/update-bench # the guest's own, for the FIFOs: they do not work on the shared directory
mkdir -p "$work"
mkfifo "$work/mixer.fifo" "$work/loader.fifo"
python3 "$here/update-probe.py" watch "$share/events" "$work/mixer.fifo" "$work/loader.fifo" \
    "$work/armed" 2>"$share/probe.err" &
probe=$!
until grep -q ready "$share/events" 2>/dev/null; do
    kill -0 "$probe" 2>/dev/null || { echo "round 0: the probe did not start" >&2; exit 1; }
    sleep 0.05
done
export XDG_STATE_HOME=$work/state
mixers() { aconnect -l | grep -c "'MIRT VQ320'"; }
deadline() { [ "$(date +%s)" -lt "$1" ] || { echo "round $2: timed out" >&2; return 1; }; }
# Plugs the mixer in (its reports go to the probe) and waits until the sequencer shows it.
plug() {
    mkfifo "$work/stop"
    "$mixer" <"$work/stop" >"$work/mixer.fifo" 2>&1 &
    mixer_pid=$!
    exec 3>"$work/stop"
    rm "$work/stop"
    local end=$(($(date +%s) + 60))
    until [ "$(mixers)" -ge 1 ]; do deadline "$end" "plug-in" || exit 1; sleep 0.02; done
}
# Waits until the mixer is back in MIDI mode after its loader's reset, then unplugs it.
unplug() {
    local end=$(($(date +%s) + 120))
    until [ "$(grep -c 'mixer MIDI plugged in' "$share/events")" -ge "$1" ] && [ "$(mixers)" -ge 1 ]; do
        deadline "$end" "$2" || break
        sleep 0.05
    done
    exec 3>&-
    wait "$mixer_pid" || true
    until [ "$(mixers)" -eq 0 ]; do sleep 0.02; done
}
plugs=0
for round in $(seq "$rounds"); do
    echo "mark program $round" >"$work/mixer.fifo"
    plug
    # Not holding the mixer's stop FIFO open (fd 3), which would keep the mixer plugged in.
    "$updater" "$firmware" >"$share/updater.$round.out" 2>"$share/updater.$round.err" 3>&- &
    updater_pid=$!
    end=$(($(date +%s) + 300))
    # The confirmation, the replug request and the outcome.
    until [ "$(grep -c '^SHOWN' "$share/updater.$round.out")" -ge 3 ]; do
        deadline "$end" "$round" || break
        sleep 0.05
    done
    plugs=$((plugs + 2))
    unplug "$plugs" "$round"
    echo "round $round: program done" >&2
    kill -TERM "$updater_pid"
    wait "$updater_pid" || true

    echo "mark hand $round" >"$work/mixer.fifo"
    plug
    port=$(amidi -l | awk '/MIRT VQ320/ {print $2; exit}')
    touch "$work/armed"
    amidi -p "$port" -S 'F0 60 07 10 4D F7'
    read -r -t 60 usb_port <"$work/loader.fifo" || echo "round $round: no loader" >&2
    rm "$work/armed"
    dfu-util -a 0 -d ,0483:df11 -p "$usb_port" -s :leave -D "$firmware" >/dev/null 2>&1 || true
    plugs=$((plugs + 2))
    unplug "$plugs" "$round"
    echo "round $round: by hand done" >&2
done
kill "$probe"
GUEST
"$root/tools/vm/run-in-vm.sh" --timeout 1000 --share "$work" -- \
    bash ${VQ_BENCH_TRACE:+-x} "$work/guest.sh" "$here" "$build" "$work" "$rounds" 2>&1 | tee ${VQ_BENCH_TRACE:+"$work/trace"} | grep --line-buffered -E '^round |^vm: ' || true
echo "events: $(wc -l <"$work/events") lines"
python3 "$here/update-probe.py" report "$work/events" "$work"/updater.*.out
