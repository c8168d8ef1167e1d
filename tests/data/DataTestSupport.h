#pragma once
// What the client dataset tests share: a catalogue file built in a temporary
// folder, the real quorvod-server as a child process (start, stop, kill,
// start again on the same port), and a recording peer: real server sessions
// on a loopback port whose server object records the exact arguments of
// every AS_ call before the real server object answers it.

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Load.h"
#include "RemoteTestSupport.h"
#include "data/Data.h"

namespace quor::server {
class RequestLog;
}

namespace quor::data::test {

std::string BinDir();
// Points the engine loader at this build's libdsengine.so.
void UseBuiltEngine();
std::string TempFolder(const std::string& tag);

// The test catalogue (UTF-8 texts in the file, as the server expects):
//   singer: 8 male, 2 female, 1 group singer, the group's name holds a
//           double quote; columns SEX, SINGNAME, Path
//   vodinfo: 20 songs of 刘德华 (10001..10020, TYPE 流行, FIRSTWORD starting
//           with W), 7 songs of 王菲 (10021..10027, TYPE 摇滚), 2 songs of the
//           group (10028, 10029, TYPE Rock'n Roll, language 英语), PATH1
//           \\quorvod\quorvod\songs\<number>.mp4
void BuildCatalogue(const std::string& path);
inline constexpr int kLiuSongs = 20;
inline constexpr int kWangSongs = 7;
inline constexpr int kAllSongs = 29;
inline constexpr const char* kGroupNameUtf8 = "五月\"天\"";

// Rows of the room request table of a SQLite catalogue (-1 when it cannot be
// read), all of them or those matching an SQL condition.
int CountRoomCalls(const std::string& db, const std::string& where = "");

// Reads a text file whole (empty when missing).
std::string ReadFile(const std::string& path);
// Lines of the server log that mention a provider or a room request (the
// request lines), in order.
std::vector<std::string> RequestLines(const std::string& logPath);

// The real quorvod-server program on 127.0.0.1, as quorvod-load runs it.
class ServerProcess {
 public:
  ServerProcess(std::string dbPath, std::string logPath);
  // On any catalogue: {"--db", file} or {"--mariadb", uri}.
  ServerProcess(std::vector<std::string> databaseArgs, std::string logPath);
  ~ServerProcess();
  // Starts it on `port` (0: any free port) and waits for its start line.
  void Start(std::uint16_t port = 0);
  // SIGTERM and wait; Kill: SIGKILL (the server dies mid-session).
  void Stop();
  void Kill();
  // SIGSTOP / SIGCONT: the server stalls, then goes on where it stood.
  void Pause();
  void Resume();
  std::uint16_t Port() const { return port_; }
  bool Running() const { return child_ && child_->Pid() > 0; }

 private:
  std::vector<std::string> database_;
  std::string log_;
  std::unique_ptr<load::ServerChild> child_;
  std::uint16_t port_ = 0;
};

// One AS_ call as the server object received it.
struct RecordedCall {
  std::string op;        // "AS_GetRecords", "AS_ApplyUpdates", ...
  std::string provider;  // UTF-8
  std::int32_t count = 0;
  std::int32_t options = 0;
  std::string command;  // UTF-8
  std::u16string command16;
  remote::VarType paramsType = 0;
  remote::VarType ownerDataType = 0;
  remote::VarType deltaType = 0;
  std::int32_t maxErrors = 0;
  std::int32_t recsOut = 0;  // what the server answered
  remote::HRESULT hr = 0;    // the server object's result
  bool answerNull = false;   // the result variant was null
};

class RecordingPeer {
 public:
  explicit RecordingPeer(std::string dbPath);
  ~RecordingPeer();
  std::uint16_t Port() const { return server_->Port(); }
  std::vector<RecordedCall> Calls();
  void ClearCalls();
  std::string LogPath() const { return logPath_; }
  // Rewrites the answers to AS_GetRecords (on a session thread) until reset
  // with an empty function: a packet of the test's own, a broken one, none.
  using AnswerHook =
      std::function<void(const RecordedCall& call, remote::Variant& result, std::int32_t& recsOut)>;
  void SetAnswerHook(AnswerHook hook);

 private:
  friend class RecordingAppServer;
  void Record(RecordedCall call);
  void Rewrite(const RecordedCall& call, remote::Variant& result, std::int32_t& recsOut);

  std::string db_;
  std::string logPath_;
  std::unique_ptr<server::RequestLog> log_;
  remote::ClassRegistry registry_;
  std::unique_ptr<remote::test::TestServer> server_;
  std::mutex mutex_;
  std::vector<RecordedCall> calls_;  // guarded by mutex_
  AnswerHook hook_;                  // guarded by mutex_
};

// A data module whose connection points at 127.0.0.1:port.
struct TerminalFixture {
  remote::test::TestLoop loop;
  std::unique_ptr<DataModule> dm;
  explicit TerminalFixture(std::uint16_t port) : dm(std::make_unique<DataModule>(loop)) {
    dm->SocketConnection->SetHost("127.0.0.1");
    dm->SocketConnection->SetPort(port);
  }
  // Lets the connection's queued notices (a transport that ended) run.
  void Pump(int ms = 200) {
    loop.PumpUntil([] { return false; }, ms);
  }
};

// GBK from UTF-8, for statements and names written in tests.
inline std::string G(const char* utf8) {
  return platform::Utf8ToGbk(utf8);
}
inline std::string U(const std::string& gbk) {
  return platform::GbkToUtf8(gbk);
}

}  // namespace quor::data::test
