#!/bin/sh
# The other wording of a library the loader could not load.
echo "dyld: Library not loaded: libusb-1.0.0.dylib" >&2
echo "  Referenced from: $0" >&2
echo "  Reason: image not found" >&2
exit 134
