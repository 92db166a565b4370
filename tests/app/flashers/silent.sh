#!/bin/sh
# Prints nothing and fails.
[ "$1" = -V ] && exec echo "dfu-util 0.11"
exit 3
