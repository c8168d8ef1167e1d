#pragma once
// FIRSTWORD: the letters a guest types on the terminal's letter keypad to find
// a title, upper case A to Z:
//   - a Han character gives the initial of its reading (月亮代表我的心 YLDBWDX),
//     traditional characters read as their simplified forms;
//   - polyphones take the reading of the phrase they stand in (重庆 CQ, not
//     ZQ; 音乐 YY, 银行 YH), from a table of the phrases common in titles;
//   - a Latin word gives its first letter (Blue Moon BM; full-width and
//     accented letters too);
//   - a digit gives the initial of its Chinese reading (2002 ELLE);
//   - everything else (blanks, punctuation, kana, symbols) gives nothing.
// Readings come from ICU's Han-to-Latin transliteration, asked once per
// character and kept. One thread per object.

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "Text.h"

namespace quor::tools::catalogue {

// Longest FIRSTWORD written (the column's width).
inline constexpr std::size_t kMaxInitials = 100;

class Initials {
 public:
  // Of() throws std::runtime_error when ICU lacks the transliterators.
  Initials();
  ~Initials();
  Initials(const Initials&) = delete;
  Initials& operator=(const Initials&) = delete;

  // The initials of a title given in UTF-8 (malformed bytes give nothing),
  // at most kMaxInitials letters.
  std::string Of(std::string_view titleUtf8);
  std::string Of(std::u32string_view title);

 private:
  // The initial of one Han character's usual reading, 0 when ICU has none.
  char HanInitial(char32_t simplified);

  struct Icu;
  std::unique_ptr<Icu> icu_;
  Normaliser normaliser_;
  std::unordered_map<char32_t, char> memo_;
};

}  // namespace quor::tools::catalogue
