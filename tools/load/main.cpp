// quorvod-load: N simulated room terminals against a quorvod-server, with
// hostile connections beside them if asked; reports per operation p50/p99,
// errors and throughput, the server's memory and threads, and whether every
// room request was stored exactly once.

#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>

#include "Load.h"
#include "platform/EngineRegistry.h"
#include "platform/ProgramFolder.h"

namespace {

using namespace quor::load;
using Clock = std::chrono::steady_clock;

const char kUsage[] =
    "usage: quorvod-load [options] [-- SERVER COMMAND...]\n"
    "  --host ADDR            server address (default 127.0.0.1)\n"
    "  --port N               server port (default 211; taken from the start line of a\n"
    "                         server given after --)\n"
    "  --server-pid PID       the server whose memory and threads are reported\n"
    "  --terminals N          simulated terminals (default 10)\n"
    "  --seconds S            length of the run after the starts (default 60)\n"
    "  --interval-ms M        mean think time between a terminal's operations (default 2000)\n"
    "  --ramp-ms M            the terminals' starts spread over M ms (default 10000)\n"
    "  --start-only           each terminal only starts, then stays idle (opening time)\n"
    "  --baseline-seconds S   one terminal alone first: 20 starts, then S s of every kind of\n"
    "                         operation as often; p99 ratios against it\n"
    "  --baseline-interval-ms M  that terminal's think time (default 100: enough samples)\n"
    "  --source ADDR          first local address of the terminals (default 127.0.0.2)\n"
    "  --room-percent P       weight of room requests among the operations (default 1)\n"
    "  --reply-timeout-ms M   the terminals' wait for an answer (default 30000)\n"
    "  --flood KIND           idle | half-header | trickle | big-header | costly\n"
    "  --flood-connections N  hostile connections (default 600; costly: 20)\n"
    "  --flood-sources N      addresses they come from (default 1; costly: one each)\n"
    "  --flood-source ADDR    the first of them (default 127.1.0.1)\n"
    "  --mariadb              costly statements in MariaDB's dialect\n"
    "  --kill-every S         kill the server (given after --) every S s and start it again\n"
    "  --stall-every S        stop the server every S s for --stall-ms (default 35000)\n"
    "  --allow-errors         failed operations do not fail the run (kill, stall)\n"
    "  --json FILE            the report as JSON as well\n";

struct Options {
  std::string host = "127.0.0.1";
  std::uint16_t port = 211;
  pid_t serverPid = -1;
  int terminals = 10;
  int seconds = 60;
  int intervalMs = 2000;
  int rampMs = 10000;
  bool startOnly = false;
  int baselineSeconds = 0;
  int baselineIntervalMs = 100;
  std::string source = "127.0.0.2";
  double roomPercent = 1;
  int replyTimeoutMs = 30000;
  std::optional<FloodKind> flood;
  int floodConnections = -1;
  int floodSources = -1;
  std::string floodSource = "127.1.0.1";
  bool mariadb = false;
  int killEvery = 0;
  int stallEvery = 0;
  int stallMs = 35000;
  bool allowErrors = false;
  std::string json;
  std::vector<std::string> server;
};

Options Parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--") {
      o.server.assign(argv + i + 1, argv + argc);
      break;
    }
    if (a == "--help" || a == "-h") {
      std::cout << kUsage;
      std::exit(0);
    }
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw std::invalid_argument(a + " needs a value");
      return argv[++i];
    };
    auto number = [&](long min, long max) {
      const std::string v = value();
      std::size_t used = 0;
      long n = 0;
      try {
        n = std::stol(v, &used);
      } catch (const std::exception&) {
        used = 0;
      }
      if (used != v.size() || n < min || n > max)
        throw std::invalid_argument(a + " needs a number from " + std::to_string(min) + " to " +
                                    std::to_string(max) + ", not \"" + v + "\"");
      return n;
    };
    if (a == "--host") {
      o.host = value();
    } else if (a == "--port") {
      o.port = static_cast<std::uint16_t>(number(1, 65535));
    } else if (a == "--server-pid") {
      o.serverPid = static_cast<pid_t>(number(1, 1 << 30));
    } else if (a == "--terminals") {
      o.terminals = static_cast<int>(number(0, 20000));
    } else if (a == "--seconds") {
      o.seconds = static_cast<int>(number(0, 86400));
    } else if (a == "--interval-ms") {
      o.intervalMs = static_cast<int>(number(0, 3600000));
    } else if (a == "--ramp-ms") {
      o.rampMs = static_cast<int>(number(0, 3600000));
    } else if (a == "--start-only") {
      o.startOnly = true;
    } else if (a == "--baseline-seconds") {
      o.baselineSeconds = static_cast<int>(number(0, 86400));
    } else if (a == "--baseline-interval-ms") {
      o.baselineIntervalMs = static_cast<int>(number(0, 3600000));
    } else if (a == "--source") {
      o.source = value();
    } else if (a == "--room-percent") {
      o.roomPercent = static_cast<double>(number(0, 100));
    } else if (a == "--reply-timeout-ms") {
      o.replyTimeoutMs = static_cast<int>(number(100, 3600000));
    } else if (a == "--flood") {
      const std::string kind = value();
      o.flood = ParseFloodKind(kind);
      if (!o.flood) throw std::invalid_argument("unknown flood \"" + kind + "\"");
    } else if (a == "--flood-connections") {
      o.floodConnections = static_cast<int>(number(1, 20000));
    } else if (a == "--flood-sources") {
      o.floodSources = static_cast<int>(number(1, 20000));
    } else if (a == "--flood-source") {
      o.floodSource = value();
    } else if (a == "--mariadb") {
      o.mariadb = true;
    } else if (a == "--kill-every") {
      o.killEvery = static_cast<int>(number(1, 86400));
    } else if (a == "--stall-every") {
      o.stallEvery = static_cast<int>(number(1, 86400));
    } else if (a == "--stall-ms") {
      o.stallMs = static_cast<int>(number(1, 3600000));
    } else if (a == "--allow-errors") {
      o.allowErrors = true;
    } else if (a == "--json") {
      o.json = value();
    } else {
      throw std::invalid_argument("unknown option \"" + a + "\"");
    }
  }
  if ((o.killEvery != 0 || o.stallEvery != 0) && o.server.empty())
    throw std::invalid_argument("--kill-every and --stall-every need the server command after --");
  NthAddress(o.source, 0);  // checks the addresses
  NthAddress(o.floodSource, 0);
  return o;
}

