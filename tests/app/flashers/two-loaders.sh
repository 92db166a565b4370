#!/bin/sh
# dfu-util 0.11's own output with two loaders on the bus.
t=${VQ_TRANSCRIPTS:-$(dirname "$0")/../transcripts}
cat "$t/two-loaders.out"
exit 74
