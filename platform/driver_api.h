#ifndef QUOR_PLATFORM_DRIVER_API_H
#define QUOR_PLATFORM_DRIVER_API_H
/*
 * The C interface a decoder driver library exports. The terminal finds the
 * library through [Drivers32] of drivers.ini, loads it and calls one function,
 * DriverProc, for open, close and every request.
 *
 * Parameters are pointer-sized: a request may carry the address of a text
 * (the path of DecoderOpenFile), which does not fit in 32 bits on a 64-bit
 * machine. Every other value the terminal sends is a 32-bit number,
 * zero-extended.
 *
 * Lifecycle of one driver instance:
 *   id = DriverProc(0, kDrvOpen, (intptr_t)&openInfo, openParam)
 *        nonzero id = opened; 0 = the driver refused (the open fails)
 *   DriverProc(id, message, lParam1, lParam2)   any number of times
 *   DriverProc(id, kDrvClose, lParam1, lParam2) once; id is dead afterwards
 * All calls for one instance come from one thread at a time.
 */

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Message numbers. The open and close numbers follow the classic
 * installable-driver numbering; requests of a driver's own start at kDrvUser. */
enum {
  kDrvOpen = 0x0003,
  kDrvClose = 0x0004,
  kDrvUser = 0x4000,
  /* Diagnostics, not used by the terminal: lParam1 = const char* property
   * name (zero-terminated), lParam2 = QuorDriverText*. The driver writes the
   * property's text form (zero-terminated, cut to fit) and returns its full
   * length plus one, or 0 when it has no such property. */
  kDrvQueryProperty = 0x4100
};

/* What OpenDriver hands the driver with kDrvOpen (lParam1). The texts live
 * only for the duration of the call. */
typedef struct QuorDriverOpenInfo {
  uint32_t size;           /* sizeof(QuorDriverOpenInfo) */
  const char* iniPath;     /* the drivers.ini that named the driver */
  const char* driverName;  /* e.g. "reeldrv" */
  const char* sectionName; /* e.g. "Drivers32" */
  const char* libraryPath; /* the library file that was loaded */
} QuorDriverOpenInfo;

typedef struct QuorDriverText {
  char* buffer;
  size_t capacity; /* bytes available at buffer, the terminating zero included */
} QuorDriverText;

typedef intptr_t (*QuorDriverProc)(uintptr_t driverId, uint32_t message, intptr_t lParam1,
                                   intptr_t lParam2);

/* The one symbol a driver library exports. */
#define QUOR_DRIVER_PROC_SYMBOL "DriverProc"

#ifdef __cplusplus
}
#endif

#endif