// The server's memory and threads, sampled twice a second.
struct Watch {
  std::atomic<long> maxRssKb{0};
  std::atomic<long> maxAnonKb{0};
  std::atomic<int> maxThreads{0};
  ProcessSample last;
  std::mutex mutex;
  void Sample(pid_t pid) {
    if (pid <= 0) return;
    if (const auto s = SampleProcess(pid)) {
      if (s->rssKb > maxRssKb) maxRssKb = s->rssKb;
      if (s->anonKb > maxAnonKb) maxAnonKb = s->anonKb;
      if (s->threads > maxThreads) maxThreads = s->threads;
      const std::lock_guard lock(mutex);
      last = *s;
    }
  }
};

struct RunResult {
  Recorder recorder;
  double seconds = 0;
  int pressed = 0;
  int unconfirmed = 0;
};

// Runs `count` terminals from the options' plan until `seconds` after the
// last start; the monitor callback runs every 500 ms meanwhile.
void RunTerminals(const Options& o, const Catalogue& catalogue, int count, int seconds, int rampMs,
                  const std::string& roomPrefix, RunResult& result,
                  const std::function<void()>& everyHalfSecond) {
  std::atomic<bool> stop{false};
  std::vector<std::unique_ptr<LoadTerminal>> terminals;
  for (int i = 0; i < count; ++i) {
    TerminalPlan plan;
    plan.host = o.host;
    plan.port = o.port;
    plan.source = NthAddress(o.source, i);
    plan.room = roomPrefix + std::to_string(i + 1);
    plan.intervalMs = o.intervalMs;
    plan.startDelayMs = count > 1 ? static_cast<int>(static_cast<long>(rampMs) * i / count) : 0;
    plan.replyTimeoutMs = o.replyTimeoutMs;
    plan.startOnly = o.startOnly;
    plan.mix.room = o.roomPercent;
    plan.seed = 0x9E3779B97F4A7C15ull * static_cast<std::uint64_t>(i + 1) ^ ::getpid();
    terminals.push_back(std::make_unique<LoadTerminal>(plan, catalogue, result.recorder, stop));
  }
  const auto begin = Clock::now();
  for (auto& t : terminals) t->Start();
  const auto end = begin + std::chrono::milliseconds(rampMs) + std::chrono::seconds(seconds);
  // Every terminal gets to its start, however long the run.
  auto allStarted = [&] {
    return std::all_of(terminals.begin(), terminals.end(),
                       [](const auto& t) { return t->Started(); });
  };
  while (Clock::now() < end || !allStarted()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(Clock::now() < end ? 500 : 20));
    if (everyHalfSecond) everyHalfSecond();
  }
  stop = true;
  for (auto& t : terminals) {
    t->Join();
    result.pressed += t->Pressed();
    result.unconfirmed += t->Unconfirmed();
  }
  result.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
}

