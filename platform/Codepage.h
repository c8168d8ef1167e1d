#pragma once
// The one place where text changes its encoding.
//
// Configuration values, screen texts and catalogue statements are byte strings
// in the Chinese code page (GBK, held in std::string); wire strings and the
// status line are UTF-16 (std::u16string). The conversion uses GB18030, a
// superset of GBK: every GBK byte string decodes the same, and characters
// outside GBK survive a round trip instead of turning into '?'.
//
// All functions are pure and may be called from any thread.

#include <cstddef>
#include <string>
#include <string_view>

namespace quor::platform {

// GBK/GB18030 bytes to UTF-16. Bytes that do not form a valid sequence are
// replaced by U+FFFD each; the function never fails.
std::u16string GbkToUtf16(std::string_view gbk);

// UTF-16 to GB18030 bytes (identical to GBK for every character GBK has).
// Unpaired surrogates are replaced by '?'; the function never fails.
std::string Utf16ToGbk(std::u16string_view text);

// UTF-8 (as Qt, SQLite and the shell speak it) to and from GBK/GB18030.
std::string Utf8ToGbk(std::string_view utf8);
std::string GbkToUtf8(std::string_view gbk);

// UTF-8 to and from UTF-16, for the server's database side.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view text);

// Characters of GBK text, as GB18030 counts them: a lead byte 0x81-0xFE
// followed by a digit 0x30-0x39, a lead byte and a digit again is one
// four-byte character; a lead byte followed by any other byte is one
// two-byte character; every other byte, a lead byte at the very end
// included, is a character of its own. Cutting text anywhere else splits a
// character and leaves a stray lead or trail byte that the next conversion
// turns into a replacement character.

// The byte length (1, 2 or 4) of the character that starts at `at`, which
// must lie inside the text; never reaches past the end.
std::size_t GbkCharLength(std::string_view gbk, std::size_t at);
// The longest run of whole characters from the start that fits in maxBytes.
std::string_view GbkCutBytes(std::string_view gbk, std::size_t maxBytes);
// The first maxChars characters (all of the text when it has fewer).
std::string_view GbkCutChars(std::string_view gbk, std::size_t maxChars);

}  // namespace quor::platform
