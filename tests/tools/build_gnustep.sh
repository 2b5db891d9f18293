#!/bin/sh
# Builds an Objective-C tool against GNUstep Base: build_gnustep.sh SOURCE OUTPUT
set -e
exec gcc -std=gnu11 -w $(gnustep-config --objc-flags) -o "$2" "$1" $(gnustep-config --base-libs)
