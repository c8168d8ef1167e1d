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

}  // namespace quor::platform
