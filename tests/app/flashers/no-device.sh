#!/bin/sh
# dfu-util 0.11's own output with no device in DFU mode on the bus.
t=${VQ_TRANSCRIPTS:-$(dirname "$0")/../transcripts}
cat "$t/no-device.out"
exit 74
