#!/bin/sh
# Both phrases: a first attempt finds no device, the next one writes the image.
[ "$1" = -V ] && exec echo "dfu-util 0.11"
echo "dfu-util: No DFU capable USB device available" >&2
echo "Download	[=========================] 100%         4096 bytes"
echo "Download done."
echo "Done!"
