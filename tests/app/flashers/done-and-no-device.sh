#!/bin/sh
# Both phrases: a first attempt finds no device, the next one writes the three-element image.
[ "$1" = -V ] && exec echo "dfu-util 0.11"
echo "dfu-util: No DFU capable USB device available" >&2
t=${VQ_TRANSCRIPTS:-$(dirname "$0")/../transcripts}
cat "$t/good-write.out"
