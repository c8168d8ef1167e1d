#pragma once
// How a venue names its song files, as a pattern over the file's base name:
//
//   {singer}  {title}  {number}  {language}  {type}  {skip}   fields
//   [ ... ]                                                   an optional part
//   anything else                                             itself; a blank
//                                                             stands for a run
//                                                             of blanks
//
// Two profiles are built in: "default" = {singer}-{title}[-{language}][-{type}]
// (刘德华-忘情水-国语-流行) and "number" = {number} {singer}-{title}[-{language}]
// [-{type}] (10023 刘德华-忘情水). {number} matches digits only; {language} and
// {type} match only words the dictionaries know, which lets an optional part
// tell 刘德华-忘情水-流行 (a category) from 刘德华-忘情水-国语 (a language);
// the other fields match any text that is not empty after trimming.
//
// The name is matched in half width (－ is -). The variant with the most
// optional parts present wins; within it, a split whose singer is a known
// singer (A-Lin-给我一个理由忘记), else the one with the shortest first field.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Text.h"

namespace quor::tools::catalogue {

struct ParsedName {
  bool parsed = false;  // false: no variant matched; title holds the whole name
  std::string singer;   // UTF-8, trimmed; empty when the pattern has none
  std::string title;
  std::string language;  // a catalogue word, or empty when the name has none
  std::string type;
  std::optional<std::int64_t> number;
};

// Whether a singer name (half width, trimmed) is a singer the catalogue knows.
using KnownSinger = std::function<bool(std::u32string_view name)>;

class NameProfile {
 public:
  // "default", "number" or a pattern. std::invalid_argument with a clear
  // text for a pattern that cannot work (no {title}, an unknown field, an
  // unclosed [, more than four optional parts).
  static NameProfile Make(std::string_view choice);

  // The pattern text (the built-in profiles' too).
  const std::string& Pattern() const { return pattern_; }

  // Parses a base name (the file name without its extension).
  ParsedName Parse(std::u32string_view baseName, Normaliser& normaliser,
                   const KnownSinger& known) const;

 private:
  enum class Field : std::uint8_t { Singer, Title, Number, Language, Type, Skip };
  struct Token {
    bool isField = false;
    Field field = Field::Skip;
    std::u32string literal;
  };
  using Variant = std::vector<Token>;
  struct Match;

  NameProfile() = default;
  void Search(const Variant& v, std::size_t token, std::size_t pos, std::u32string_view text,
              Normaliser& normaliser, std::vector<std::u32string_view>& values,
              std::vector<Match>& found, int& budget) const;

  std::string pattern_;
  std::vector<Variant> variants_;  // most optional parts first
};

}  // namespace quor::tools::catalogue
