#pragma once
// Text as it reaches the import: file names and list cells that are UTF-8 or
// GBK bytes, full-width letters, traditional characters. Everything inside
// the import is UTF-8 (std::string) or code points (std::u32string).
//
// The free functions are pure and thread-safe; a Normaliser holds ICU objects
// and a memo and belongs to one thread.

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

namespace quor::tools::catalogue {

// How a name or a list was written.
enum class Encoding { Utf8, Gbk, Utf16 };
const char* EncodingName(Encoding encoding);

// UTF-8 to code points; false (and `out` incomplete) when the bytes are not
// well-formed UTF-8 (overlong forms and surrogates count as malformed).
bool DecodeUtf8(std::string_view bytes, std::u32string& out);
bool IsUtf8(std::string_view bytes);
void AppendUtf8(std::string& out, char32_t c);
std::string ToUtf8(std::u32string_view text);

// Bytes from outside as UTF-8: kept when they are UTF-8, else read as GBK
// (GB18030). `how` says which; false when they are neither (the text then
// holds U+FFFD where bytes could not be read).
bool DecodeName(std::string_view bytes, std::string& utf8, Encoding* how);

// Leading and trailing blanks (ASCII white space and the ideographic space)
// removed.
std::string_view Trim(std::string_view utf8);
std::u32string_view Trim(std::u32string_view text);

// Full-width ASCII forms (U+FF01..U+FF5E) and the ideographic space to their
// ASCII forms; every other code point unchanged.
char32_t HalfWidth(char32_t c);
bool IsBlank(char32_t c);
bool IsHan(char32_t c);
// A letter of the Latin script (ASCII, full-width, accented).
bool IsLatinLetter(char32_t c);

// Shortens UTF-8 text to at most `maxChars` code points; true when it cut.
bool CutToChars(std::string& utf8, std::size_t maxChars);
std::size_t CountChars(std::string_view utf8);

// The form of a word used for every lookup (dictionaries, singer names):
// half width, Latin letters in lower case, traditional Han characters as
// simplified ones, blanks dropped.
class Normaliser {
 public:
  // Simplified() throws std::runtime_error when ICU lacks its
  // traditional-to-simplified transliterator.
  Normaliser();
  ~Normaliser();
  Normaliser(const Normaliser&) = delete;
  Normaliser& operator=(const Normaliser&) = delete;

  // The simplified form of one Han character (itself when it has none).
  char32_t Simplified(char32_t c);
  std::u32string Key(std::u32string_view text);
  std::string Key(std::string_view utf8);

 private:
  struct Icu;  // ICU's transliterator, kept out of this header
  std::unique_ptr<Icu> icu_;
  std::unordered_map<char32_t, char32_t> memo_;
};

}  // namespace quor::tools::catalogue
