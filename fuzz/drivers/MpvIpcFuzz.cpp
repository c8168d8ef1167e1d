// The mpv driver against a player whose every byte is the fuzzer's: the
// driver makes the requests a room makes (volume, open, length, tracks,
// play, position, seek, track, mix, pause, end, a diagnostics query) and the
// player answers them from the input. Nothing may crash, hang, leak or grow
// without bound; a player that writes nonsense is replaced.
//
// Input: a series of steps, one byte each, some followed by text:
//   0  a reply to the request awaited now: success, data = the text
//   1  a reply to it with an error (the text)
//   2  an event line: the text is the JSON object's members after "event"
//   3  raw bytes: the text as it is (may hold a part line, or many lines)
//   4  nothing comes in time
//   5  the player closes its end (it died)
// Text: one length byte, then that many bytes. The input running out ends
// the player for good (it cannot be started again).

#include <unistd.h>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "drivers/mpv/MpvDriver.h"

namespace {

using namespace quor::drivers;

class ScriptedPlayer final : public PlayerChannel {
 public:
  ScriptedPlayer(const std::uint8_t* data, std::size_t size) : data_(data), end_(data + size) {}

  bool Start() override {
    running_ = data_ < end_;
    return running_;
  }
  bool Running() const override { return running_; }
  bool Write(std::string_view bytes) override {
    if (!running_) return false;
    // Every request the driver writes has its id last: "...,"request_id":N}\n".
    const auto at = bytes.rfind("\"request_id\":");
    if (at != std::string_view::npos) lastId_ = std::string(bytes.substr(at + 13, 20));
    while (!lastId_.empty() && (lastId_.back() < '0' || lastId_.back() > '9')) lastId_.pop_back();
    return true;
  }
  long Read(char* buffer, std::size_t size, int) override {
    if (!running_) return -1;
    if (pending_.empty() && !Next()) {
      running_ = false;
      return -1;
    }
    if (pending_.empty()) return 0;
    const std::size_t n = std::min(size, pending_.size());
    pending_.copy(buffer, n);
    pending_.erase(0, n);
    return static_cast<long>(n);
  }
  void Stop(int) override { running_ = false; }
  void Kill() override { running_ = false; }
  long Pid() const override { return running_ ? 4242 : -1; }
  std::string Problem() const override { return {}; }

 private:
  // Takes the next step; false when the player closes or the input ended.
  bool Next() {
    if (data_ >= end_) return false;
    const std::uint8_t step = *data_++;
    std::string text;
    if (step <= 3 && data_ < end_) {
      const std::size_t wanted = *data_++;
      const std::size_t length = std::min<std::size_t>(wanted, end_ - data_);
      text.assign(reinterpret_cast<const char*>(data_), length);
      data_ += length;
    }
    const std::string id = lastId_.empty() ? "0" : lastId_;
    switch (step % 6) {
      case 0:
        pending_ = "{\"request_id\":" + id + ",\"error\":\"success\",\"data\":" + text + "}\n";
        return true;
      case 1:
        pending_ = "{\"request_id\":" + id + ",\"error\":\"" + text + "\"}\n";
        return true;
      case 2:
        pending_ = "{\"event\":" + text + "}\n";
        return true;
      case 3:
        pending_ = text;
        return true;
      case 4:
        return true;
      default:
        return false;
    }
  }

  const std::uint8_t* data_;
  const std::uint8_t* end_;
  std::string pending_;
  std::string lastId_;
  bool running_ = false;
};

// A file the open finds (the driver checks that the song file exists),
// removed at exit.
struct SongFile {
  std::string path = "/tmp/quor-mpv-ipc-fuzz-" + std::to_string(::getpid()) + ".mp4";
  SongFile() {
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) std::fclose(f);
  }
  ~SongFile() { std::remove(path.c_str()); }
} songFile;

std::intptr_t Request(MpvDriver& driver, std::uint8_t command, std::uint8_t handle,
                      std::uint16_t code, std::intptr_t argument) {
  return driver.Handle(kDecoderMessage, QuorPackDecoderRequest(command, handle, code), argument);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  MpvDriverSettings settings;
  settings.openTimeoutMs = 1;
  settings.client.replyTimeoutMs = 1;
  settings.client.startTimeoutMs = 1;
  // The driver reports every broken player on standard error: not here.
  SetMpvLogQuiet(true);
  {
    MpvDriver driver(settings, std::make_unique<ScriptedPlayer>(data, size));
    Request(driver, kDecoderCommandSetValue, 0, kDecoderCodeVolume, 120 << 16 | 200);
    const auto stream =
        static_cast<std::uint8_t>(Request(driver, kDecoderCommandOpenFile, 0, kDecoderOpenMode,
                                          reinterpret_cast<std::intptr_t>(songFile.path.c_str())));
    Request(driver, kDecoderCommandGetValue, stream, kDecoderCodeLength, 0);
    Request(driver, kDecoderCommandGetValue, stream, kDecoderCodeChannelInfo, 0);
    Request(driver, kDecoderCommandControl, stream, kDecoderControlPlay, 0);
    Request(driver, kDecoderCommandGetValue, stream, kDecoderCodePosition, 0);
    Request(driver, kDecoderCommandSetParam, stream, kDecoderCodeSeekTarget, 1500);
    Request(driver, kDecoderCommandControl, stream, kDecoderControlSeek, kDecoderCodeSeekTarget);
    Request(driver, kDecoderCommandSelect, stream, kDecoderCodeTrack, 2);
    Request(driver, kDecoderCommandSetValue, stream, kDecoderCodeMixLeft, kDecoderMixTakeRight);
    Request(driver, kDecoderCommandPause, stream, 0, 0);
    Request(driver, kDecoderCommandGetValue, stream, kDecoderCodePosition, 0);
    char text[64];
    QuorDriverText out{text, sizeof text};
    driver.Handle(kDrvQueryProperty, reinterpret_cast<std::intptr_t>("af"),
                  reinterpret_cast<std::intptr_t>(&out));
    Request(driver, kDecoderCommandEndStream, stream, 0, 0);
    Request(driver, kDecoderCommandGetValue, stream, kDecoderCodePosition, 0);
  }
  return 0;
}
