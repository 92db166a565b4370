#!/bin/sh
# Never ends by itself; a program it started in a session of its own also holds the output pipe.
[ "$1" = -V ] && exec echo "dfu-util 0.11"
dir=$(dirname "$0")
setsid sleep 100000 &
echo $! > "$dir/holder"
echo "waiting for the device"
echo $$ > "$dir/pid.tmp" && mv "$dir/pid.tmp" "$dir/pid"
exec sleep 100000
