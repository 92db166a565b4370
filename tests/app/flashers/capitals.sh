#!/bin/sh
# The success phrase in capital letters.
echo "DOWNLOAD DONE."
