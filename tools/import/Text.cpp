#include "Text.h"

#include <unicode/uchar.h>
#include <unicode/uscript.h>

#include <stdexcept>

#include "IcuTransliterator.h"
#include "platform/Codepage.h"

namespace quor::tools::catalogue {

const char* EncodingName(Encoding encoding) {
  switch (encoding) {
    case Encoding::Utf8:
      return "UTF-8";
    case Encoding::Gbk:
      return "GBK";
    case Encoding::Utf16:
      return "UTF-16";
  }
  return "?";
}

bool DecodeUtf8(std::string_view bytes, std::u32string& out) {
  out.clear();
  out.reserve(bytes.size());
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* end = p + bytes.size();
  while (p < end) {
    const unsigned char b = *p;
    if (b < 0x80) {
      out += static_cast<char32_t>(b);
      ++p;
      continue;
    }
    int more = 0;
    char32_t c = 0;
    char32_t least = 0;
    if ((b & 0xE0) == 0xC0) {
      more = 1;
      c = b & 0x1F;
      least = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
      more = 2;
      c = b & 0x0F;
      least = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
      more = 3;
      c = b & 0x07;
      least = 0x10000;
    } else {
      return false;
    }
    if (end - p <= more) return false;
    for (int i = 1; i <= more; ++i) {
      if ((p[i] & 0xC0) != 0x80) return false;
      c = (c << 6) | (p[i] & 0x3F);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    out += c;
    p += more + 1;
  }
  return true;
}

bool IsUtf8(std::string_view bytes) {
  // ASCII is the common case of a whole name; only look closer past it.
  std::size_t i = 0;
  while (i < bytes.size() && static_cast<unsigned char>(bytes[i]) < 0x80) ++i;
  if (i == bytes.size()) return true;
  std::u32string ignored;
  return DecodeUtf8(bytes.substr(i), ignored);
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::string ToUtf8(std::u32string_view text) {
  std::string out;
  out.reserve(text.size() * 3);
  for (const char32_t c : text) AppendUtf8(out, c);
  return out;
}

bool DecodeName(std::string_view bytes, std::string& utf8, Encoding* how) {
  if (IsUtf8(bytes)) {
    utf8.assign(bytes);
    if (how != nullptr) *how = Encoding::Utf8;
    return true;
  }
  if (how != nullptr) *how = Encoding::Gbk;
  utf8 = platform::GbkToUtf8(bytes);
  // The input was not UTF-8, so any replacement character in the result
  // stands for bytes GB18030 could not read either.
  return utf8.find("\xEF\xBF\xBD") == std::string::npos;
}

bool IsBlank(char32_t c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v' || c == 0x3000 ||
         c == 0xA0;
}

std::string_view Trim(std::string_view s) {
  // The ideographic space is E3 80 80 in UTF-8.
  constexpr std::string_view kIdeographic = "\xE3\x80\x80";
  while (true) {
    if (!s.empty() &&
        (s.front() == ' ' || s.front() == '\t' || s.front() == '\r' || s.front() == '\n')) {
      s.remove_prefix(1);
    } else if (s.substr(0, 3) == kIdeographic) {
      s.remove_prefix(3);
    } else {
      break;
    }
  }
  while (true) {
    if (!s.empty() &&
        (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) {
      s.remove_suffix(1);
    } else if (s.size() >= 3 && s.substr(s.size() - 3) == kIdeographic) {
      s.remove_suffix(3);
    } else {
      break;
    }
  }
  return s;
}

std::u32string_view Trim(std::u32string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char32_t HalfWidth(char32_t c) {
  if (c >= 0xFF01 && c <= 0xFF5E) return c - 0xFF01 + 0x21;
  if (c == 0x3000) return ' ';
  return c;
}

bool IsHan(char32_t c) {
  // The common blocks first: no ICU call for most characters of a title.
  if (c >= 0x4E00 && c <= 0x9FFF) return true;
  if (c < 0x2E80) return false;
  UErrorCode status = U_ZERO_ERROR;
  return uscript_getScript(static_cast<UChar32>(c), &status) == USCRIPT_HAN && U_SUCCESS(status);
}

bool IsLatinLetter(char32_t c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return true;
  if (c < 0xC0) return false;
  UErrorCode status = U_ZERO_ERROR;
  return u_isalpha(static_cast<UChar32>(c)) &&
         uscript_getScript(static_cast<UChar32>(c), &status) == USCRIPT_LATIN && U_SUCCESS(status);
}

std::size_t CountChars(std::string_view utf8) {
  std::size_t n = 0;
  for (const char c : utf8)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
  return n;
}

bool CutToChars(std::string& utf8, std::size_t maxChars) {
  std::size_t chars = 0;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    if ((static_cast<unsigned char>(utf8[i]) & 0xC0) == 0x80) continue;
    if (chars == maxChars) {
      utf8.resize(i);
      return true;
    }
    ++chars;
  }
  return false;
}

struct Normaliser::Icu {
  IcuTransliterator simplify{"Traditional-Simplified"};
};

Normaliser::Normaliser() : icu_(std::make_unique<Icu>()) {}
Normaliser::~Normaliser() = default;

char32_t Normaliser::Simplified(char32_t c) {
  if (!IsHan(c)) return c;
  if (const auto it = memo_.find(c); it != memo_.end()) return it->second;
  icu::UnicodeString text(static_cast<UChar32>(c));
  icu_->simplify.Get().transliterate(text);
  // A character maps to one character; anything else keeps the original.
  char32_t out = c;
  if (text.countChar32() == 1) out = static_cast<char32_t>(text.char32At(0));
  memo_.emplace(c, out);
  return out;
}

std::u32string Normaliser::Key(std::u32string_view text) {
  std::u32string key;
  key.reserve(text.size());
  for (char32_t c : text) {
    c = HalfWidth(c);
    if (IsBlank(c)) continue;
    if (c >= 'A' && c <= 'Z') {
      c = c - 'A' + 'a';
    } else if (c >= 0x80) {
      c = IsHan(c) ? Simplified(c) : static_cast<char32_t>(u_tolower(static_cast<UChar32>(c)));
    }
    key += c;
  }
  return key;
}

std::string Normaliser::Key(std::string_view utf8) {
  std::u32string text;
  if (!DecodeUtf8(utf8, text)) return std::string(utf8);
  return ToUtf8(Key(text));
}

}  // namespace quor::tools::catalogue
