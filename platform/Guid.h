#pragma once
// A 128-bit class or interface identity, written as braced text
// "{6EE68EED-0503-48A7-8626-C11D1330E902}". The wire and the registries use
// the text; the binary form is kept for fast comparison. Thread-safe (values).

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quor::platform {

struct Guid {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::array<std::uint8_t, 8> data4{};

  bool IsNull() const {
    return data1 == 0 && data2 == 0 && data3 == 0 && data4 == std::array<std::uint8_t, 8>{};
  }
  friend bool operator==(const Guid&, const Guid&) = default;
  friend auto operator<=>(const Guid&, const Guid&) = default;

  // Parses "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (hex digits in any case,
  // braces required); nullopt for anything else.
  static std::optional<Guid> Parse(std::string_view text);
  // The braced upper-case text.
  std::string ToString() const;
};

}  // namespace quor::platform
