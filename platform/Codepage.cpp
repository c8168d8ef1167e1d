#include "platform/Codepage.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>

namespace quor::platform {
namespace {

// Converts with iconv from one encoding to another, replacing each invalid
// input unit (of unitSize bytes) by the replacement bytes and going on.
std::string Convert(const char* to, const char* from, const char* in, std::size_t inLen,
                    std::size_t unitSize, std::string_view replacement) {
  std::string out;
  if (inLen == 0) return out;
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return out;  // glibc always has these; never in practice
  out.resize(inLen * 4 + 16);
  char* src = const_cast<char*>(in);
  std::size_t srcLeft = inLen;
  char* dst = out.data();
  std::size_t dstLeft = out.size();
  auto grow = [&] {
    const std::size_t used = out.size() - dstLeft;
    out.resize(out.size() * 2);
    dst = out.data() + used;
    dstLeft = out.size() - used;
  };
  while (srcLeft > 0) {
    if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<std::size_t>(-1)) break;
    if (errno == E2BIG) {
      grow();
    } else {  // EILSEQ or EINVAL (a sequence cut at the end): skip one unit
      const std::size_t skip = srcLeft < unitSize ? srcLeft : unitSize;
      src += skip;
      srcLeft -= skip;
      while (dstLeft < replacement.size()) grow();
      std::memcpy(dst, replacement.data(), replacement.size());
      dst += replacement.size();
      dstLeft -= replacement.size();
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  for (;;) {  // flush any shift state
    if (iconv(cd, nullptr, nullptr, &dst, &dstLeft) != static_cast<std::size_t>(-1)) break;
    if (errno != E2BIG) break;
    grow();
  }
  out.resize(out.size() - dstLeft);
  iconv_close(cd);
  return out;
}

constexpr char kReplacement16[] = {'\xFD', '\xFF'};  // U+FFFD, little-endian

std::u16string BytesToU16(const std::string& bytes) {
  std::u16string s(bytes.size() / 2, u'\0');
  std::memcpy(s.data(), bytes.data(), s.size() * 2);
  return s;
}

}  // namespace

std::u16string GbkToUtf16(std::string_view gbk) {
  return BytesToU16(Convert("UTF-16LE", "GB18030", gbk.data(), gbk.size(), 1,
                            std::string_view(kReplacement16, 2)));
}

std::string Utf16ToGbk(std::u16string_view text) {
  return Convert("GB18030", "UTF-16LE", reinterpret_cast<const char*>(text.data()), text.size() * 2,
                 2, "?");
}

std::string Utf8ToGbk(std::string_view utf8) {
  return Convert("GB18030", "UTF-8", utf8.data(), utf8.size(), 1, "?");
}

std::string GbkToUtf8(std::string_view gbk) {
  return Convert("UTF-8", "GB18030", gbk.data(), gbk.size(), 1, "\xEF\xBF\xBD");
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
  return BytesToU16(Convert("UTF-16LE", "UTF-8", utf8.data(), utf8.size(), 1,
                            std::string_view(kReplacement16, 2)));
}

std::string Utf16ToUtf8(std::u16string_view text) {
  return Convert("UTF-8", "UTF-16LE", reinterpret_cast<const char*>(text.data()), text.size() * 2,
                 2, "\xEF\xBF\xBD");
}

std::size_t GbkCharLength(std::string_view gbk, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(gbk[i]); };
  const auto lead = [](unsigned char c) { return c >= 0x81 && c <= 0xFE; };
  const auto digit = [](unsigned char c) { return c >= 0x30 && c <= 0x39; };
  const std::size_t left = gbk.size() - at;
  if (left < 2 || !lead(byte(at))) return 1;
  if (left >= 4 && digit(byte(at + 1)) && lead(byte(at + 2)) && digit(byte(at + 3))) return 4;
  return 2;
}

std::string_view GbkCutBytes(std::string_view gbk, std::size_t maxBytes) {
  std::size_t end = 0;
  while (end < gbk.size()) {
    const std::size_t next = end + GbkCharLength(gbk, end);
    if (next > maxBytes) break;
    end = next;
  }
  return gbk.substr(0, end);
}

std::string_view GbkCutChars(std::string_view gbk, std::size_t maxChars) {
  std::size_t end = 0;
  for (std::size_t chars = 0; end < gbk.size() && chars < maxChars; ++chars)
    end += GbkCharLength(gbk, end);
  return gbk.substr(0, end);
}

}  // namespace quor::platform
