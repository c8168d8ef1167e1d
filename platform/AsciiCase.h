#pragma once
// Letter case of the system's names: operations, providers, fields,
// parameters, program ids, INI sections and keys all compare without regard
// to the case of A to Z, and of nothing else. Bytes and units outside ASCII
// compare as they are: a GBK or UTF-16 name is never folded, whatever the
// process locale says. Pure; any thread.

#include <string_view>

namespace quor::platform {

template <class Char>
constexpr Char AsciiLower(Char c) {
  return c >= Char('A') && c <= Char('Z') ? static_cast<Char>(c - Char('A') + Char('a')) : c;
}

namespace detail {
template <class Char>
constexpr bool EqualsNoCase(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}
}  // namespace detail

// True when a and b differ at most in the case of ASCII letters.
constexpr bool EqualsNoCase(std::string_view a, std::string_view b) {
  return detail::EqualsNoCase(a, b);
}
constexpr bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
  return detail::EqualsNoCase(a, b);
}

}  // namespace quor::platform