std::string Fixed(double v, int decimals = 1) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, v);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  try {
    o = Parse(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "quorvod-load: " << e.what() << "\n" << kUsage;
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  // Thousands of terminal threads (each with its transport thread): small
  // stacks, and as many descriptors as the system allows.
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, 512 * 1024);
  pthread_setattr_default_np(&attr);
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }
  // The engine beside this program, else the terminal's installed one.
  const std::string here = quor::platform::ProgramFolder() + quor::platform::kEngineLibraryName;
  quor::platform::RecordEnginePath(access(here.c_str(), R_OK) == 0
                                       ? here
                                       : std::string("/usr/lib/quorvod/") +
                                             quor::platform::kEngineLibraryName);
  try {
    std::unique_ptr<ServerChild> child;
    if (!o.server.empty()) {
      child = std::make_unique<ServerChild>(o.server);
      child->Start();
      o.port = child->Port();
      o.serverPid = child->Pid();
    }
    const Catalogue catalogue = LearnCatalogue(o.host, o.port);
    if (catalogue.lastSong == 0) throw std::runtime_error("the catalogue holds no songs");
    const std::string roomPrefix = "load-" + std::to_string(::getpid()) + "-";

    RunResult alone;
    if (o.baselineSeconds > 0) {
      // Alone, every operation gets samples enough for a p99: starts one
      // after another, then an evening in which each kind comes as often;
      // first a few seconds unrecorded, so that caches are as warm as the
      // load will find them.
      Options single = o;
      single.intervalMs = o.baselineIntervalMs;
      single.roomPercent = 15;
      RunResult warmUp;
      RunTerminals(single, catalogue, 1, 5, 0, roomPrefix + "alone-", warmUp, {});
      alone.pressed += warmUp.pressed;
      alone.unconfirmed += warmUp.unconfirmed;
      single.startOnly = true;
      for (int i = 0; i < 20; ++i)
        RunTerminals(single, catalogue, 1, 0, 0, roomPrefix + "alone-", alone, {});
      single.startOnly = false;
      single.intervalMs = o.baselineIntervalMs;
      single.roomPercent = 15;
      RunTerminals(single, catalogue, 1, o.baselineSeconds, 0, roomPrefix + "alone-", alone, {});
    }

    Watch watch;
    std::unique_ptr<Flood> flood;
    if (o.flood) {
      const bool costly = *o.flood == FloodKind::kCostly;
      const int connections = o.floodConnections > 0 ? o.floodConnections : costly ? 20 : 600;
      const int sources = o.floodSources > 0 ? o.floodSources : costly ? connections : 1;
      flood = std::make_unique<Flood>(*o.flood, connections, sources, o.floodSource, o.host, o.port,
                                      o.mariadb);
      flood->Start();
      std::this_thread::sleep_for(std::chrono::seconds(2));  // it takes what it can first
    }
    const pid_t watched = child ? child->Pid() : o.serverPid;
    const std::optional<ProcessSample> before =
        watched > 0 ? SampleProcess(watched) : std::optional<ProcessSample>();
    RunResult load;
    auto lastKill = Clock::now();
    auto lastStall = Clock::now();
    RunTerminals(o, catalogue, o.terminals, o.seconds, o.rampMs, roomPrefix, load, [&] {
      watch.Sample(child ? child->Pid() : o.serverPid);
      const auto now = Clock::now();
      if (child && o.killEvery > 0 && now - lastKill >= std::chrono::seconds(o.killEvery)) {
        child->Kill();
        child->Restart();
        lastKill = Clock::now();
      }
      if (child && o.stallEvery > 0 && now - lastStall >= std::chrono::seconds(o.stallEvery)) {
        child->Stall(o.stallMs);
        lastStall = Clock::now();
      }
    });
    watch.Sample(child ? child->Pid() : o.serverPid);
    Flood::Counts floodCounts;
    if (flood) {
      flood->Stop();
      floodCounts = flood->Tally();
    }

    // Exactly once, counted on both ends.
    int stored = 0;
    if (load.pressed > 0 || alone.pressed > 0) {
      for (const auto& [room, n] : StoredRoomRequests(o.host, o.port, roomPrefix)) stored += n;
    }
    const int pressed = load.pressed + alone.pressed;
    const int unconfirmed = load.unconfirmed + alone.unconfirmed;

    std::ostringstream out;
    std::ostringstream json;
    out << "quorvod-load: " << o.terminals << " terminals, " << Fixed(load.seconds, 0)
        << " s, think time " << o.intervalMs << " ms"
        << (o.flood ? std::string(", flood ") + FloodName(*o.flood) : std::string()) << "\n";
    char line[200];
    std::snprintf(line, sizeof line, "%-13s %7s %6s %9s %9s %9s %9s %10s\n", "operation", "count",
                  "errors", "p50 ms", "p90 ms", "p99 ms", "max ms", "p99/alone");
    out << line;
    json << "{\n  \"terminals\": " << o.terminals << ",\n  \"seconds\": " << Fixed(load.seconds)
         << ",\n  \"operations\": {";
    std::size_t errors = 0;
    bool firstOp = true;
    for (int i = 0; i < static_cast<int>(Op::kCount); ++i) {
      const Op op = static_cast<Op>(i);
      const Recorder::Summary s = load.recorder.Summarise(op);
      if (s.count == 0) continue;
      errors += s.errors;
      const Recorder::Summary a = alone.recorder.Summarise(op);
      const double ratio = a.count > a.errors && a.p99 > 0 ? s.p99 / a.p99 : 0;
      std::snprintf(line, sizeof line, "%-13s %7zu %6zu %9.1f %9.1f %9.1f %9.1f %10s\n", OpName(op),
                    s.count, s.errors, s.p50, s.p90, s.p99, s.max,
                    ratio > 0 ? Fixed(ratio, 2).c_str() : "-");
      out << line;
      if (!s.firstError.empty()) out << "    first error: " << s.firstError << "\n";
      json << (firstOp ? "\n" : ",\n") << "    \"" << OpName(op) << "\": {\"count\": " << s.count
           << ", \"errors\": " << s.errors << ", \"p50\": " << Fixed(s.p50, 2)
           << ", \"p90\": " << Fixed(s.p90, 2) << ", \"p99\": " << Fixed(s.p99, 2)
           << ", \"max\": " << Fixed(s.max, 2) << ", \"aloneP99\": " << Fixed(a.p99, 2) << "}";
      firstOp = false;
    }
    const double throughput =
        load.seconds > 0 ? static_cast<double>(load.recorder.Total()) / load.seconds : 0;
    out << "throughput: " << Fixed(throughput) << " operations/s\n";
    json << "\n  },\n  \"throughput\": " << Fixed(throughput, 2) << ",\n  \"errors\": " << errors;
    if (o.serverPid > 0 || child) {
      ProcessSample last;
      {
        const std::lock_guard lock(watch.mutex);
        last = watch.last;
      }
      const std::size_t operations = load.recorder.Total();
      if (before && o.killEvery == 0 && operations > 0) {
        const double cpuMs = (last.cpuSeconds - before->cpuSeconds) * 1000.0;
        out << "server: CPU " << Fixed(cpuMs / 1000.0) << " s, "
            << Fixed(cpuMs / static_cast<double>(operations), 2) << " ms an operation\n";
        json << ",\n  \"serverCpuMsPerOperation\": "
             << Fixed(cpuMs / static_cast<double>(operations), 3);
      }
      out << "server: own memory (anonymous) " << watch.maxAnonKb / 1024 << " MB at most, "
          << last.anonKb / 1024 << " MB at the end; resident with the catalogue's mapped pages "
          << watch.maxRssKb / 1024 << " MB at most; threads " << watch.maxThreads << " at most\n";
      json << ",\n  \"serverMaxAnonKb\": " << watch.maxAnonKb
           << ",\n  \"serverMaxRssKb\": " << watch.maxRssKb
           << ",\n  \"serverPeakKb\": " << last.peakKb
           << ",\n  \"serverMaxThreads\": " << watch.maxThreads;
    }
    if (flood) {
      out << "flood " << FloodName(*o.flood) << ": opened " << floodCounts.opened
          << ", closed by the server " << floodCounts.closed << ", statements answered "
          << floodCounts.answered << ", failed " << floodCounts.failed << "\n";
      json << ",\n  \"flood\": {\"opened\": " << floodCounts.opened
           << ", \"closed\": " << floodCounts.closed << ", \"answered\": " << floodCounts.answered
           << ", \"failed\": " << floodCounts.failed << "}";
    }
    const bool once = stored == pressed && unconfirmed == 0;
    if (pressed > 0) {
      out << "room requests: " << pressed << " pressed, " << stored << " stored, " << unconfirmed
          << " never confirmed: " << (once ? "each stored exactly once" : "NOT exactly once")
          << "\n";
    }
    json << ",\n  \"roomRequests\": {\"pressed\": " << pressed << ", \"stored\": " << stored
         << ", \"unconfirmed\": " << unconfirmed << "}\n}\n";
    std::cout << out.str() << std::flush;
    if (!o.json.empty()) std::ofstream(o.json) << json.str();
    if (child) child->Stop();
    if (pressed > 0 && !once) return 4;
    if (errors > 0 && !o.allowErrors) return 3;
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "quorvod-load: " << e.what() << "\n";
    return 1;
  }
}
