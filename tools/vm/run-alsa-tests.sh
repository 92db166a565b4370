#!/usr/bin/env bash
# Runs the build tree's `alsa`- and `usb`-labelled tests (the ones that need the kernel
# sequencer or the emulated USB mixer) inside the test VM and fails when the VM or any of
# those tests fails. The guest's ctest output is
# printed; the console log, the guest's LastTest.log and a JUnit report stay in BUILD_DIR/vm/.
# Usage: run-alsa-tests.sh BUILD_DIR [--timeout SECONDS]
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

build=$(cd "${1:?usage: run-alsa-tests.sh BUILD_DIR [--timeout SECONDS]}" && pwd)
shift
timeout=1100
[ "${1:-}" != --timeout ] || timeout=$2

if ! command -v qemu-system-x86_64 >/dev/null; then
    echo "SKIPPED: qemu-system-x86_64 is missing, cannot start the test VM (run tools/setup.sh)"
    exit 77
fi

out="$build/vm"
mkdir -p "$out"
rm -f "$out/console.log" "$out/LastTest.log" "$out/alsa-tests.xml"
cd "$build"
status=0
"$VM_DIR/run-in-vm.sh" --timeout "$timeout" --log "$out/console.log" --share "$out" -- \
    "$VM_DIR/guest-alsa-ctest.sh" "$build" "$out" || status=$?

if [ "$status" -ne 0 ]; then
    echo "vm: the alsa/usb tests FAILED in the VM (status $status); console log: $out/console.log"
fi
exit "$status"
