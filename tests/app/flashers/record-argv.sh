#!/bin/sh
# Records its arguments, NUL-terminated, beside itself in argv.bin, how many there were, and the
# signals it was started with ignored (SigIgn, a hexadecimal mask) and, for an image it inherited,
# what it reads there after trying to append to it (image.bin); then reports the tests'
# three-element image written.
[ "$1" = -V ] && exec echo "dfu-util 0.11"
dir=$(dirname "$0")
printf '%s\0' "$@" > "$dir/argv.bin"
echo "$#" > "$dir/argc.txt"
case "${10}" in /dev/fd/*)
    printf x 2>/dev/null >>"${10}"
    cat "${10}" >"$dir/image.bin"
    ;;
esac
sed -n 's/^SigIgn:[[:space:]]*//p' /proc/$$/status > "$dir/sigign.txt"
printf 'Download done.\nDownload done.\nDownload done.\nSubmitting leave request...\n'
