#include "drivers/mpv/MpvIpc.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace quor::drivers {
namespace {

using nlohmann::json;

// The deepest nesting of arrays and objects in text (strings skipped);
// stops counting past limit.
int NestingDepth(std::string_view text, int limit) {
  int depth = 0;
  int deepest = 0;
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\')
        ++i;
      else if (c == '"')
        inString = false;
      continue;
    }
    if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      deepest = std::max(deepest, ++depth);
      if (deepest > limit) return deepest;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return deepest;
}

std::string StringMember(const json& object, const char* name) {
  const auto it = object.find(name);
  return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

std::int64_t IntegerMember(const json& object, const char* name) {
  const auto it = object.find(name);
  if (it == object.end()) return -1;
  return IntegerOf(*it).value_or(-1);
}

bool IsOptionName(const std::string& name) {
  if (name.empty() || name.size() > 64 || name.front() < 'a' || name.front() > 'z') return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
  });
}

std::atomic<bool> gQuiet{false};

}  // namespace

void MpvLog(const char* format, ...) {
  if (gQuiet) return;
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  std::fprintf(stderr, "reeldrv-mpv: %s", text);
}

void SetMpvLogQuiet(bool quiet) {
  gQuiet = quiet;
}

IpcMessage ParseIpcLine(std::string_view line) {
  IpcMessage message;
  if (line.size() > kMaxIpcLine || NestingDepth(line, kMaxIpcDepth) > kMaxIpcDepth) return message;
  try {
    json object = json::parse(line, nullptr, /*allow_exceptions=*/false);
    if (!object.is_object()) return message;
    if (const auto event = object.find("event"); event != object.end()) {
      if (!event->is_string()) return message;
      message.kind = IpcMessage::Kind::kEvent;
      message.event = event->get<std::string>();
      message.playlistEntryId = IntegerMember(object, "playlist_entry_id");
      message.reason = StringMember(object, "reason");
      message.fileError = StringMember(object, "file_error");
      if (message.event == "log-message") {
        message.text = "[" + StringMember(object, "prefix") + "] " + StringMember(object, "text");
      }
      return message;
    }
    const auto id = object.find("request_id");
    const auto error = object.find("error");
    if (id == object.end() || error == object.end() || !error->is_string()) return message;
    const std::optional<std::int64_t> requestId = IntegerOf(*id);
    if (!requestId) return message;
    message.kind = IpcMessage::Kind::kReply;
    message.requestId = *requestId;
    message.error = error->get<std::string>();
    message.success = message.error == "success";
    if (const auto data = object.find("data"); data != object.end())
      message.data = std::move(*data);
    return message;
  } catch (...) {
    // Out of memory on a huge line, or a value the library refuses: the line
    // is invalid like any other the driver cannot read.
    return IpcMessage{};
  }
}

std::optional<std::string> IpcRequestLine(const json& command, std::int64_t requestId) {
  try {
    json request = {{"command", command}, {"request_id", requestId}};
    return request.dump() + "\n";
  } catch (const json::exception&) {
    return std::nullopt;  // a text that is not UTF-8
  }
}

bool IpcLineReader::Append(const char* data, std::size_t size) {
  if (broken_) return false;
  // Lines handed out are dropped before the buffer grows.
  if (start_ > 0 && start_ >= buffer_.size() / 2) {
    buffer_.erase(0, start_);
    start_ = 0;
  }
  buffer_.append(data, size);
  if (buffer_.size() - start_ > kMaxIpcLine &&
      std::memchr(buffer_.data() + start_, '\n', buffer_.size() - start_) == nullptr) {
    broken_ = true;
    buffer_.clear();
    start_ = scanned_ = 0;
  }
  return !broken_;
}

std::optional<std::string> IpcLineReader::NextLine() {
  if (broken_) return std::nullopt;
  const std::size_t from = start_ + scanned_;
  const void* found = std::memchr(buffer_.data() + from, '\n', buffer_.size() - from);
  if (found == nullptr) {
    scanned_ = buffer_.size() - start_;
    return std::nullopt;
  }
  const auto end = static_cast<std::size_t>(static_cast<const char*>(found) - buffer_.data());
  const std::size_t length = end - start_;
  if (length > kMaxIpcLine) {
    broken_ = true;
    return std::nullopt;
  }
  std::string line = buffer_.substr(start_, length);
  start_ = end + 1;
  scanned_ = 0;
  return line;
}

void IpcLineReader::Clear() {
  buffer_.clear();
  start_ = scanned_ = 0;
  broken_ = false;
}

std::optional<double> NumberOf(const json& data) {
  if (!data.is_number()) return std::nullopt;
  return data.get<double>();
}

std::optional<bool> FlagOf(const json& data) {
  if (!data.is_boolean()) return std::nullopt;
  return data.get<bool>();
}

std::optional<std::string> TextOf(const json& data) {
  if (!data.is_string()) return std::nullopt;
  return data.get<std::string>();
}

std::optional<std::int64_t> IntegerOf(const json& data) {
  if (data.is_number_integer()) return data.get<std::int64_t>();
  return std::nullopt;
}

std::uint32_t CountAudioTracks(const json& trackList) {
  if (!trackList.is_array()) return 0;
  std::uint32_t audio = 0;
  const std::size_t count = std::min(trackList.size(), kMaxTracks);
  for (std::size_t i = 0; i < count; ++i) {
    const json& track = trackList[i];
    if (track.is_object() && StringMember(track, "type") == "audio") ++audio;
  }
  return audio;
}

std::string OptionFileText(const std::map<std::string, std::string>& options,
                           std::vector<std::string>* skipped) {
  std::string text;
  for (const auto& [name, value] : options) {
    if (!IsOptionName(name) || value.find('\n') != std::string::npos) {
      if (skipped != nullptr) skipped->push_back(name);
      continue;
    }
    text += name + "=%" + std::to_string(value.size()) + "%" + value + "\n";
  }
  return text;
}

std::string MpvFileName(const std::string& localPath) {
  const std::string plain =
      localPath.empty() || localPath.front() == '/' ? localPath : "./" + localPath;
  if (IpcRequestLine(json::array({plain}), 0)) return plain;
  std::string absolute = localPath;
  if (absolute.empty() || absolute.front() != '/') {
    char cwd[4096];
    if (::getcwd(cwd, sizeof cwd) != nullptr) absolute = std::string(cwd) + "/" + absolute;
  }
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string url = "file://";
  for (const char c : absolute) {
    const auto u = static_cast<unsigned char>(c);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '/' ||
        c == '.' || c == '_' || c == '-') {
      url += c;
    } else {
      url += '%';
      url += kHex[u >> 4];
      url += kHex[u & 0xF];
    }
  }
  return url;
}

}  // namespace quor::drivers
