#!/usr/bin/env python3
# The DfuSe file the update benchmarks write: elements of 70000, 5000 and 6161 bytes (81 KiB),
# the same bytes every run.
# Usage: bench/make-firmware.py OUT
import random, struct, sys, zlib

random.seed(320)
elements = [(0x08000000, 70000), (0x08020000, 5000), (0x08040000, 6161)]
body = b"".join(struct.pack("<II", a, n) + random.randbytes(n) for a, n in elements)
target = b"Target" + struct.pack("<BI", 0, 1) + b"Internal Flash".ljust(255, b"\0")
target += struct.pack("<II", len(body), len(elements)) + body
data = b"DfuSe" + struct.pack("<BIB", 1, 11 + len(target), 1) + target
data += struct.pack("<HHHH", 0xFFFF, 0xDF11, 0x0483, 0x011A) + b"UFD" + bytes([16])
open(sys.argv[1], "wb").write(data + struct.pack("<I", zlib.crc32(data) ^ 0xFFFFFFFF))
