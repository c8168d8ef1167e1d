#pragma once
// mpv's JSON IPC as the driver speaks it with its player process: one JSON
// object per line in each direction.
//
//   driver -> player   {"command":["get_property","time-pos"],"request_id":7}
//   player -> driver   {"data":12.5,"request_id":7,"error":"success"}
//                      {"event":"end-file","reason":"error","playlist_entry_id":3,
//                       "file_error":"unrecognized file format"}
//
// Everything the player writes is untrusted: a player that crashed half-way
// through a line, or a program that is no mpv at all, may send anything. A
// line longer than kMaxIpcLine, nested deeper than kMaxIpcDepth, or that is not
// a JSON object is invalid; nothing here throws on such input.

#include <cstddef>
#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quor::drivers {

inline constexpr std::size_t kMaxIpcLine = 1 << 20;
inline constexpr int kMaxIpcDepth = 32;
// The most tracks a track list is read for.
inline constexpr std::size_t kMaxTracks = 1000;

struct IpcMessage {
  enum class Kind { kInvalid, kReply, kEvent };
  Kind kind = Kind::kInvalid;
  // A reply: the request it answers, whether it succeeded ("error":"success"),
  // mpv's error text otherwise, and its data (null when it has none).
  std::int64_t requestId = -1;
  bool success = false;
  std::string error;
  nlohmann::json data;
  // An event: its name; the playlist entry of start-file and end-file; the
  // reason and the file error of end-file; "[prefix] text" of log-message.
  std::string event;
  std::int64_t playlistEntryId = -1;
  std::string reason;
  std::string fileError;
  std::string text;
};

IpcMessage ParseIpcLine(std::string_view line);

// One line of the driver's own on standard error, after "reeldrv-mpv: "
// (printf format; the caller ends it with a newline). Quiet: none at all
// (the fuzz target, whose player is broken on purpose).
void MpvLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
void SetMpvLogQuiet(bool quiet);

// The line (with its newline) that sends command as request requestId. A
// command whose texts are not valid UTF-8 cannot travel: nullopt.
std::optional<std::string> IpcRequestLine(const nlohmann::json& command, std::int64_t requestId);

// Splits what the player writes into lines. Once a line grows past
// kMaxIpcLine the stream is broken for good (the player gets restarted).
class IpcLineReader {
 public:
  // false once the stream is broken.
  bool Append(const char* data, std::size_t size);
  // The next whole line without its newline (a trailing CR is kept: JSON
  // allows it as white space).
  std::optional<std::string> NextLine();
  bool Broken() const { return broken_; }
  void Clear();

 private:
  std::string buffer_;
  std::size_t start_ = 0;    // first byte not yet handed out
  std::size_t scanned_ = 0;  // bytes from start_ known to hold no newline
  bool broken_ = false;
};

// Typed views of reply data; nullopt when the data has another type.
std::optional<double> NumberOf(const nlohmann::json& data);
std::optional<bool> FlagOf(const nlohmann::json& data);
std::optional<std::string> TextOf(const nlohmann::json& data);
std::optional<std::int64_t> IntegerOf(const nlohmann::json& data);
// The audio tracks of a track-list property (at most kMaxTracks entries are
// looked at).
std::uint32_t CountAudioTracks(const nlohmann::json& trackList);

// The player's include file for the options of drivers.ini: one line
// "name=%N%value" each (mpv's fixed-length quoting, so a value may hold any
// byte but a newline). A name that is not an mpv option name (lower-case
// letters, digits and dashes, starting with a letter) is left out and added
// to skipped; so is a value with a newline.
std::string OptionFileText(const std::map<std::string, std::string>& options,
                           std::vector<std::string>* skipped);

// How a local file is named to mpv: the path itself when it is UTF-8 (with
// "./" before a relative one, so that no name reads as a protocol), else a
// file:// address with every byte outside [A-Za-z0-9/._-] percent-encoded.
std::string MpvFileName(const std::string& localPath);

}  // namespace quor::drivers
