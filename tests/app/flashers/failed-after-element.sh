#!/bin/sh
# dfu-util 0.11's own output of the three-element image whose sixth block the loader fails.
t=${VQ_TRANSCRIPTS:-$(dirname "$0")/../transcripts}
cat "$t/failed-block.out"
exit 74
