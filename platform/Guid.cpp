#include "platform/Guid.h"

#include <cstdio>

namespace quor::platform {
namespace {
int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
// Reads `digits` hex digits at text[pos]; false if any is not a hex digit.
bool ReadHex(std::string_view text, std::size_t pos, int digits, std::uint64_t& out) {
  out = 0;
  for (int i = 0; i < digits; ++i) {
    const int d = HexDigit(text[pos + static_cast<std::size_t>(i)]);
    if (d < 0) return false;
    out = (out << 4) | static_cast<std::uint64_t>(d);
  }
  return true;
}
}  // namespace

std::optional<Guid> Guid::Parse(std::string_view t) {
  // {8-4-4-4-12}: 38 characters with the braces.
  if (t.size() != 38 || t[0] != '{' || t[37] != '}' || t[9] != '-' || t[14] != '-' ||
      t[19] != '-' || t[24] != '-')
    return std::nullopt;
  Guid g;
  std::uint64_t v = 0;
  if (!ReadHex(t, 1, 8, v)) return std::nullopt;
  g.data1 = static_cast<std::uint32_t>(v);
  if (!ReadHex(t, 10, 4, v)) return std::nullopt;
  g.data2 = static_cast<std::uint16_t>(v);
  if (!ReadHex(t, 15, 4, v)) return std::nullopt;
  g.data3 = static_cast<std::uint16_t>(v);
  const std::size_t starts[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (int i = 0; i < 8; ++i) {
    if (!ReadHex(t, starts[i], 2, v)) return std::nullopt;
    g.data4[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v);
  }
  return g;
}

std::string Guid::ToString() const {
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(data1), data2, data3, data4[0], data4[1], data4[2], data4[3],
                data4[4], data4[5], data4[6], data4[7]);
  return buf;
}

}  // namespace quor::platform
