// Costs of the remote data path, each against a baseline measured in the
// same run: a 4 MiB VT_UI1 array (a data packet) encoded into a block and
// decoded from it vs a bare 4 MiB memcpy, and a no-argument call over
// loopback (connection, transport thread, server session) vs a bare
// 8-byte ping-pong over a loopback socket pair.

#include <benchmark/benchmark.h>
#include <poll.h>

#include <cstring>
#include <map>
#include <thread>

#include "remote/Remote.h"

namespace {
using namespace quor::remote;
constexpr std::size_t kPacket = 4u << 20;

void BM_Memcpy4MiB(benchmark::State& state) {
  std::vector<std::uint8_t> src(kPacket, 0x5A);
  std::vector<std::uint8_t> dst(kPacket);
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), kPacket);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Memcpy4MiB);

struct NullSender : ISendDataBlock {
  Ref<IDataBlock> Send(const Ref<IDataBlock>&, bool) override { return nullptr; }
};

void BM_EncodeUI1Array4MiB(benchmark::State& state) {
  NullSender sender;
  DataBlockInterpreter interpreter(sender, "", nullptr);
  auto array = SafeArray::Create(VT_UI1, {{0, static_cast<std::int32_t>(kPacket) - 1}});
  std::memset(array->Data(), 0x5A, kPacket);
  const Variant packet = Variant::Array(array);
  for (auto _ : state) {
    Ref<DataBlock> block = DataBlock::Create();  // a new block per message, as on the wire
    interpreter.EncodeVariant(packet, *block);
    benchmark::DoNotOptimize(block->Memory());
  }
}
BENCHMARK(BM_EncodeUI1Array4MiB);

void BM_DecodeUI1Array4MiB(benchmark::State& state) {
  NullSender sender;
  DataBlockInterpreter interpreter(sender, "", nullptr);
  auto array = SafeArray::Create(VT_UI1, {{0, static_cast<std::int32_t>(kPacket) - 1}});
  std::memset(array->Data(), 0x5A, kPacket);
  Ref<DataBlock> block = DataBlock::Create();
  interpreter.EncodeVariant(Variant::Array(array), *block);
  for (auto _ : state) {
    block->ResetReadPosition();
    Variant v = interpreter.DecodeVariant(*block);
    benchmark::DoNotOptimize(v.AsArray().Data());
  }
}
BENCHMARK(BM_DecodeUI1Array4MiB);

// Bare loopback round trip: 8 bytes there, 8 bytes back.
void BM_SocketPingPong(benchmark::State& state) {
  quor::platform::ListenSocket listener;
  listener.Listen("127.0.0.1", 0);
  quor::platform::TcpSocket client;
  client.Create();
  client.Connect(quor::platform::DottedToIPv4("127.0.0.1"), listener.Port(), 5000, -1);
  int err = 0;
  quor::platform::TcpSocket server = listener.Accept(5000, -1, err);
  std::atomic<bool> stop{false};
  auto exact = [&](quor::platform::TcpSocket& s, bool send, std::uint8_t* buf) {
    std::size_t done = 0;
    while (done < 8) {
      int e = 0;
      const ssize_t n =
          send ? s.SendSome(buf + done, 8 - done, e) : s.RecvSome(buf + done, 8 - done, e);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
      } else if (n == 0 || e != EAGAIN) {
        return false;
      } else {
        quor::platform::WaitFd(s.Fd(), send ? POLLOUT : POLLIN, 200, -1, e);
        if (stop) return false;
      }
    }
    return true;
  };
  std::thread echo([&] {
    std::uint8_t buf[8];
    while (!stop && exact(server, false, buf) && exact(server, true, buf)) {
    }
  });
  std::uint8_t buf[8] = {};
  for (auto _ : state) {
    exact(client, true, buf);
    exact(client, false, buf);
  }
  stop = true;
  client.Close();
  echo.join();
}
BENCHMARK(BM_SocketPingPong)->UseRealTime();

