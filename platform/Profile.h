#pragma once
// Private-profile reading of an INI file: "[Section]" lines and "Key=Value"
// lines, read once into memory.
//
// - A missing section or key gives the caller's default, silently.
// - Section and key names compare without case (ASCII letters; other bytes,
//   GBK included, compare as they stand).
// - Values are trimmed of blanks and tabs and are otherwise taken as they
//   stand, as byte strings (GBK for the terminal's files).
// - When a section or a key occurs twice, the first occurrence wins.
// - Lines that are neither a section, a key line, a comment nor blank are
//   skipped; the first one's number is kept so that the caller can report it.
//
// A Profile is a plain value: build it on one thread, read it from any.

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace quor::platform {

class Profile {
 public:
  // Files larger than this are refused: a configuration file is a few
  // hundred bytes, and a huge one is a broken or hostile file.
  static constexpr std::size_t kMaxFileSize = 1 << 20;
  // Longer lines are cut at this length (the rest of the line is dropped, so
  // it can never be read as a line of its own).
  static constexpr std::size_t kMaxLineLength = 190;

  // Reads the file at path. nullopt when no file exists there. Throws
  // std::runtime_error with a message naming the path when the file exists
  // but cannot be read or is larger than kMaxFileSize.
  static std::optional<Profile> Load(const std::string& path);

  // Parses INI text held in memory (never fails).
  static Profile Parse(std::string_view text);

  // The value of key in section, or defaultValue when either is missing.
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view defaultValue) const;

  // 1-based number of the first line skipped as malformed, 0 when none.
  int FirstMalformedLine() const { return firstMalformedLine_; }

 private:
  friend struct ProfileBuilder;
  // Key: lower-cased section + '\n' + lower-cased key ('\n' never occurs in
  // a name, so the pair is unambiguous).
  std::map<std::string, std::string, std::less<>> values_;
  int firstMalformedLine_ = 0;
};

}  // namespace quor::platform
