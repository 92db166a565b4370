#!/bin/sh
# No device in DFU mode on the bus.
[ "$1" = -V ] && exec echo "dfu-util 0.11"
echo "dfu-util 0.11"
echo
echo "dfu-util: Warning: Invalid DFU suffix signature" >&2
echo "dfu-util: A valid DFU suffix will be required in a future dfu-util release" >&2
echo "dfu-util: No DFU capable USB device available" >&2
exit 74
