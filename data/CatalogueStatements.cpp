#include "data/CatalogueStatements.h"

#include "platform/Codepage.h"

namespace quor::data {
namespace {

constexpr std::string_view kSongColumns = "select SINGID,SINGNAME,SINGER from vodinfo where ";

std::string SongColumns() {
  return std::string(kSongColumns);
}

}  // namespace

std::string QuoteApostrophes(std::string_view word) {
  std::string out = "'";
  for (const char c : word) {
    out += c;
    if (c == '\'') out += '\'';
  }
  out += '\'';
  return out;
}

// GBK trail bytes lie in 0x40..0xFE and GB18030 four-byte sequences use
// 0x30..0x39 in their even bytes, so neither can be a quote character (0x22,
// 0x27): scanning byte by byte never splits a character.
std::string DoubleDoubleQuotes(std::string_view name) {
  std::string out;
  out.reserve(name.size() + 2);
  for (const char c : name) {
    out += c;
    if (c == '"') out += '"';
  }
  return out;
}

// The fixed parts are written in UTF-8 in this file and sent as GBK; each is
// converted once (thread-safe static initialisation).
std::string SingerStatement(SingerCategory category) {
  static const std::string male = platform::Utf8ToGbk("select * from singer where SEX=\"男\"");
  static const std::string female = platform::Utf8ToGbk("select * from singer where SEX=\"女\"");
  static const std::string group = platform::Utf8ToGbk("select * from singer where SEX=\"组合\"");
  switch (category) {
    case SingerCategory::Male:
      return male;
    case SingerCategory::Female:
      return female;
    case SingerCategory::Group:
      break;
  }
  return group;
}

std::string SongsOfSingerSlot1Statement(std::string_view name) {
  return SongColumns() + "SINGER=\"" + DoubleDoubleQuotes(name) + "\"";
}

std::string SongsOfSingerStatement(std::string_view name) {
  return SongColumns() + "Singer=\"" + DoubleDoubleQuotes(name) + "\"";
}

std::string SongsOfTypeStatement(std::string_view word) {
  return SongColumns() + "TYPE=" + QuoteApostrophes(word);
}

std::string SongsOfLanguageStatement(std::string_view word) {
  return SongColumns() + "SONGLANGUAGE=" + QuoteApostrophes(word);
}

std::string SongByNumberStatement(std::string_view digits) {
  return SongColumns() + "SINGID=" + std::string(digits);
}

std::string SongsByLettersStatement(std::string_view letters) {
  return SongColumns() + "FIRSTWORD like \"" + std::string(letters) + "%\"";
}

std::string EntryNumber(std::string_view entry) {
  const auto blank = entry.find(' ');
  if (blank == std::string_view::npos) return {};
  return std::string(entry.substr(0, blank + 1));
}

std::string MediaPathStatement(std::string_view entry) {
  return "select PATH1 from vodinfo where SINGID=" + EntryNumber(entry);
}

}  // namespace quor::data
