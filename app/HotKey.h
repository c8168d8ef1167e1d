#pragma once
// The module HotKey: the configuration file VODSet.ini and the registration
// of the remote-control keys. GUI thread only.

#include <array>
#include <optional>
#include <string>

#include "platform/HotKeys.h"
#include "ui/Notifier.h"
#include "ui/ShellServices.h"

namespace quor::app {

// The configuration file's name, beside the executable.
inline constexpr char kConfigurationFileName[] = "VODSet.ini";

// The message shown when the file does not exist.
inline constexpr char kMissingConfigurationMessage[] =
    "遥控器配置文件不存在，请重新运行遥控器配置程序！";

// One KeyMap key: its name in the file and its RemoteKeyId.
struct RemoteKey {
  const char* name;
  int id;
};

// The 30 keys in reading order: the 8 player keys take 1000 to 1007, the 22
// screen keys 1010 to 1031.
extern const std::array<RemoteKey, ui::kRemoteKeyCount> kKeyMap;

// Reads programFolder + "VODSet.ini" into config: RoomName, ServerName (then
// at once MediaSharePath = "\\" + ServerName + "\quorvod"), ServerIP from
// [LyraboxSet], then the 30 KeyMap codes, each with its default. Without a
// file: shows the missing-file message once through notifier and leaves every
// value empty. A file that exists but cannot be read is reported the same way
// with its cause, and also leaves every value empty.
void ReadConfiguration(const std::string& programFolder, ui::Notifier& notifier,
                       ui::Configuration& config);

// A key-code text as a number: a decimal whole number (an optional sign and
// digits, within 32 bits). nullopt for anything else, the empty text included.
std::optional<int> ParseKeyCode(const std::string& text);

// Registers the 30 keys in KeyMap order with no modifiers. A key whose code
// is not a whole number is skipped (never registered); a registration the
// system refuses is silent. Returns the number of keys registered.
int RegisterRemoteKeys(const ui::Configuration& config, platform::HotKeys& hotKeys);

// Unregisters 1000 to 1007, then 1010 to 1031.
void UnregisterRemoteKeys(platform::HotKeys& hotKeys);

// Records programFolder + the engine library name (unquoted, blanks and all)
// as the dataset engine to load.
void RegisterEngine(const std::string& programFolder);

}  // namespace quor::app