class Nop : public IDispatch {
 public:
  HRESULT GetTypeInfoCount(std::uint32_t& c) override {
    c = 0;
    return S_OK;
  }
  HRESULT GetIDsOfNames(const quor::platform::Guid&, const std::u16string*, std::uint32_t count,
                        std::uint32_t, std::int32_t* ids) override {
    for (std::uint32_t i = 0; i < count; ++i) ids[i] = 1;
    return S_OK;
  }
  HRESULT Invoke(std::int32_t, const quor::platform::Guid&, std::uint32_t, std::uint16_t,
                 DispParams&, Variant* result, ExcepInfo*, std::uint32_t*) override {
    if (result) *result = Variant();
    return S_OK;
  }
};

struct QueueLoop : MessageLoop {
  void Post(std::function<void()>) override {}  // nothing arrives unasked here
  void ReportError(const std::exception&) override {}
};

void BM_NoArgCallRoundTrip(benchmark::State& state) {
  const quor::platform::Guid nopClass{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  ClassRegistry registry;
  registry.Register(nopClass, "Bench.Nop", [] { return Ref<IUnknown>(new Nop); });
  registry.SetValue(nopClass, "Sockets", "1");
  quor::platform::ListenSocket listener;
  listener.Listen("127.0.0.1", 0);
  std::thread serverThread([&] {
    int err = 0;
    quor::platform::TcpSocket s = listener.Accept(10000, -1, err);
    ServerSession session(std::move(s), registry);
    session.Run();
  });
  {
    QueueLoop loop;
    SocketConnection connection(loop, nullptr);
    connection.SetHost("127.0.0.1");
    connection.SetPort(listener.Port());
    connection.SetServerName("Bench.Nop");
    connection.SetConnected(true);
    Ref<IDispatch> object = connection.AppServer().AsDispatch();
    DispParams none;
    for (auto _ : state) {
      Variant result;
      ExcepInfo ei;
      object->Invoke(1, {}, 0, DISPATCH_METHOD, none, &result, &ei, nullptr);
    }
    state.counters["calls/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  }
  serverThread.join();
}
BENCHMARK(BM_NoArgCallRoundTrip)->UseRealTime();

// Keeps the time per iteration of every run to print the ratios after.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (r.iterations > 0)
        perIteration[r.benchmark_name()] =
            r.GetAdjustedRealTime();  // in the run's time unit (ns by default)
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> perIteration;
};
}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto& t = reporter.perIteration;
  auto ratio = [&](const char* what, const std::string& a, const std::string& b, double scale) {
    if (t.count(a) && t.count(b) && t[b] > 0)
      std::printf("%-48s %.2f\n", what, t[a] / (t[b] * scale));
  };
  std::printf("\nRatios against the baselines of this run:\n");
  ratio("encode 4 MiB VT_UI1 / memcpy 4 MiB", "BM_EncodeUI1Array4MiB", "BM_Memcpy4MiB", 1);
  ratio("decode 4 MiB VT_UI1 / memcpy 4 MiB", "BM_DecodeUI1Array4MiB", "BM_Memcpy4MiB", 1);
  if (t.count("BM_EncodeUI1Array4MiB") && t.count("BM_DecodeUI1Array4MiB") &&
      t.count("BM_Memcpy4MiB"))
    std::printf(
        "%-48s %.2f\n", "encode+decode / two memcpy of 4 MiB",
        (t["BM_EncodeUI1Array4MiB"] + t["BM_DecodeUI1Array4MiB"]) / (2 * t["BM_Memcpy4MiB"]));
  ratio("no-argument call / bare 8-byte socket ping-pong", "BM_NoArgCallRoundTrip/real_time",
        "BM_SocketPingPong/real_time", 1);
  if (t.count("BM_NoArgCallRoundTrip/real_time"))
    std::printf("%-48s %.0f\n", "no-argument calls per second",
                1e9 / t["BM_NoArgCallRoundTrip/real_time"]);
  benchmark::Shutdown();
  return 0;
}
