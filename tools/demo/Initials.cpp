#include "Initials.h"

#include <unicode/translit.h>
#include <unicode/unistr.h>

#include <stdexcept>

namespace quor::tools::demo {

struct Initials::Transliterator {
  std::unique_ptr<icu::Transliterator> icu;
};

Initials::Initials() : translit_(std::make_unique<Transliterator>()) {
  UErrorCode status = U_ZERO_ERROR;
  translit_->icu.reset(
      icu::Transliterator::createInstance("Han-Latin; Latin-ASCII; Upper", UTRANS_FORWARD, status));
  if (U_FAILURE(status) || !translit_->icu)
    throw std::runtime_error(std::string("ICU has no Han-Latin transliterator: ") +
                             u_errorName(status));
}

Initials::~Initials() = default;

const std::string& Initials::OfWord(std::string_view word) {
  const std::string key(word);
  if (const auto it = memo_.find(key); it != memo_.end()) return it->second;
  icu::UnicodeString text = icu::UnicodeString::fromUTF8(key);
  translit_->icu->transliterate(text);
  std::string latin;
  text.toUTF8String(latin);
  // The first letter of every run of letters (syllables come apart by blanks).
  std::string initials;
  bool inWord = false;
  for (const char c : latin) {
    const bool letter = c >= 'A' && c <= 'Z';
    if (letter && !inWord) initials += c;
    inWord = letter;
  }
  return memo_.emplace(key, std::move(initials)).first->second;
}

std::string Initials::OfWords(const std::vector<std::string>& words) {
  std::string out;
  for (const std::string& w : words) out += OfWord(w);
  return out;
}

}  // namespace quor::tools::demo
