#!/bin/sh
# dfu-util 0.11's own output of a file with a second target for alternate setting 1: it writes
# the first, skips the second, sends the leave request and exits 0.
t=${VQ_TRANSCRIPTS:-$(dirname "$0")/../transcripts}
cat "$t/two-targets.out"
