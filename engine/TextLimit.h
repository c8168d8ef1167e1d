#pragma once
// Cutting GBK (GB18030) text to a byte limit without splitting a character:
// a lead byte 0x81-0xFE starts a two-byte character (trail 0x40-0xFE) or a
// four-byte one (second byte 0x30-0x39). Pure; any thread.

#include <cstddef>
#include <string>
#include <string_view>

namespace quor::engine {

inline std::string TruncateGbk(std::string_view text, std::size_t maxBytes) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t len = 1;
    if (c >= 0x81 && c <= 0xFE && i + 1 < text.size()) {
      const auto c2 = static_cast<unsigned char>(text[i + 1]);
      len = (c2 >= 0x30 && c2 <= 0x39) ? 4 : 2;
    }
    if (i + len > maxBytes) break;
    i += len;
  }
  return std::string(text.substr(0, i < text.size() ? i : text.size()));
}

}  // namespace quor::engine
