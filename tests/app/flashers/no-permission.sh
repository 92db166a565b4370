#!/bin/sh
# The loader is on the bus, but this user may not open it (no udev rule): dfu-util 0.11 skips it
# and then finds no device.
[ "$1" = -V ] && exec echo "dfu-util 0.11"
echo "dfu-util 0.11"
echo
echo "dfu-util: Cannot open DFU device 0483:df11 found on devnum 7 (LIBUSB_ERROR_ACCESS)" >&2
echo "dfu-util: No DFU capable USB device available" >&2
exit 74
