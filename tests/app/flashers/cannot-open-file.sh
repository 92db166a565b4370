#!/bin/sh
# A failure of no known kind: the image cannot be read.
[ "$1" = -V ] && exec echo "dfu-util 0.11"
echo "dfu-util 0.11"
echo "dfu-util: Could not open file ${10} for reading: Permission denied" >&2
exit 66
