#pragma once
// quorvod-load: simulated room terminals on the real client stack (the data
// module with its connection, transport thread, client datasets and the
// dataset engine), each on a thread of its own, replaying a guest's evening
// against a running quorvod-server; hostile connections beside them; the
// server's memory and threads watched all along.
//
// Every simulated terminal leaves from a loopback address of its own
// (127.0.0.2, 127.0.0.3, ...), as the rooms of a venue each have their PC.
// Threads: a terminal's objects belong to its thread; the recorder and the
// stop flag are shared and thread-safe.

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace quor::load {

// What a terminal does, as the report names it.
enum class Op {
  kStart,        // connect and the four openings of the window's show
  kSingers,      // a page of singer photos of one category
  kSingerSongs,  // the songs of a singer of that page
  kNumber,       // a song by its number
  kPath,         // the path lookup of the song about to play
  kType,         // the songs of a category
  kLanguage,     // the songs of a language
  kLetters,      // the songs by initial letters
  kRoom,         // the room request
  kCount
};
const char* OpName(Op op);

// What a guest can pick from, learnt from the catalogue before the run
// (texts in GBK, as the terminal sends them).
struct Catalogue {
  std::int64_t firstSong = 0;
  std::int64_t lastSong = 0;
  std::vector<std::string> types;
  std::vector<std::string> languages;
  std::vector<std::string> prefixes;  // initial letters, one or two
};

// Weights of the evening's operations after the start (any scale).
struct Mix {
  double singers = 30;  // a singer page, then that singer's songs
  double number = 15;
  double path = 25;
  double typeLanguage = 15;
  double letters = 15;
  double room = 1;
};

struct TerminalPlan {
  std::string host = "127.0.0.1";
  std::uint16_t port = 211;
  std::string source;     // local address to leave from; "" = any
  std::string room;       // the room name its requests carry (ASCII)
  int intervalMs = 2000;  // mean think time between operations (0: none)
  int startDelayMs = 0;   // when its start comes, from the run's beginning
  int replyTimeoutMs = 30000;
  bool startOnly = false;  // the start, then connected and idle
  Mix mix;
  std::uint64_t seed = 1;
};

// Latencies and failures per operation, from any thread.
class Recorder {
 public:
  void Add(Op op, double ms, const std::string& error = {});
  struct Summary {
    std::size_t count = 0;
    std::size_t errors = 0;
    double p50 = 0, p90 = 0, p99 = 0, max = 0;  // ms, of the successful ones
    std::string firstError;
  };
  Summary Summarise(Op op) const;
  std::size_t Total() const;
  void Clear();

 private:
  mutable std::mutex mutex_;
  std::vector<double> ms_[static_cast<int>(Op::kCount)];  // guarded by mutex_
  std::size_t errors_[static_cast<int>(Op::kCount)] = {};
  std::string firstError_[static_cast<int>(Op::kCount)];
};

// One simulated room terminal on a thread of its own.
class LoadTerminal {
 public:
  LoadTerminal(TerminalPlan plan, const Catalogue& catalogue, Recorder& recorder,
               const std::atomic<bool>& stop);
  ~LoadTerminal();
  LoadTerminal(const LoadTerminal&) = delete;
  LoadTerminal& operator=(const LoadTerminal&) = delete;

  void Start();
  // Waits for the thread; it ends when the stop flag is set (after its
  // current operation) and then sends what its change log still holds.
  void Join();

  // Room requests pressed, and those still in the change log at the end
  // (the server never confirmed them).
  int Pressed() const { return pressed_; }
  int Unconfirmed() const { return unconfirmed_; }
  // Its start is done (well or not).
  bool Started() const { return started_; }

 private:
  void Run();

  TerminalPlan plan_;
  const Catalogue& catalogue_;
  Recorder& recorder_;
  const std::atomic<bool>& stop_;
  std::thread thread_;
  std::atomic<bool> started_{false};
  std::atomic<int> pressed_{0};
  std::atomic<int> unconfirmed_{0};
};

// Learns what a guest can pick from, through one connection of the client
// stack (read-only statements, not recorded).
Catalogue LearnCatalogue(const std::string& host, std::uint16_t port);

// Counts the room requests stored per room name whose name starts with
// `prefix`, through the client stack.
std::map<std::string, int> StoredRoomRequests(const std::string& host, std::uint16_t port,
                                              const std::string& prefix);

// The n-th local address of a range starting at `first` (dotted), skipping
// addresses that end in .0 or .255.
std::string NthAddress(const std::string& first, int n);

// Connections that try to take the server's places or memory.
enum class FloodKind {
  kIdle,       // connect, create the server object, then stay silent
  kHalf,       // send half a header and stay silent
  kTrickle,    // announce a block and send it a byte a second
  kBigHeader,  // announce a large block and send nothing more
  kCostly,     // the costliest statements, one after another
};
std::optional<FloodKind> ParseFloodKind(const std::string& text);
const char* FloodName(FloodKind kind);

class Flood {
 public:
  // `connections` from `sources` consecutive addresses starting at
  // `firstSource`; each one that the server closes is opened again. MariaDB
  // selects the costly statements of that dialect.
  Flood(FloodKind kind, int connections, int sources, std::string firstSource, std::string host,
        std::uint16_t port, bool mariadb);
  ~Flood();
  void Start();
  void Stop();
  // Connections opened (the server took them), refused or closed by it, and
  // for kCostly statements answered and failed.
  struct Counts {
    long opened = 0, closed = 0, answered = 0, failed = 0;
  };
  Counts Tally() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// What /proc says of a process. The resident size counts the pages of every
// mapping of a file again for each mapping (each SQLite connection maps the
// catalogue file), while the pages themselves are the system's page cache,
// held once: what the process itself allocated is the anonymous part.
struct ProcessSample {
  long rssKb = 0;
  long anonKb = 0;  // heap, stacks: the process's own memory
  long fileKb = 0;  // mapped file pages, counted per mapping
  long peakKb = 0;
  int threads = 0;
  double cpuSeconds = 0;  // user and system time so far
};
std::optional<ProcessSample> SampleProcess(pid_t pid);

// The server as a child of this tool: started from a command line whose
// start line names the port it listens on, killed, stalled and started again.
class ServerChild {
 public:
  explicit ServerChild(std::vector<std::string> argv);
  ~ServerChild();
  void Start();        // waits for the start line; throws when it does not come
  void Restart();      // Start on the port it had
  void Kill();         // SIGKILL and wait
  void Stall(int ms);  // Pause, ms, Resume
  void Pause();        // SIGSTOP: the server stalls where it stands
  void Resume();       // SIGCONT: and goes on
  void Stop();         // SIGTERM and wait
  pid_t Pid() const { return pid_; }
  std::uint16_t Port() const { return port_; }

 private:
  std::vector<std::string> argv_;
  pid_t pid_ = -1;
  std::uint16_t port_ = 0;
};

}  // namespace quor::load
