#!/bin/sh
# Stands in for dfu-util/dfu-util.exe beside the updater on Linux: runs the system's
# dfu-util with the arguments untouched. With STROBIX_VU_LIB set (a folder holding the
# virtual unit's libusb-1.0.so.0) the tool alone talks to the virtual unit instead
# of the USB bus.
if [ -n "${STROBIX_VU_LIB:-}" ]; then
    LD_LIBRARY_PATH="$STROBIX_VU_LIB${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
    export LD_LIBRARY_PATH
fi
exec "${STROBIX_DFU_UTIL:-/usr/bin/dfu-util}" "$@"
