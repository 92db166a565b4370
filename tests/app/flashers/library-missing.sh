#!/bin/sh
# What the Linux loader prints when the flasher's USB library is missing.
echo "$0: error while loading shared libraries: libusb-1.0.so.0: cannot open shared object file: No such file or directory" >&2
exit 127
