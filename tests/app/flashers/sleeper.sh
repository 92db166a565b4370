#!/bin/sh
# Never ends by itself: writes its process ID beside itself, then sleeps with the pipe open.
[ "$1" = -V ] && exec echo "dfu-util 0.11"
dir=$(dirname "$0")
echo "waiting for the device"
echo $$ > "$dir/pid.tmp" && mv "$dir/pid.tmp" "$dir/pid"
exec sleep 100000
