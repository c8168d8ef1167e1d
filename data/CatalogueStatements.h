#pragma once
// The catalogue as the terminal sees it: every statement it sends, built as a
// GBK byte string exactly as the server expects it. One small function per
// statement, so each splicing rule stands in one place.
//
// The statement texts are fixed by the installed catalogues and servers; only
// the spliced values vary. Pure functions, any thread.

#include <string>
#include <string_view>

namespace quor::data {

// The singer categories of the three singer statements.
enum class SingerCategory { Male, Female, Group };

// select * from singer where SEX="男" / "女" / "组合"
std::string SingerStatement(SingerCategory category);

// Songs of the singer shown in photo slot 1 (spells the column SINGER) or in
// slots 2 to 6 (spells it Singer). The name is spliced between double quotes;
// a double quote inside the name is doubled, so a name can never end the
// literal early (it would break the statement or smuggle SQL in).
std::string SongsOfSingerSlot1Statement(std::string_view name);
std::string SongsOfSingerStatement(std::string_view name);

// Songs of one category (TYPE) or one language (SONGLANGUAGE); the word goes
// between apostrophes with every apostrophe in it doubled.
std::string SongsOfTypeStatement(std::string_view word);
std::string SongsOfLanguageStatement(std::string_view word);

// The song with a number: the digits spliced bare, without quotes.
std::string SongByNumberStatement(std::string_view digits);

// Songs whose initial letters start with the given letters: a like prefix,
// the letters followed by %" (nothing escaped: the letters are A to Z).
std::string SongsByLettersStatement(std::string_view letters);

// The text of a queue entry up to and including its first blank (the song
// number and one blank); empty when the entry holds no blank.
std::string EntryNumber(std::string_view entry);

// The media path of the next song: the entry number spliced bare, so the
// statement ends in the blank that follows the number.
std::string MediaPathStatement(std::string_view entry);

// Apostrophe quoting of SQL: 'word' with each ' doubled.
std::string QuoteApostrophes(std::string_view word);

// Doubles every double quote of a name spliced into a double-quoted literal.
std::string DoubleDoubleQuotes(std::string_view name);

}  // namespace quor::data
