// Hostile file names and name patterns: the first line of the input is a
// pattern, the rest a file name. Patterns are refused clearly or compiled;
// any name parses (or falls back to its whole text) within the search bounds;
// initials stay within A to Z and the column's width.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "Initials.h"
#include "NameProfile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quor::tools::catalogue;
  static Normaliser normaliser;
  static Initials initials;
  const std::string input(reinterpret_cast<const char*>(data), size);
  const auto newline = input.find('\n');
  const std::string pattern = newline == std::string::npos ? "default" : input.substr(0, newline);
  const std::string bytes = newline == std::string::npos ? input : input.substr(newline + 1);
  std::string name;
  DecodeName(bytes, name, nullptr);
  std::u32string name32;
  if (!DecodeUtf8(name, name32)) __builtin_trap();  // DecodeName always gives UTF-8
  try {
    const NameProfile profile = NameProfile::Make(pattern);
    const ParsedName parsed =
        profile.Parse(name32, normaliser, [](std::u32string_view s) { return s.size() == 3; });
    if (!IsUtf8(parsed.title) || !IsUtf8(parsed.singer)) __builtin_trap();
  } catch (const std::invalid_argument&) {
  }
  const std::string letters = initials.Of(name);
  if (letters.size() > kMaxInitials) __builtin_trap();
  for (const char c : letters)
    if (c < 'A' || c > 'Z') __builtin_trap();
  return 0;
}
