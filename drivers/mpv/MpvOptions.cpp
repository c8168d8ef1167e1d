#include "drivers/mpv/MpvDriver.h"

#include <ini.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "platform/Codepage.h"
#include "platform/Share.h"

namespace quor::drivers {

namespace {

constexpr const char* kSection = "reeldrv-mpv";
constexpr const char* kMixLabel = "@quormix";

int OptionHandler(void* user, const char* section, const char* name, const char* value) {
  if (::strcasecmp(section, kSection) != 0) return 1;
  std::string key(name);
  std::transform(key.begin(), key.end(), key.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  static_cast<std::map<std::string, std::string>*>(user)->emplace(key, value);
  return 1;
}

bool IsRegularFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// "g*cN" terms of one output channel of the pan filter.
std::string PanTerms(std::uint32_t mix, double gain) {
  const double fromLeft = (mix & 0xFFFF) / 100.0 * gain;
  const double fromRight = (mix >> 16) / 100.0 * gain;
  char text[96];
  std::snprintf(text, sizeof text, "%.4g*c0+%.4g*c1", fromLeft, fromRight);
  return text;
}

}  // namespace

std::map<std::string, std::string> ReadMpvOptions(const char* iniPath) {
  std::map<std::string, std::string> options;
  if (iniPath == nullptr || *iniPath == '\0') return options;
  const int error = ini_parse(iniPath, &OptionHandler, &options);
  if (error > 0) MpvLog("%s: cannot read line %d\n", iniPath, error);
  return options;
}

std::string MixFilter(std::uint32_t mixLeft, std::uint32_t mixRight, std::uint32_t volume) {
  const std::uint32_t levelLeft = std::min(volume & 0xFFFF, kMaxLevel);
  const std::uint32_t levelRight = std::min(volume >> 16, kMaxLevel);
  const std::uint32_t louder = std::max(levelLeft, levelRight);
  const bool balanced = levelLeft == levelRight || louder == 0;
  if (mixLeft == kDecoderMixTakeLeft && mixRight == kDecoderMixTakeRight && balanced) return {};
  // mpv's own volume carries the louder level; the softer side is scaled here.
  const double gainLeft = balanced ? 1.0 : static_cast<double>(levelLeft) / louder;
  const double gainRight = balanced ? 1.0 : static_cast<double>(levelRight) / louder;
  return std::string(kMixLabel) + ":lavfi=[pan=stereo|c0=" + PanTerms(mixLeft, gainLeft) +
         "|c1=" + PanTerms(mixRight, gainRight) + "]";
}

std::optional<std::string> DisplayOnScreen(std::string_view display, std::string_view screen) {
  const auto isNumber = [](std::string_view text, std::size_t most) {
    return !text.empty() && text.size() <= most &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  if (!isNumber(screen, 3) || std::stoi(std::string(screen)) > 255) return std::nullopt;
  const auto colon = display.rfind(':');
  if (colon == std::string_view::npos) return std::nullopt;
  std::string_view number = display.substr(colon + 1);
  if (const auto dot = number.find('.'); dot != std::string_view::npos) {
    if (!isNumber(number.substr(dot + 1), 5)) return std::nullopt;
    number = number.substr(0, dot);
  }
  if (!isNumber(number, 5)) return std::nullopt;
  return std::string(display.substr(0, colon + 1)) + std::string(number) + "." +
         std::string(screen);
}

std::string LocalMediaPath(const std::string& stored) {
  std::string mapped = platform::MapSharePath(stored);
  if (IsRegularFile(mapped)) return mapped;
  try {
    std::string utf8 = platform::GbkToUtf8(mapped);
    if (utf8 != mapped && IsRegularFile(utf8)) return utf8;
  } catch (const std::exception&) {
    // not GBK text: the bytes as they are
  }
  return mapped;
}

MpvDriverSettings TakeDriverSettings(std::map<std::string, std::string>& options) {
  MpvDriverSettings settings;
  const auto take = [&options](const char* key) -> std::optional<std::string> {
    const auto it = options.find(key);
    if (it == options.end()) return std::nullopt;
    std::string value = it->second;
    options.erase(it);
    return value;
  };
  const auto milliseconds = [](const std::string& text, long low, long high) {
    return static_cast<int>(std::clamp(std::strtol(text.c_str(), nullptr, 10), low, high));
  };
  if (const auto value = take("open-timeout"))
    settings.openTimeoutMs = static_cast<unsigned>(milliseconds(*value, 100, 60000));
  if (const auto value = take("reply-timeout"))
    settings.client.replyTimeoutMs = milliseconds(*value, 100, 60000);
  if (const auto value = take("start-timeout"))
    settings.client.startTimeoutMs = milliseconds(*value, 100, 60000);
  if (const auto value = take("program"); value && !value->empty()) settings.program = *value;
  if (const auto value = take("x11-screen")) settings.x11Screen = *value;
  return settings;
}

PlayerCommand MpvCommand(const MpvDriverSettings& settings,
                         const std::map<std::string, std::string>& options) {
  PlayerCommand command;
  command.program = settings.program;
  // Our defaults first (no user configuration, no input handling of mpv's
  // own, idle between songs, every file loaded paused); the include file,
  // last, may change any of them.
  command.arguments = {"--no-config",
                       "--idle=yes",
                       "--input-ipc-client=fd://3",
                       "--terminal=no",
                       "--keep-open=no",
                       "--input-default-bindings=no",
                       "--input-vo-keyboard=no",
                       "--osc=no",
                       "--ytdl=no",
                       "--audio-display=no",
                       "--pause=yes",
                       "--include=/dev/fd/4"};
  std::vector<std::string> skipped;
  command.includeText = OptionFileText(options, &skipped);
  for (const std::string& name : skipped)
    MpvLog("option %s: not an option name, or a value of more than one line\n", name.c_str());
  if (!settings.x11Screen.empty()) {
    // The player's X11 outputs open the display named by DISPLAY and use its
    // default screen, with no option for another one: the player's DISPLAY
    // names the screen.
    const char* display = std::getenv("DISPLAY");
    const std::optional<std::string> name =
        DisplayOnScreen(display != nullptr ? display : "", settings.x11Screen);
    if (name) {
      command.environment["DISPLAY"] = *name;
    } else {
      MpvLog("x11-screen=%s: no X screen %s of DISPLAY \"%s\"\n", settings.x11Screen.c_str(),
             settings.x11Screen.c_str(), display != nullptr ? display : "");
    }
  }
  return command;
}

}  // namespace quor::drivers
