#!/usr/bin/env bash
# Runs the hot-plug benchmark inside the test VM (real kernel sequencer).
# Usage: bench/hotplug/run-hotplug-bench.sh [BUILD_DIR] [ROUNDS]   (defaults: build/release or
# build/dev, 50 rounds)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-}
if [ -z "$build" ]; then
    for preset in release dev; do
        if [ -x "$root/build/$preset/bench/hotplug/bench_hotplug" ]; then
            build=$root/build/$preset
            break
        fi
    done
fi
program=$build/bench/hotplug/bench_hotplug
[ -x "$program" ] || { echo "missing $program: build the bench_hotplug target first" >&2; exit 1; }
exec "$root/tools/vm/run-in-vm.sh" --timeout 900 -- "$program" "${2:-50}"
