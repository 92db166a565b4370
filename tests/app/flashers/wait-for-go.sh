#!/bin/sh
# Ends with a success once a file named go appears beside it; writes its process ID first.
dir=$(dirname "$0")
echo $$ > "$dir/pid.tmp" && mv "$dir/pid.tmp" "$dir/pid"
while [ ! -e "$dir/go" ]; do sleep 0.01; done
printf 'Download done.\nDownload done.\nDownload done.\nSubmitting leave request...\n'
