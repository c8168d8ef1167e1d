#pragma once
// The player process: mpv in a child process of its own, so that a decoder
// that crashes or hangs on a broken file never takes the terminal with it.
//
// The child gets one end of a socket pair as descriptor 3 and speaks its JSON
// IPC there (--input-ipc-client=fd://3); the options of drivers.ini reach it
// as an include file it reads from an inherited memory file
// (--include=/dev/fd/4), where an option mpv does not know is reported and
// skipped instead of stopping the player. The child is killed when the thread
// that started it ends (PR_SET_PDEATHSIG), so a terminal that dies leaves no
// player behind.
//
// One thread at a time (the terminal's GUI thread); the child is started
// from that thread, which lives as long as the process.

#include <sys/types.h>

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace quor::drivers {

// What the driver's IPC client talks through. The fuzz target and the unit
// tests give their own; the driver runs MpvProcess.
class PlayerChannel {
 public:
  virtual ~PlayerChannel() = default;
  // Starts a player (after Stop or Kill, a new one). false: none could be
  // started; Problem() says why.
  virtual bool Start() = 0;
  virtual bool Running() const = 0;
  // Writes all of bytes; false when the player is gone.
  virtual bool Write(std::string_view bytes) = 0;
  // Waits at most timeoutMs (0: not at all) for bytes from the player: the
  // count read, 0 when none came in time, -1 when the player closed its end.
  virtual long Read(char* buffer, std::size_t size, int timeoutMs) = 0;
  // Asks the player to end, waits at most graceMs, then kills it.
  virtual void Stop(int graceMs) = 0;
  // Kills the player at once (SIGKILL) and reaps it.
  virtual void Kill() = 0;
  // The player's process id, -1 when none runs.
  virtual long Pid() const = 0;
  // How the last player ended or why none could start ("" when nothing to say).
  virtual std::string Problem() const = 0;
};

struct PlayerCommand {
  std::string program = "mpv";                     // looked up in PATH when it holds no '/'
  std::vector<std::string> arguments;              // after the program name
  std::map<std::string, std::string> environment;  // replaces inherited variables
  std::string includeText;                         // the include file's text
};

class MpvProcess final : public PlayerChannel {
 public:
  explicit MpvProcess(PlayerCommand command);
  ~MpvProcess() override;
  MpvProcess(const MpvProcess&) = delete;
  MpvProcess& operator=(const MpvProcess&) = delete;

  bool Start() override;
  bool Running() const override { return pid_ > 0; }
  bool Write(std::string_view bytes) override;
  long Read(char* buffer, std::size_t size, int timeoutMs) override;
  void Stop(int graceMs) override;
  void Kill() override;
  long Pid() const override { return pid_; }
  std::string Problem() const override { return problem_; }

 private:
  void Reap(bool wait);
  void CloseSocket();

  PlayerCommand command_;
  pid_t pid_ = -1;
  int socket_ = -1;
  std::string problem_;
};

// The program file for name: itself when it holds a '/', else the first
// executable file of that name in the folders of PATH; "" when none.
std::string FindProgram(const std::string& name);

}  // namespace quor::drivers
