#!/bin/sh
# 50 MB of progress lines, then a success; writes the time of its exit (ns) beside itself last.
dir=$(dirname "$0")
yes 'Download	[=========================] 100%        16384 bytes' | head -c 52428800
printf '\nDownload done.\nDownload done.\nDone parsing DfuSe file\nSubmitting leave request...\n'
date +%s%N > "$dir/exit-time"
