#include "server/SessionObserver.h"

namespace quor::server {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

// Consumes `word` (lower case) at `at`, ignoring letter case.
bool Word(std::string_view text, std::size_t& at, std::string_view word) {
  if (text.size() - at < word.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (Lower(text[at + i]) != word[i]) return false;
  }
  at += word.size();
  return true;
}

std::size_t Blanks(std::string_view text, std::size_t& at) {
  const std::size_t start = at;
  while (at < text.size() && IsBlank(text[at])) ++at;
  return at - start;
}

}  // namespace

std::optional<std::int64_t> PathLookupSongId(std::string_view text) {
  std::size_t at = 0;
  Blanks(text, at);
  // Words need blanks between them; '=' may have blanks on either side.
  for (const std::string_view word : {"select", "path1", "from", "vodinfo", "where"}) {
    if (!Word(text, at, word) || Blanks(text, at) == 0) return std::nullopt;
  }
  if (!Word(text, at, "singid")) return std::nullopt;
  Blanks(text, at);
  if (!Word(text, at, "=")) return std::nullopt;
  Blanks(text, at);
  std::int64_t number = 0;
  std::size_t digits = 0;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, ++digits) {
    if (digits == 18) return std::nullopt;  // beyond any song number, and beyond 63 bits
    number = number * 10 + (text[at] - '0');
  }
  if (digits == 0) return std::nullopt;
  Blanks(text, at);
  while (at < text.size() && text[at] == ';') {
    ++at;
    Blanks(text, at);
  }
  if (at != text.size()) return std::nullopt;
  return number;
}

}  // namespace quor::server
