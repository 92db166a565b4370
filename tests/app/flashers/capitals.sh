#!/bin/sh
# The success phrase in capital letters.
[ "$1" = -V ] && exec echo "dfu-util 0.11"
echo "DOWNLOAD DONE."
