#ifndef QUOR_PLATFORM_DRIVER_API_H
#define QUOR_PLATFORM_DRIVER_API_H
/*
 * The C interface a decoder driver library exports, and the layout of the
 * decoder requests sent through it (the terminal's binding packs them, the
 * drivers unpack them; both take the numbers from here). The terminal finds
 * the library through [Drivers32] of drivers.ini, loads it and calls one
 * function, DriverProc, for open, close and every request.
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

/* Decoder requests. Every request the terminal makes is one message,
 * kDecoderMessage, with two parameters:
 *   lParam1 bits 0-7    command number (kDecoderCommand...)
 *           bits 8-15   low 8 bits of the stream handle (0 for open-file)
 *           bits 16-31  value code, whose meaning depends on the command
 *   lParam2             a 32-bit argument, zero-extended; for open-file the
 *                       address of the zero-terminated path text
 * The result is the driver's 32-bit answer. */
enum { kDecoderMessage = kDrvUser + 1 /* 0x4001 */ };

/* Command numbers; 2 and 7 are not used. */
enum {
  kDecoderCommandOpenFile = 1,  /* value code: mode; result: stream handle */
  kDecoderCommandControl = 3,   /* value code: control code */
  kDecoderCommandPause = 4,     /* pause the stream */
  kDecoderCommandEndStream = 5, /* stop and release the stream */
  kDecoderCommandSetParam = 6,  /* value code: parameter */
  kDecoderCommandSelect = 8,    /* value code: what is selected */
  kDecoderCommandSetValue = 9,  /* value code: value */
  kDecoderCommandGetValue = 10  /* value code: value; result: the value */
};

/* The value codes the terminal sends, by command. */
enum {
  /* get value */
  kDecoderCodePosition = 518,     /* 0x0206 play position; 0 = nothing plays */
  kDecoderCodeLength = 531,       /* 0x0213 stream length, same unit */
  kDecoderCodeChannelInfo = 1538, /* 0x0602 above 2: channels chosen by select */
  /* get value and set value: two 16-bit levels, the high one is read */
  kDecoderCodeVolume = 1283, /* 0x0503 */
  /* set value: the channel mix of the left and the right output */
  kDecoderCodeMixLeft = 1297,  /* 0x0511 */
  kDecoderCodeMixRight = 1298, /* 0x0512 */
  /* select: audio channel 1, 2 or 3 */
  kDecoderCodeTrack = 36, /* 0x0024 */
  /* set param */
  kDecoderCodeSeekTarget = 512, /* 0x0200 target of the next seek */
  kDecoderCodeSpeed = 514,      /* 0x0202 set to 100 on every new stream */
  /* control (argument 0, except seek) */
  kDecoderControlSeek = 2,   /* argument kDecoderCodeSeekTarget: jump to it */
  kDecoderControlResume = 4, /* resume after pause */
  kDecoderControlPlay = 768, /* 0x0300 start playback */
  /* open-file mode */
  kDecoderOpenMode = 1
};

/* Channel mix values (set value, codes 1297 and 1298): 100 in the low 16 bits
 * takes the left input, 100 in the high 16 bits the right input. */
enum {
  kDecoderMixTakeLeft = 100,        /* 0x00000064 */
  kDecoderMixTakeRight = 0x00640000 /* 6553600 */
};

/* lParam1 of a request, and the fields of one. */
typedef struct QuorDecoderRequest {
  uint8_t command;
  uint8_t handle;
  uint16_t code;
} QuorDecoderRequest;

#ifdef __cplusplus
#define QUOR_DRIVER_CONSTEXPR constexpr
#else
#define QUOR_DRIVER_CONSTEXPR
#endif

static inline QUOR_DRIVER_CONSTEXPR uint32_t QuorPackDecoderRequest(uint8_t command, uint8_t handle,
                                                                    uint16_t code) {
  return (uint32_t)command | ((uint32_t)handle << 8) | ((uint32_t)code << 16);
}

static inline QUOR_DRIVER_CONSTEXPR QuorDecoderRequest QuorUnpackDecoderRequest(intptr_t lParam1) {
  const uint32_t first = (uint32_t)(uintptr_t)lParam1;
  QuorDecoderRequest request = {(uint8_t)(first & 0xFFu), (uint8_t)((first >> 8) & 0xFFu),
                                (uint16_t)(first >> 16)};
  return request;
}

typedef intptr_t (*QuorDriverProc)(uintptr_t driverId, uint32_t message, intptr_t lParam1,
                                   intptr_t lParam2);

/* The one symbol a driver library exports. */
#define QUOR_DRIVER_PROC_SYMBOL "DriverProc"

#ifdef __cplusplus
}
#endif

#endif
