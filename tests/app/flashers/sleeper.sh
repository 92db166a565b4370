#!/bin/sh
# Never ends by itself: writes its process ID beside itself, then sleeps with the pipe open.
dir=$(dirname "$0")
echo "waiting for the device"
echo $$ > "$dir/pid.tmp" && mv "$dir/pid.tmp" "$dir/pid"
exec sleep 100000
