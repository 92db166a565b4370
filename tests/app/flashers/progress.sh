#!/bin/sh
# A DfuSe image of two elements written with dfu-util's redrawn bars, waiting for a file named
# "go" beside it before the second element, so a test can look at the progress on the way.
[ "$1" = -V ] && exec echo "dfu-util 0.11"
dir=$(dirname "$0")
printf 'dfu-util 0.11\n\nOpening DFU capable USB device...\nDevice ID 0483:df11\n'
printf 'Image for alternate setting 0, (2 elements, total size = 20480)\n'
printf 'Parsing element 1, address = 0x08000000, size = 16384\n'
printf 'Erase   \t[=========================] 100%%        16384 bytes\nErase    done.\n'
printf 'Download\t[============             ]  50%%         8192 bytes\r'
while [ ! -e "$dir/go" ]; do sleep 0.01; done
printf 'Download\t[=========================] 100%%        16384 bytes\nDownload done.\n'
printf 'Parsing element 2, address = 0x08004000, size = 4096\n'
printf 'Erase   \t[=========================] 100%%         4096 bytes\nErase    done.\n'
printf 'Download\t[=========================] 100%%         4096 bytes\nDownload done.\n'
printf 'Done parsing DfuSe file\nSubmitting leave request...\n'
