#pragma once
// The words the terminal searches by: the five language words of SONGLANGUAGE,
// the eight category words of TYPE, the three singer categories of SEX, and
// the many ways venues write them. Lookups take a normalised key
// (Normaliser::Key: half width, lower case, simplified, no blanks), so 國語,
// 普通话 and "Mandarin" all find 国语. Pure, any thread.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quor::tools::catalogue {

inline constexpr const char* kOtherWord = "其他";

// The words exactly as the terminal's buttons send them.
const std::vector<std::string>& LanguageWords();  // 国语 粤语 英语 闽南 其他
const std::vector<std::string>& TypeWords();  // 流行 怀旧 民歌 少儿 情歌 军旅 戏曲 其他

// The catalogue word for a recognised way of writing a language, category or
// singer category; nullopt when the key is not one. Languages the terminal
// has no button for (日语, 韩语, ...) are recognised and give 其他.
std::optional<std::string> LanguageOf(std::string_view key);
std::optional<std::string> TypeOf(std::string_view key);
std::optional<std::string> SexOf(std::string_view key);

}  // namespace quor::tools::catalogue
