#include "app/HotKey.h"

#include <QString>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <stdexcept>

#include "platform/Codepage.h"
#include "platform/EngineRegistry.h"
#include "platform/Profile.h"
#include "ui/HandlerGuard.h"

namespace quor::app {

const std::array<RemoteKey, ui::kRemoteKeyCount> kKeyMap = {{
    {"Play", 1000},     {"Pause", 1001},     {"NextSong", 1002}, {"Fast", 1003},
    {"FastBack", 1004}, {"Channel", 1005},   {"Volup", 1006},    {"Voldown", 1007},
    {"Num0", 1010},     {"Num1", 1011},      {"Num2", 1012},     {"Num3", 1013},
    {"Num4", 1014},     {"Num5", 1015},      {"Num6", 1016},     {"Num7", 1017},
    {"Num8", 1018},     {"Num9", 1019},      {"Selected", 1020}, {"Priority", 1021},
    {"Delete", 1022},   {"Pageup", 1023},    {"Pagedown", 1024}, {"Affirm", 1025},
    {"Return", 1026},   {"up", 1027},        {"down", 1028},     {"Left", 1029},
    {"Right", 1030},    {"Vinoserve", 1031},
}};

namespace {

constexpr char kSection[] = "LyraboxSet";
constexpr char kKeySection[] = "KeyMap";

bool HasUtf8Bom(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char head[3] = {0, 0, 0};
  in.read(head, 3);
  return in.gcount() == 3 && head[0] == '\xEF' && head[1] == '\xBB' && head[2] == '\xBF';
}

}  // namespace

void ReadConfiguration(const std::string& programFolder, ui::Notifier& notifier,
                       ui::Configuration& config) {
  const std::string path = programFolder + kConfigurationFileName;
  std::optional<platform::Profile> profile;
  try {
    profile = platform::Profile::Load(path);
  } catch (const std::exception& e) {
    notifier.ShowMessage(ui::FailureText(e.what()));
    return;
  }
  if (!profile) {
    notifier.ShowMessage(QString::fromUtf8(kMissingConfigurationMessage));
    return;
  }
  if (profile->FirstMalformedLine() > 0)
    std::fprintf(stderr, "quorvod: %s line %d (and any like it) is not a key line; ignored\n",
                 path.c_str(), profile->FirstMalformedLine());
  // The set-up tool writes the Chinese code page. A file saved as UTF-8
  // (marked by its byte-order mark) is turned into it, so the values are
  // always GBK bytes.
  const bool utf8 = HasUtf8Bom(path);
  auto read = [&](const char* section, const char* key, const char* defaultValue) {
    std::string value = profile->ReadString(section, key, defaultValue);
    return utf8 ? platform::Utf8ToGbk(value) : value;
  };
  config.roomName = read(kSection, "RoomName", "Room1");
  const std::string serverName = read(kSection, "ServerName", "quorvod");
  config.mediaSharePath = "\\\\" + serverName + "\\quorvod";
  config.serverIP = read(kSection, "ServerIP", "127.0.0.1");
  for (std::size_t i = 0; i < kKeyMap.size(); ++i)
    config.keyCodes[i] = read(kKeySection, kKeyMap[i].name, "0");
}

std::optional<int> ParseKeyCode(const std::string& text) {
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (first != last && *first == '+') ++first;  // from_chars takes '-' only
  if (first == last || *first == '+') return std::nullopt;
  int value = 0;
  const auto [end, ec] = std::from_chars(first, last, value, 10);
  if (ec != std::errc() || end != last) return std::nullopt;
  return value;
}

int RegisterRemoteKeys(const ui::Configuration& config, platform::HotKeys& hotKeys) {
  int registered = 0;
  for (std::size_t i = 0; i < kKeyMap.size(); ++i) {
    const std::optional<int> code = ParseKeyCode(config.keyCodes[i]);
    if (!code || *code < 0) continue;
    if (hotKeys.Register(kKeyMap[i].id, 0, static_cast<unsigned>(*code))) ++registered;
  }
  return registered;
}

void UnregisterRemoteKeys(platform::HotKeys& hotKeys) {
  for (const RemoteKey& key : kKeyMap) hotKeys.Unregister(key.id);
}

void RegisterEngine(const std::string& programFolder) {
  platform::RecordEnginePath(programFolder + platform::kEngineLibraryName);
}

}  // namespace quor::app
