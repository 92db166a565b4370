#!/usr/bin/env bash
# Runs inside the test VM (see run-alsa-tests.sh): the build tree's `alsa`- and `usb`-labelled
# tests (the kernel sequencer; the emulated USB mixer), each with a time limit so that a hung test is reported by name. Results go to OUT_DIR.
# Usage: guest-alsa-ctest.sh BUILD_DIR OUT_DIR
build=$1 out=$2
# A tree may have no such tests yet; that is not a failure of the VM.
ctest --test-dir "$build" -L '^(alsa|usb)$' -E '^vm\.' --no-tests=ignore --output-on-failure \
    --timeout 300 --output-junit "$out/alsa-tests.xml"
status=$?
cp "$build/Testing/Temporary/LastTest.log" "$out/" 2>/dev/null
exit "$status"
