#!/bin/sh
# Records its arguments, NUL-terminated, beside itself in argv.bin, and how many there were.
dir=$(dirname "$0")
printf '%s\0' "$@" > "$dir/argv.bin"
echo "$#" > "$dir/argc.txt"
echo "Download done."
