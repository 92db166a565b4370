#!/bin/sh
# The phrases in capital letters, one "Download done." per element of the tests' image.
[ "$1" = -V ] && exec echo "dfu-util 0.11"
printf 'DOWNLOAD DONE.\nDOWNLOAD DONE.\nDOWNLOAD DONE.\nSUBMITTING LEAVE REQUEST...\n'
