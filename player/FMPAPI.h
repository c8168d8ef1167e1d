#pragma once
// The binding to the video decoder driver "reeldrv": one driver handle per
// process, one message primitive and one thin operation per command.
//
// Every request is message 0x4001 (DRV_USER + 1) with two parameters:
//   first:  bits 0-7 command, bits 8-15 low 8 bits of the stream handle,
//           bits 16-31 value code
//   second: a 32-bit argument, or for DecoderOpenFile the address of the
//           zero-terminated path text (pointer-sized on this platform)
// No request checks its result; requests to a driver that did not open go to
// a null handle and return 0.
//
// GUI thread only: the binding has no lock.

#include <cstdint>
#include <string>

namespace quor::player {

inline constexpr std::uint32_t kDecoderMessage = 0x4001;

// Command numbers (2 and 7 are not used).
inline constexpr std::uint8_t kCommandOpenFile = 1;
inline constexpr std::uint8_t kCommandControl = 3;
inline constexpr std::uint8_t kCommandPause = 4;
inline constexpr std::uint8_t kCommandEndStream = 5;
inline constexpr std::uint8_t kCommandSetParam = 6;
inline constexpr std::uint8_t kCommandSelect = 8;
inline constexpr std::uint8_t kCommandSetValue = 9;
inline constexpr std::uint8_t kCommandGetValue = 10;

// The first parameter of a request: command OR handle << 8 OR code << 16.
constexpr std::uint32_t PackDecoderRequest(std::uint8_t command, std::uint8_t handle,
                                           std::uint16_t code) {
  return static_cast<std::uint32_t>(command) | (static_cast<std::uint32_t>(handle) << 8) |
         (static_cast<std::uint32_t>(code) << 16);
}

// Opens "reeldrv" of section "Drivers32" and keeps the handle (null when the
// driver cannot be opened). A handle already held is closed first.
void DecoderOpen();

// Closes the held handle and sets it to null.
void DecoderClose();

// Whether DecoderOpen got a driver (false before it, after DecoderClose and
// when the open failed).
bool DecoderIsOpen();

// Packs and sends one request; returns the driver's result unchanged.
std::uint32_t DecoderSend(std::uint8_t command, std::uint8_t handle, std::uint16_t code,
                          std::uint32_t argument);

// Command 1: opens the file; the low 16 bits of the result are the stream
// handle. The path's bytes are passed as they are.
std::uint16_t DecoderOpenFile(std::uint16_t mode, const std::string& path);

// The stream operations take the 16-bit stream handle; only its low 8 bits
// travel.
void DecoderControl(std::uint16_t stream, std::uint16_t code, std::uint32_t argument);   // 3
void DecoderPause(std::uint16_t stream);                                                 // 4
void DecoderEndStream(std::uint16_t stream);                                             // 5
void DecoderSetParam(std::uint16_t stream, std::uint16_t code, std::uint32_t argument);  // 6
void DecoderSelect(std::uint16_t stream, std::uint16_t code, std::uint32_t argument);    // 8
void DecoderSetValue(std::uint16_t stream, std::uint16_t code, std::uint32_t argument);  // 9
std::uint32_t DecoderGetValue(std::uint16_t stream, std::uint16_t code);                 // 10

}  // namespace quor::player
