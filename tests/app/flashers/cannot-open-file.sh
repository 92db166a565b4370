#!/bin/sh
# A failure of no known kind: the image cannot be read.
echo "dfu-util 0.11"
echo "dfu-util: Could not open file $8 for reading: Permission denied" >&2
exit 66
