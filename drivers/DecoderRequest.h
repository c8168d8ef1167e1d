#pragma once
// What a decoder request carries, as both of our drivers read it.
//
// Message kDecoderMessage (DRV_USER + 1); lParam1 packs
//   bits 0-7 command, bits 8-15 stream handle byte, bits 16-31 value code;
// lParam2 is the 32-bit argument, or for command 1 the address of the
// zero-terminated path text.

#include <cstdint>

#include "platform/driver_api.h"

namespace quor::drivers {

inline constexpr std::uint32_t kDecoderMessage = kDrvUser + 1;

enum Command : std::uint8_t {
  kOpenFile = 1,
  kControl = 3,
  kPause = 4,
  kEndStream = 5,
  kSetParam = 6,
  kSelect = 8,
  kSetValue = 9,
  kGetValue = 10,
};

// Value codes with a meaning in our drivers.
inline constexpr std::uint16_t kCodeSeekTarget = 512;    // set param: target, ms
inline constexpr std::uint16_t kCodeSpeed = 514;         // set param: speed, percent
inline constexpr std::uint16_t kCodePosition = 518;      // get: play position, ms
inline constexpr std::uint16_t kCodeLength = 531;        // get: stream length, ms
inline constexpr std::uint16_t kCodeChannelInfo = 1538;  // get: 3 = several tracks, else 2
inline constexpr std::uint16_t kCodeVolume = 1283;       // get/set: two 16-bit levels
inline constexpr std::uint16_t kCodeMixLeft = 1297;      // set: what the left output takes
inline constexpr std::uint16_t kCodeMixRight = 1298;     // set: what the right output takes
inline constexpr std::uint16_t kCodeTrack = 36;          // select: audio track 1..3
inline constexpr std::uint16_t kControlPlay = 768;       // control: start playback
inline constexpr std::uint16_t kControlResume = 4;       // control: resume after pause
inline constexpr std::uint16_t kControlSeek = 2;         // control: jump, argument 512

// A volume level of 200 is unity gain; levels run 0..255.
inline constexpr std::uint32_t kStartLevel = 200;
inline constexpr std::uint32_t kMaxLevel = 255;
// Mix values: a percentage of the left input in the low 16 bits and of the
// right input in the high 16 bits. The left output normally takes the left
// input, the right output the right input.
inline constexpr std::uint32_t kMixTakeLeft = 100;
inline constexpr std::uint32_t kMixTakeRight = 100u << 16;

struct DecoderRequest {
  std::uint8_t command = 0;
  std::uint8_t handle = 0;
  std::uint16_t code = 0;
};

constexpr DecoderRequest UnpackDecoderRequest(std::intptr_t lParam1) {
  const auto first = static_cast<std::uint32_t>(static_cast<std::uintptr_t>(lParam1));
  return {static_cast<std::uint8_t>(first & 0xFF), static_cast<std::uint8_t>((first >> 8) & 0xFF),
          static_cast<std::uint16_t>(first >> 16)};
}

// Stream handles run 1..255 and wrap, so that the byte that travels in a
// request names the stream unambiguously.
constexpr std::uint8_t NextStreamHandle(std::uint8_t last) {
  return static_cast<std::uint8_t>(last % 255 + 1);
}

// Copies text into a diagnostics buffer as kDrvQueryProperty asks; returns the
// full length plus one.
inline std::intptr_t CopyPropertyText(const char* text, std::intptr_t lParam2) {
  std::size_t length = 0;
  while (text[length] != '\0') ++length;
  auto* out = reinterpret_cast<QuorDriverText*>(lParam2);
  if (out != nullptr && out->buffer != nullptr && out->capacity > 0) {
    const std::size_t copied = length < out->capacity - 1 ? length : out->capacity - 1;
    for (std::size_t i = 0; i < copied; ++i) out->buffer[i] = text[i];
    out->buffer[copied] = '\0';
  }
  return static_cast<std::intptr_t>(length + 1);
}

}  // namespace quor::drivers
