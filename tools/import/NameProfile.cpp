#include "NameProfile.h"

#include <algorithm>
#include <stdexcept>

#include "Words.h"

namespace quor::tools::catalogue {
namespace {

constexpr const char* kDefaultPattern = "{singer}-{title}[-{language}][-{type}]";
constexpr const char* kNumberPattern = "{number} {singer}-{title}[-{language}][-{type}]";
constexpr std::size_t kMaxOptionalParts = 4;
constexpr std::size_t kMaxFields = 12;
// Bounds on the search of one name, so that no pattern and no name can make
// it slow: steps tried and splits kept.
constexpr int kSearchBudget = 20000;
constexpr std::size_t kMaxMatches = 16;

bool IsDigits(std::u32string_view v) {
  if (v.empty()) return false;
  for (const char32_t c : v)
    if (c < '0' || c > '9') return false;
  return true;
}

// Where a literal ends when it matches the text at `pos`, else npos. A blank
// of the literal takes one or more blanks of the text; Latin letters match
// in either case.
std::size_t MatchLiteral(std::u32string_view literal, std::u32string_view text, std::size_t pos) {
  for (std::size_t i = 0; i < literal.size(); ++i) {
    const char32_t want = literal[i];
    if (want == ' ') {
      if (pos >= text.size() || !IsBlank(text[pos])) return std::u32string_view::npos;
      while (pos < text.size() && IsBlank(text[pos])) ++pos;
      continue;
    }
    if (pos >= text.size()) return std::u32string_view::npos;
    char32_t got = text[pos];
    char32_t w = want;
    if (got >= 'A' && got <= 'Z') got += 'a' - 'A';
    if (w >= 'A' && w <= 'Z') w += 'a' - 'A';
    if (got != w) return std::u32string_view::npos;
    ++pos;
  }
  return pos;
}

}  // namespace

struct NameProfile::Match {
  std::size_t variant = 0;
  std::vector<std::pair<Field, std::u32string_view>> values;
};

NameProfile NameProfile::Make(std::string_view choice) {
  NameProfile profile;
  if (choice == "default" || choice.empty()) {
    profile.pattern_ = kDefaultPattern;
  } else if (choice == "number") {
    profile.pattern_ = kNumberPattern;
  } else {
    profile.pattern_ = std::string(choice);
  }
  std::u32string pattern;
  if (!DecodeUtf8(profile.pattern_, pattern))
    throw std::invalid_argument("the name pattern is not UTF-8 text");
  for (char32_t& c : pattern) c = HalfWidth(c);

  // Required tokens and optional parts, in order: part -1 is required.
  struct Piece {
    int part = -1;
    Token token;
  };
  std::vector<Piece> pieces;
  int part = -1;
  int parts = 0;
  std::size_t fields = 0;
  bool hasTitle = false;
  auto addLiteral = [&](char32_t c) {
    if (IsBlank(c)) c = ' ';
    if (!pieces.empty() && !pieces.back().token.isField && pieces.back().part == part) {
      std::u32string& lit = pieces.back().token.literal;
      if (!(c == ' ' && !lit.empty() && lit.back() == ' ')) lit += c;
      return;
    }
    pieces.push_back(Piece{part, Token{false, Field::Skip, std::u32string(1, c)}});
  };
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char32_t c = pattern[i];
    if (c == '[') {
      if (part >= 0) throw std::invalid_argument("optional parts [ ] cannot be nested");
      if (static_cast<std::size_t>(parts) == kMaxOptionalParts)
        throw std::invalid_argument("a name pattern may have at most four optional parts [ ]");
      part = parts++;
    } else if (c == ']') {
      if (part < 0) throw std::invalid_argument("a ] without its [ in the name pattern");
      part = -1;
    } else if (c == '{') {
      const std::size_t close = pattern.find('}', i);
      if (close == std::u32string::npos)
        throw std::invalid_argument("a { without its } in the name pattern");
      const std::string name = ToUtf8(pattern.substr(i + 1, close - i - 1));
      Field field;
      if (name == "singer") {
        field = Field::Singer;
      } else if (name == "title") {
        field = Field::Title;
        hasTitle = true;
      } else if (name == "number") {
        field = Field::Number;
      } else if (name == "language") {
        field = Field::Language;
      } else if (name == "type") {
        field = Field::Type;
      } else if (name == "skip") {
        field = Field::Skip;
      } else {
        throw std::invalid_argument("unknown field {" + name +
                                    "} in the name pattern (known: {singer} {title} {number} "
                                    "{language} {type} {skip})");
      }
      if (++fields > kMaxFields) throw std::invalid_argument("too many fields in the name pattern");
      pieces.push_back(Piece{part, Token{true, field, {}}});
      i = close;
    } else if (c == '}') {
      throw std::invalid_argument("a } without its { in the name pattern");
    } else {
      addLiteral(c);
    }
  }
  if (part >= 0) throw std::invalid_argument("an unclosed [ in the name pattern");
  if (!hasTitle) throw std::invalid_argument("the name pattern needs a {title}");

