#!/bin/sh
# Prints nothing and fails.
exit 3
