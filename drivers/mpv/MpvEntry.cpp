// The C entry point of libreeldrv-mpv.so.

#include "drivers/DriverEntry.h"
#include "drivers/mpv/MpvDriver.h"

QUOR_DRIVER_ENTRY(quor::drivers::MpvDriver)
