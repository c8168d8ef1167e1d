// The server's answer to `select SINGID,SINGNAME,SINGER from vodinfo` with
// every row (Count -1, field descriptions) on the 200,000-song demo
// catalogue, each printed as a ratio against the baseline measured in the
// same run: stepping the same statement with bare sqlite3 and reading the
// three columns.
//
//   BM_SqliteStep      the baseline
//   BM_ServerAnswer    the server's whole work for the request block: decode,
//                      run the statement read-only, write the data packet,
//                      encode the reply block (no socket)
//   BM_ServerLoopback  the same request over a loopback TCP connection to a
//                      running server, until the last reply byte is read
//
// QUOR_BENCH_CATALOGUE=file uses an existing catalogue; otherwise one is made
// in a temporary folder.

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchCatalogue.h"
#include "remote/Remote.h"
#include "server/AppServerObject.h"
#include "server/RequestLog.h"
#include "server/Server.h"

namespace {

using namespace quor;

constexpr char16_t kStatement16[] = u"select SINGID,SINGNAME,SINGER from vodinfo";

std::string& CataloguePath() {
  static std::string path;
  return path;
}

// The request blocks a terminal sends, as raw bytes.
struct Wire {
  std::vector<std::uint8_t> bytes;
  void I32(std::int32_t v) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  void Int(std::int32_t v) {
    I32(3);
    I32(v);
  }
  void Str(std::u16string_view s) {
    I32(8);
    I32(static_cast<std::int32_t>(s.size()));
    for (const char16_t c : s) {
      bytes.push_back(static_cast<std::uint8_t>(c));
      bytes.push_back(static_cast<std::uint8_t>(c >> 8));
    }
  }
  // Header first: signature and the size of what follows.
  std::vector<std::uint8_t> Block(std::int32_t signature) const {
    Wire w;
    w.I32(signature);
    w.I32(static_cast<std::int32_t>(bytes.size()));
    w.bytes.insert(w.bytes.end(), bytes.begin(), bytes.end());
    return w.bytes;
  }
};

std::vector<std::uint8_t> CreateRequest() {
  Wire w;
  w.Str(u"{6EE68EED-0503-48A7-8626-C11D1330E902}");
  return w.Block(0xDA04);
}

std::vector<std::uint8_t> GetRecordsRequest() {
  Wire w;
  w.Int(0);  // the object created first
  w.Int(20000001);
  w.Int(1);
  w.I32(11);  // expect a result: VT_BOOL true
  w.bytes.push_back(0xFF);
  w.bytes.push_back(0xFF);
  w.Int(7);
  w.Int(0);
  w.I32(0x4000);  // OwnerData
  w.I32(0);
  w.I32(0x4000);  // Params
  w.I32(1);
  w.Str(kStatement16);
  w.Int(1);  // Options: field descriptions and rows
  w.I32(0x4003);
  w.I32(0);   // RecsOut
  w.Int(-1);  // Count: every row
  w.Str(u"songDataSetProvider");
  return w.Block(0xDA02);
}

void BM_SqliteStep(benchmark::State& state) {
  bench::StepBareStatement(state, CataloguePath());
}

// Keeps the size of the reply the interpreter sends.
class ReplySink final : public remote::ISendDataBlock {
 public:
  remote::Ref<remote::IDataBlock> Send(const remote::Ref<remote::IDataBlock>& block,
                                       bool) override {
    lastSize = block->Size();
    lastSignature = block->Signature();
    return nullptr;
  }
  std::int32_t lastSize = 0;
  std::int32_t lastSignature = 0;
};

remote::Ref<remote::IDataBlock> BlockOf(const std::vector<std::uint8_t>& bytes) {
  auto block = remote::DataBlock::Create();
  block->LoadFrom(bytes.data(), static_cast<std::int32_t>(bytes.size()), true);
  return block;
}

void BM_ServerAnswer(benchmark::State& state) {
  auto log = server::RequestLog::Open("/dev/null");
  std::unique_ptr<server::SqlBackend> backend;
  server::SessionContext context;
  context.peer = "bench";
  context.log = log.get();
  context.database = [&]() -> server::SqlBackend& {
    if (!backend) backend = server::OpenSqliteBackend(CataloguePath());
    return *backend;
  };
  remote::ClassRegistry registry;
  registry.Register(server::kServerClassId, server::kServerProgId, [&context] {
    return remote::Ref<remote::IUnknown>(new server::AppServerObject(context));
  });
  ReplySink sink;
  remote::DataBlockInterpreter interpreter(sink, "", &registry);
  interpreter.HandleBlock(BlockOf(CreateRequest()));
  const auto request = GetRecordsRequest();
  for (auto _ : state) {
    interpreter.HandleBlock(BlockOf(request));
    if (sink.lastSignature != 0xDB02) state.SkipWithError("the request failed");
  }
  state.counters["reply_MB"] = sink.lastSize / 1e6;
}

bool ReadAll(int fd, std::uint8_t* p, std::size_t n) {
  while (n > 0) {
    const ssize_t got = recv(fd, p, n, 0);
    if (got <= 0) return false;
    p += got;
    n -= static_cast<std::size_t>(got);
  }
  return true;
}

bool RoundTrip(int fd, const std::vector<std::uint8_t>& request, std::vector<std::uint8_t>& reply) {
  if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
      static_cast<ssize_t>(request.size())) {
    return false;
  }
  std::uint8_t header[8];
  if (!ReadAll(fd, header, 8)) return false;
  std::int32_t size = 0;
  std::memcpy(&size, header + 4, 4);
  reply.resize(static_cast<std::size_t>(size));
  return ReadAll(fd, reply.data(), reply.size());
}

void BM_ServerLoopback(benchmark::State& state) {
  auto log = server::RequestLog::Open("/dev/null");
  server::ServerOptions options;
  options.sqlitePath = CataloguePath();
  options.bindAddress = "127.0.0.1";
  options.port = 0;
  server::Server srv(options, *log);
  srv.Start();
  std::thread serving([&srv] { srv.Serve(); });
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(srv.Port());
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::vector<std::uint8_t> reply;
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      !RoundTrip(fd, CreateRequest(), reply)) {
    state.SkipWithError("cannot reach the server");
  } else {
    const auto request = GetRecordsRequest();
    for (auto _ : state) {
      if (!RoundTrip(fd, request, reply)) state.SkipWithError("the request failed");
    }
  }
  close(fd);
  srv.Stop();
  serving.join();
}

BENCHMARK(BM_SqliteStep)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_ServerAnswer)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_ServerLoopback)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->UseRealTime();

// Keeps the medians for the ratios printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.aggregate_name != "median") continue;
      const std::string name = run.benchmark_name().substr(0, run.benchmark_name().find('/'));
      real[name] = run.GetAdjustedRealTime();
      cpu[name] = run.GetAdjustedCPUTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> real;
  std::map<std::string, double> cpu;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  server::TuneAllocator();  // as quorvod-server runs
  const bench::BenchCatalogue catalogue("server");
  CataloguePath() = catalogue.Path();
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const double base = reporter.real["BM_SqliteStep"];
  for (const char* name : {"BM_ServerAnswer", "BM_ServerLoopback"}) {
    if (base > 0 && reporter.real.count(name) != 0) {
      std::printf("ratio %-18s %.2f x bare sqlite3 stepping (median real time; CPU %.2f)\n", name,
                  reporter.real[name] / base,
                  reporter.cpu[name] / std::max(reporter.cpu["BM_SqliteStep"], 1e-9));
    }
  }
  return 0;
}
