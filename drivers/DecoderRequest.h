#pragma once
// What both of our drivers make of a decoder request beyond its layout (the
// layout, the commands and the value codes are platform/driver_api.h's).

#include <cstddef>
#include <cstdint>

#include "platform/driver_api.h"

namespace quor::drivers {

// A volume level of 200 is unity gain; levels run 0..255.
inline constexpr std::uint32_t kStartLevel = 200;
inline constexpr std::uint32_t kMaxLevel = 255;

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
