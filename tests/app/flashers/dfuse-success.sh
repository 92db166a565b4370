#!/bin/sh
# A DfuSe image of two elements written, then the leave request; the device resets at once, so
# the status read after the request fails and dfu-util exits with 74 (the firmware is written).
[ "$1" = -V ] && exec echo "dfu-util 0.11"
cat <<'OUT'
dfu-util 0.11

Opening DFU capable USB device...
Device ID 0483:df11
Device DFU version 011a
Claiming USB DFU Interface...
Setting Alternate Interface #0 ...
Determining device status...
DFU state(2) = dfuIDLE, status(0) = No error condition is present
DFU mode device DFU version 011a
Device returned transfer size 2048
DfuSe interface name: "Internal Flash  "
File contains 1 DFU images
Parsing DFU image 1
Image for alternate setting 0, (2 elements, total size = 20480)
Setting Alternate Interface #0 ...
Parsing element 1, address = 0x08000000, size = 16384
Erase   	[=========================] 100%        16384 bytes
Erase    done.
Download	[=========================] 100%        16384 bytes
Download done.
Parsing element 2, address = 0x08004000, size = 4096
Erase   	[=========================] 100%         4096 bytes
Erase    done.
Download	[=========================] 100%         4096 bytes
Download done.
Done parsing DfuSe file
Submitting leave request...
OUT
echo "dfu-util: Error during download get_status" >&2
exit 74
