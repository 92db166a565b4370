#!/bin/sh
# dfu-util 0.11's own output with two loaders on the bus.
[ "$1" = -V ] && exec echo "dfu-util 0.11"
t=${VQ_TRANSCRIPTS:-$(dirname "$0")/../transcripts}
cat "$t/two-loaders.out"
exit 74
