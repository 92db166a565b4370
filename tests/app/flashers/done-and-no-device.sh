#!/bin/sh
# Both phrases: a first attempt finds no device, the next one writes the three-element image.
echo "dfu-util: No DFU capable USB device available" >&2
t=${VQ_TRANSCRIPTS:-$(dirname "$0")/../transcripts}
cat "$t/good-write.out"
