#pragma once
// What the main window asks of the program around it while it starts and
// ends: the platform steps of its creation, show and close events. The
// program hands the window its real implementation (the app folder's
// ProgramShell); tests hand it a recorder and watch the order of the steps.
// Called on the GUI thread only.

#include <array>
#include <cstddef>
#include <string>

#include "platform/Share.h"

namespace quor::ui {

// Number of remote-control keys in the KeyMap section.
inline constexpr std::size_t kRemoteKeyCount = 30;

// The values read from VODSet.ini, byte strings in the Chinese code page as
// they stand in the file. All empty until ReadConfiguration fills them (and
// still empty after the missing-file message).
struct Configuration {
  std::string roomName;        // RoomName: the ClientName of the room request row
  std::string mediaSharePath;  // "\\" + ServerName + "\quorvod"
  std::string serverIP;        // ServerIP: host of the application server
  // The KeyMap codes in the order Play ... Vinoserve (decimal virtual-key
  // codes as text; converted only when the keys are registered).
  std::array<std::string, kRemoteKeyCount> keyCodes;
};

class ShellServices {
 public:
  virtual ~ShellServices() = default;

  // Keeps the X screen saver and display power saving away (the X side of
  // the screen-saver filter).
  virtual void SuppressScreenSaver() = 0;
  // Records program folder + the engine library name for the engine loader.
  virtual void RegisterEngine() = 0;
  // Switches the display, best effort; the result is not looked at.
  virtual void SetDisplayMode(int width, int height) = 0;
  // Reads VODSet.ini into config (the missing-file message included).
  virtual void ReadConfiguration(Configuration& config) = 0;
  // Registers the 30 remote keys as system-wide hot keys.
  virtual void RegisterRemoteKeys(const Configuration& config) = 0;
  virtual void UnregisterRemoteKeys() = 0;
  // Opens and closes the decoder driver.
  virtual void DecoderOpen() = 0;
  virtual void DecoderClose() = 0;
  // Connects the media share; the result is not looked at.
  virtual void ConnectShare(const platform::ShareConnection& connection) = 0;
};

}  // namespace quor::ui
