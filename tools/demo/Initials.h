#pragma once
// FIRSTWORD: the upper-case initial letters of a title's syllables, computed
// with ICU's Han-to-Latin transliteration (then Latin-to-ASCII and upper
// case): 月亮代表 -> YUE LIANG DAI BIAO -> YLDB. Latin words keep their own
// initial. Results are kept per word, because a catalogue repeats its words
// and the transliterator is slow. One thread.

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quor::tools::demo {

class Initials {
 public:
  // Throws std::runtime_error when ICU lacks the transliterator.
  Initials();
  ~Initials();
  Initials(const Initials&) = delete;
  Initials& operator=(const Initials&) = delete;

  // Initials of one word (UTF-8).
  const std::string& OfWord(std::string_view word);
  // Initials of a title given as its words.
  std::string OfWords(const std::vector<std::string>& words);

 private:
  struct Transliterator;  // ICU's, kept out of this header
  std::unique_ptr<Transliterator> translit_;
  std::unordered_map<std::string, std::string> memo_;
};

}  // namespace quor::tools::demo
