#!/bin/sh
# Bytes that are not UTF-8 around the phrases.
printf 'Device name: \377\376\200 Flash\n'
printf 'Download\t[====] 100%%\n'
printf 'Download done.\nDownload done.\nDownload done.\n'
printf 'Submitting leave request...\n'
printf 'trailing \303\n'