  // Every choice of optional parts, the most parts present first; among equal
  // counts the earlier parts present first.
  std::vector<unsigned> masks;
  for (unsigned m = 0; m < (1u << parts); ++m) masks.push_back(m);
  std::stable_sort(masks.begin(), masks.end(), [](unsigned a, unsigned b) {
    const int pa = __builtin_popcount(a), pb = __builtin_popcount(b);
    if (pa != pb) return pa > pb;
    return a > b;  // bit 0 is the first part: a lower part present sorts first
  });
  for (const unsigned m : masks) {
    Variant v;
    for (const Piece& p : pieces) {
      if (p.part >= 0 && (m & (1u << p.part)) == 0) continue;
      if (!p.token.isField && !v.empty() && !v.back().isField) {
        v.back().literal += p.token.literal;  // parts side by side
      } else {
        v.push_back(p.token);
      }
    }
    profile.variants_.push_back(std::move(v));
  }
  return profile;
}

void NameProfile::Search(const Variant& v, std::size_t token, std::size_t pos,
                         std::u32string_view text, Normaliser& normaliser,
                         std::vector<std::u32string_view>& values, std::vector<Match>& found,
                         int& budget) const {
  if (--budget < 0 || found.size() >= kMaxMatches) return;
  if (token == v.size()) {
    if (pos != text.size()) return;
    Match m;
    std::size_t k = 0;
    for (const Token& t : v)
      if (t.isField) m.values.emplace_back(t.field, values[k++]);
    found.push_back(std::move(m));
    return;
  }
  const Token& t = v[token];
  if (!t.isField) {
    const std::size_t end = MatchLiteral(t.literal, text, pos);
    if (end != std::u32string_view::npos)
      Search(v, token + 1, end, text, normaliser, values, found, budget);
    return;
  }
  const bool last = token + 1 == v.size();
  const Token* next = last ? nullptr : &v[token + 1];
  for (std::size_t end = last ? text.size() : pos + 1; end <= text.size(); ++end) {
    if (budget < 0) return;
    // A field followed by a literal can only end where that literal starts.
    if (next != nullptr && !next->isField && end < text.size()) {
      char32_t want = next->literal.front();
      if (want == ' '
              ? !IsBlank(text[end])
              : MatchLiteral(next->literal.substr(0, 1), text, end) == std::u32string_view::npos)
        continue;
    } else if (next != nullptr && !next->isField) {
      continue;  // the literal needs text after the field
    }
    const std::u32string_view value = Trim(text.substr(pos, end - pos));
    if (value.empty()) continue;
    --budget;
    bool ok = true;
    switch (t.field) {
      case Field::Number:
        ok = IsDigits(value);
        break;
      case Field::Language:
        ok = LanguageOf(ToUtf8(normaliser.Key(value))).has_value();
        break;
      case Field::Type:
        ok = TypeOf(ToUtf8(normaliser.Key(value))).has_value();
        break;
      default:
        break;
    }
    if (!ok) continue;
    values.push_back(value);
    Search(v, token + 1, end, text, normaliser, values, found, budget);
    values.pop_back();
  }
}

ParsedName NameProfile::Parse(std::u32string_view baseName, Normaliser& normaliser,
                              const KnownSinger& known) const {
  std::u32string text(baseName);
  for (char32_t& c : text) c = HalfWidth(c);
  const std::u32string_view trimmed = Trim(std::u32string_view(text));

  ParsedName out;
  int budget = kSearchBudget;
  std::vector<std::u32string_view> values;
  for (const Variant& v : variants_) {
    std::vector<Match> found;
    Search(v, 0, 0, trimmed, normaliser, values, found, budget);
    if (found.empty()) {
      if (budget < 0) break;
      continue;
    }
    const Match* pick = &found.front();
    if (known) {
      for (const Match& m : found) {
        bool isKnown = false;
        for (const auto& [field, value] : m.values)
          if (field == Field::Singer) isKnown = known(value);
        if (isKnown) {
          pick = &m;
          break;
        }
      }
    }
    out.parsed = true;
    for (const auto& [field, value] : pick->values) {
      switch (field) {
        case Field::Singer:
          out.singer = ToUtf8(value);
          break;
        case Field::Title:
          out.title = ToUtf8(value);
          break;
        case Field::Language:
          out.language = *LanguageOf(ToUtf8(normaliser.Key(value)));
          break;
        case Field::Type:
          out.type = *TypeOf(ToUtf8(normaliser.Key(value)));
          break;
        case Field::Number:
          if (value.size() <= 9) {
            std::int64_t n = 0;
            for (const char32_t c : value) n = n * 10 + (c - '0');
            out.number = n;
          }
          break;
        case Field::Skip:
          break;
      }
    }
    return out;
  }
  out.title = ToUtf8(trimmed);
  return out;
}

}  // namespace quor::tools::catalogue
