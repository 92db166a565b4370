#!/bin/sh
# Stands next to the end-to-end test as its dfu-util: prints what the flasher named by
# VQ_E2E_FLASHER prints, after a short delay, so the progress window is up meanwhile.
sleep 0.5
exec "$VQ_E2E_FLASHER" "$@"
