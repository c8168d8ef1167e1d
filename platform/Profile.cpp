#include "platform/Profile.h"

#include <ini.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "platform/AsciiCase.h"

namespace quor::platform {
namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), AsciiLower<char>);
  return out;
}

std::string MapKey(std::string_view section, std::string_view key) {
  return Lower(section) + '\n' + Lower(key);
}

// Feeds the text to the parser one line at a time. Each line goes out with
// its leading blanks removed (an indented key is an ordinary key line, never
// the continuation of the one before) and cut at the parser's buffer size,
// the rest of an overlong line being dropped.
struct LineReader {
  std::string_view text;
  std::size_t pos = 0;
};

char* ReadLine(char* str, int num, void* stream) {
  auto* reader = static_cast<LineReader*>(stream);
  if (reader->pos >= reader->text.size() || num < 3) return nullptr;
  const std::string_view rest = reader->text.substr(reader->pos);
  const std::size_t eol = rest.find('\n');
  std::string_view line = eol == std::string_view::npos ? rest : rest.substr(0, eol);
  reader->pos += eol == std::string_view::npos ? rest.size() : eol + 1;
  while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
  const std::size_t room =
      std::min<std::size_t>(static_cast<std::size_t>(num) - 2, Profile::kMaxLineLength);
  if (line.size() > room) line = line.substr(0, room);
  // A NUL byte would end the C string early; it ends the line here too.
  line = line.substr(0, std::min(line.size(), line.find('\0')));
  std::memcpy(str, line.data(), line.size());
  str[line.size()] = '\n';
  str[line.size() + 1] = '\0';
  return str;
}

}  // namespace

struct ProfileBuilder {
  static int Handler(void* user, const char* section, const char* name, const char* value) {
    auto* profile = static_cast<Profile*>(user);
    // emplace keeps the first occurrence of a repeated key.
    profile->values_.emplace(MapKey(section, name), value);
    return 1;
  }
};

Profile Profile::Parse(std::string_view text) {
  Profile profile;
  LineReader reader{text, 0};
  const int error = ini_parse_stream(&ReadLine, &reader, &ProfileBuilder::Handler, &profile);
  profile.firstMalformedLine_ = error > 0 ? error : 0;
  return profile;
}

std::optional<Profile> Profile::Load(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
    throw std::runtime_error(path + ": " + std::strerror(errno));
  }
  if (!S_ISREG(st.st_mode)) throw std::runtime_error(path + ": not a regular file");
  if (static_cast<std::size_t>(st.st_size) > kMaxFileSize)
    throw std::runtime_error(path + ": larger than 1 MiB, not a configuration file");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error(path + ": cannot be opened for reading");
  std::string text;
  text.reserve(static_cast<std::size_t>(st.st_size));
  // Read at most one byte more than the cap: a file that grew after stat is
  // still refused rather than read without bound.
  char buf[4096];
  while (in && text.size() <= kMaxFileSize) {
    in.read(buf, sizeof buf);
    text.append(buf, static_cast<std::size_t>(in.gcount()));
  }
  if (in.bad()) throw std::runtime_error(path + ": read error");
  if (text.size() > kMaxFileSize)
    throw std::runtime_error(path + ": larger than 1 MiB, not a configuration file");
  return Parse(text);
}

std::string Profile::ReadString(std::string_view section, std::string_view key,
                                std::string_view defaultValue) const {
  const auto it = values_.find(MapKey(section, key));
  return it == values_.end() ? std::string(defaultValue) : it->second;
}

}  // namespace quor::platform
