#include "Initials.h"

#include <unicode/unistr.h>

#include <algorithm>
#include <stdexcept>
#include <utility>
#include <vector>

#include "IcuTransliterator.h"

namespace quor::tools::catalogue {
namespace {

// Phrases whose polyphone reads otherwise than the character's usual reading,
// as they occur in song titles, with their initials. Simplified characters.
constexpr std::pair<const char*, const char*> kPhrases[] = {
    // 重: zhong, but chong in "again" and in the city
    {"重庆", "CQ"},
    {"重来", "CL"},
    {"重逢", "CF"},
    {"重新", "CX"},
    {"重温", "CW"},
    {"重生", "CS"},
    {"重复", "CF"},
    {"重回", "CH"},
    {"重归", "CG"},
    {"重聚", "CJ"},
    {"重见", "CJ"},
    {"重演", "CY"},
    {"重唱", "CC"},
    {"重建", "CJ"},
    {"重阳", "CY"},
    {"重叠", "CD"},
    {"重现", "CX"},
    {"重返", "CF"},
    {"重燃", "CR"},
    {"重拾", "CS"},
    {"重围", "CW"},
    {"重重", "CC"},
    {"万重", "WC"},
    {"双重", "SC"},
    {"重游", "CY"},
    // 长: chang (the default below), but zhang in "grow" and in titles of office
    {"长大", "ZD"},
    {"成长", "CZ"},
    {"生长", "SZ"},
    {"校长", "XZ"},
    {"家长", "JZ"},
    {"队长", "DZ"},
    {"班长", "BZ"},
    {"船长", "CZ"},
    {"长辈", "ZB"},
    {"长老", "ZL"},
    {"首长", "SZ"},
    {"增长", "ZZ"},
    {"兄长", "XZ"},
    {"村长", "CZ"},
    {"长官", "ZG"},
    {"市长", "SZ"},
    {"师长", "SZ"},
    {"连长", "LZ"},
    {"团长", "TZ"},
    {"部长", "BZ"},
    // 乐: le, but yue for music
    {"音乐", "YY"},
    {"乐队", "YD"},
    {"乐团", "YT"},
    {"乐曲", "YQ"},
    {"乐章", "YZ"},
    {"乐器", "YQ"},
    {"乐手", "YS"},
    {"声乐", "SY"},
    {"器乐", "QY"},
    {"民乐", "MY"},
    {"古乐", "GY"},
    {"乐府", "YF"},
    {"乐谱", "YP"},
    {"弦乐", "XY"},
    {"交响乐", "JXY"},
    {"摇滚乐", "YGY"},
    {"爵士乐", "JSY"},
    // 行: xing, but hang for rows and trades
    {"银行", "YH"},
    {"行业", "HY"},
    {"一行", "YH"},
    {"两行", "LH"},
    {"行列", "HL"},
    {"各行各业", "GHGY"},
    {"行家", "HJ"},
    {"内行", "NH"},
    {"外行", "WH"},
    {"行情", "HQ"},
    // 藏: cang, but zang for Tibet and treasure
    {"西藏", "XZ"},
    {"宝藏", "BZ"},
    {"藏族", "ZZ"},
    {"青藏", "QZ"},
    {"藏獒", "ZA"},
    {"藏歌", "ZG"},
    {"藏北", "ZB"},
    {"藏南", "ZN"},
    // 弹: dan, but tan for playing an instrument
    {"弹琴", "TQ"},
    {"弹唱", "TC"},
    {"弹奏", "TZ"},
    {"弹起", "TQ"},
    {"弹吉他", "TJT"},
    {"弹指", "TZ"},
    {"反弹", "FT"},
    {"弹性", "TX"},
    {"弹跳", "TT"},
    {"弹钢琴", "TGQ"},
    // 朝: chao, but zhao for morning
    {"朝阳", "ZY"},
    {"朝霞", "ZX"},
    {"朝夕", "ZX"},
    {"朝朝暮暮", "ZZMM"},
    {"今朝", "JZ"},
    {"朝气", "ZQ"},
    {"朝露", "ZL"},
    {"一朝", "YZ"},
    // 调: diao, but tiao for tuning and teasing
    {"调皮", "TP"},
    {"调情", "TQ"},
    {"调和", "TH"},
    {"调整", "TZ"},
    {"协调", "XT"},
    {"空调", "KT"},
    {"调味", "TW"},
    // single cases
    {"倔强", "JJ"},
    {"漂泊", "PB"},
    {"飘泊", "PB"},
    {"停泊", "TB"},
    {"厦门", "XM"},
    {"便宜", "PY"},
    {"率真", "SZ"},
    {"坦率", "TS"},
    {"率性", "SX"},
    {"草率", "CS"},
    {"可恶", "KW"},
    {"厌恶", "YW"},
    {"反省", "FX"},
    {"人参", "RS"},
    {"投降", "TX"},
    {"恐吓", "KH"},
    {"星宿", "XX"},
    {"给予", "JY"},
    {"供给", "GJ"},
    {"自传", "ZZ"},
};

// Characters whose usual reading in titles differs from ICU's first one.
constexpr std::pair<char32_t, char> kCharacters[] = {
    {U'长', 'C'},  // chang (long), far more often than zhang in titles
};

// The reading of the digits 0 to 9: 零 一 二 三 四 五 六 七 八 九.
constexpr char kDigits[] = "LYESSWLQBJ";

struct Phrase {
  std::u32string text;
  std::string initials;
};

// Phrases by their first character, longest first.
const std::unordered_map<char32_t, std::vector<Phrase>>& PhraseTable() {
  static const auto table = [] {
    std::unordered_map<char32_t, std::vector<Phrase>> t;
    for (const auto& [text, initials] : kPhrases) {
      std::u32string decoded;
      DecodeUtf8(text, decoded);
      t[decoded.front()].push_back(Phrase{decoded, initials});
    }
    for (auto& [first, list] : t)
      std::stable_sort(list.begin(), list.end(), [](const Phrase& a, const Phrase& b) {
        return a.text.size() > b.text.size();
      });
    return t;
  }();
  return table;
}

}  // namespace

struct Initials::Icu {
  IcuTransliterator latin{"Han-Latin; Latin-ASCII; Upper"};
};

Initials::Initials() : icu_(std::make_unique<Icu>()) {
  for (const auto& [c, initial] : kCharacters) memo_.emplace(c, initial);
}

Initials::~Initials() = default;

char Initials::HanInitial(char32_t c) {
  if (const auto it = memo_.find(c); it != memo_.end()) return it->second;
  icu::UnicodeString text(static_cast<UChar32>(c));
  icu_->latin.Get().transliterate(text);
  char initial = 0;
  for (int32_t i = 0; i < text.length(); ++i) {
    const char16_t u = text.charAt(i);
    if (u >= 'A' && u <= 'Z') {
      initial = static_cast<char>(u);
      break;
    }
  }
  memo_.emplace(c, initial);
  return initial;
}

std::string Initials::Of(std::string_view titleUtf8) {
  std::u32string title;
  if (!DecodeUtf8(titleUtf8, title)) return {};
  return Of(title);
}

std::string Initials::Of(std::u32string_view title) {
  // Half width and simplified first, so that phrases and digits are found in
  // any form of writing.
  std::u32string text(title);
  for (char32_t& c : text) {
    c = HalfWidth(c);
    if (c >= 0x2E80) c = normaliser_.Simplified(c);
  }
  const auto& phrases = PhraseTable();
  std::string out;
  bool inLatinWord = false;
  for (std::size_t i = 0; i < text.size() && out.size() < kMaxInitials;) {
    const char32_t c = text[i];
    if (c >= '0' && c <= '9') {
      out += kDigits[c - '0'];
      inLatinWord = false;
      ++i;
      continue;
    }
    if (IsLatinLetter(c)) {
      if (!inLatinWord) {
        char letter = 0;
        if (c < 0x80) {
          letter = static_cast<char>(c >= 'a' ? c - 'a' + 'A' : c);
        } else {
          // An accented letter: its ASCII letter through the same
          // transliterator (é E, ñ N).
          letter = HanInitial(c);
        }
        if (letter != 0) out += letter;
      }
      inLatinWord = true;
      ++i;
      continue;
    }
    // An apostrophe inside a Latin word (Don't) does not end it.
    if ((c == '\'' || c == 0x2019) && inLatinWord && i + 1 < text.size() &&
        IsLatinLetter(text[i + 1])) {
      ++i;
      continue;
    }
    inLatinWord = false;
    if (!IsHan(c)) {
      ++i;
      continue;
    }
    bool matched = false;
    if (const auto it = phrases.find(c); it != phrases.end()) {
      for (const Phrase& p : it->second) {
        if (text.compare(i, p.text.size(), p.text) == 0) {
          out += p.initials;
          i += p.text.size();
          matched = true;
          break;
        }
      }
    }
    if (matched) continue;
    if (const char initial = HanInitial(c); initial != 0) out += initial;
    ++i;
  }
  if (out.size() > kMaxInitials) out.resize(kMaxInitials);
  return out;
}

}  // namespace quor::tools::catalogue
