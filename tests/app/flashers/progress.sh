#!/bin/sh
# dfu-util 0.11's own output of the three-element image written, held after its first element
# until a file named "go" appears beside the script, so a test can look at the progress there.
dir=$(dirname "$0")
t=${VQ_TRANSCRIPTS:-$dir/../transcripts}/good-write.out
at=$(grep -abo 'Download done\.' "$t" | head -n 1 | cut -d: -f1)
head -c $((at + 15)) "$t"
while [ ! -e "$dir/go" ]; do sleep 0.01; done
tail -c +$((at + 16)) "$t"
