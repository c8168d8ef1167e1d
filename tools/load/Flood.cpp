// Hostile connections: one machine trying to take the server's places (idle
// sessions, half headers, trickled blocks, big announced blocks), or its
// memory and time (the costliest statements one can send).

#include <poll.h>

#include <chrono>
#include <cstring>
#include <functional>

#include "Load.h"
#include "platform/Socket.h"
#include "remote/Remote.h"

namespace quor::load {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The statements that cost a server most, by what they try to take.
const std::vector<std::u16string>& CostlyStatements(bool mariadb) {
  static const std::vector<std::u16string> sqlite = {
      u"select printf('%.*c', 400000000, 'x')",                // a huge string
      u"select length(randomblob(900000000))",                 // a huge blob
      u"select zeroblob(900000000)",                           // a huge blob, answered
      u"select * from vodinfo a, vodinfo b",                   // a cross join's rows
      u"select * from vodinfo order by random()",              // the whole catalogue, sorted
      u"select group_concat(SINGNAME || PATH1) from vodinfo",  // a long aggregate
      u"with recursive c(x) as (select 1 union all select x + 1 from c) select x from c",
      u"with recursive c(x) as (select 1 union all select x + 1 from c) select count(*) from c",
      u"select a.SINGNAME, b.PATH1 from vodinfo a, vodinfo b order by random() limit 10",
  };
  static const std::vector<std::u16string> mysql = {
      u"select repeat('x', 400000000)",
      u"select length(repeat('x', 900000000))",
      u"select * from vodinfo a, vodinfo b",
      u"select * from vodinfo order by rand()",
      u"select group_concat(SINGNAME, PATH1) from vodinfo",
      u"with recursive c(x) as (select 1 union all select x + 1 from c) select x from c",
      u"with recursive c(x) as (select 1 union all select x + 1 from c) select count(*) from c",
      u"select a.SINGNAME, b.PATH1 from vodinfo a, vodinfo b order by rand() limit 10",
      // the cross join again, under its own time limit and memory bound
      u"set statement max_statement_time=0, max_session_mem_used=9223372036854775807 for "
      u"select a.SINGNAME, b.PATH1 from vodinfo a, vodinfo b order by rand() limit 10",
  };
  return mariadb ? mysql : sqlite;
}

std::vector<std::uint8_t> Header(std::int32_t signature, std::int32_t size) {
  std::vector<std::uint8_t> h(8);
  std::memcpy(h.data(), &signature, 4);
  std::memcpy(h.data() + 4, &size, 4);
  return h;
}

// The create-object request a terminal sends first: the server class by its
// program id, as a UTF-16 string variant.
std::vector<std::uint8_t> CreateObjectRequest() {
  const std::u16string name = u"Lyrahub.DM";
  std::vector<std::uint8_t> block = Header(remote::CallMark | remote::ActionCreateObject,
                                           static_cast<std::int32_t>(8 + name.size() * 2));
  const std::int32_t words[2] = {remote::VT_BSTR, static_cast<std::int32_t>(name.size())};
  block.insert(block.end(), reinterpret_cast<const std::uint8_t*>(words),
               reinterpret_cast<const std::uint8_t*>(words) + 8);
  block.insert(block.end(), reinterpret_cast<const std::uint8_t*>(name.data()),
               reinterpret_cast<const std::uint8_t*>(name.data()) + name.size() * 2);
  return block;
}

class NoLoop final : public remote::MessageLoop {
 public:
  void Post(std::function<void()>) override {}
  void ReportError(const std::exception&) override {}
};

}  // namespace

std::optional<FloodKind> ParseFloodKind(const std::string& text) {
  for (FloodKind k : {FloodKind::kIdle, FloodKind::kHalf, FloodKind::kTrickle,
                      FloodKind::kBigHeader, FloodKind::kCostly})
    if (text == FloodName(k)) return k;
  return std::nullopt;
}

const char* FloodName(FloodKind kind) {
  switch (kind) {
    case FloodKind::kIdle:
      return "idle";
    case FloodKind::kHalf:
      return "half-header";
    case FloodKind::kTrickle:
      return "trickle";
    case FloodKind::kBigHeader:
      return "big-header";
    case FloodKind::kCostly:
      return "costly";
  }
  return "?";
}

struct Flood::Impl {
  FloodKind kind;
  int connections;
  int sources;
  std::string firstSource;
  std::string host;
  std::uint16_t port;
  bool mariadb;
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  std::atomic<long> opened{0}, closed{0}, answered{0}, failed{0};

  // Raw connections, all on one thread: opened, fed as their kind says,
  // opened again once the server closes them.
  void RunRaw() {
    struct Conn {
      platform::TcpSocket socket;
      Clock::time_point retryAt{};
      Clock::time_point lastByte{};
    };
    std::vector<Conn> conns(static_cast<std::size_t>(connections));
    const std::uint32_t server = platform::DottedToIPv4(host);
    const std::vector<std::uint8_t> create = CreateObjectRequest();
    std::vector<platform::WaitItem> items;
    std::uint8_t buf[4096];
    while (!stop) {
      const auto now = Clock::now();
      for (std::size_t i = 0; i < conns.size() && !stop; ++i) {
        Conn& c = conns[i];
        if (!c.socket.Valid() && now >= c.retryAt) {
          platform::TcpSocket s;
          const std::string source = NthAddress(firstSource, static_cast<int>(i) % sources);
          if (s.Create() != 0 || s.BindLocal(platform::DottedToIPv4(source)) != 0 ||
              s.Connect(server, port, 1000, -1) != 0) {
            c.retryAt = now + 100ms;
            continue;
          }
          ++opened;
          int err = 0;
          switch (kind) {
            case FloodKind::kIdle:
              s.SendSome(create.data(), create.size(), err);
              break;
            case FloodKind::kHalf:
              s.SendSome(create.data(), 3, err);
              break;
            case FloodKind::kTrickle: {
              const auto h = Header(remote::CallMark | remote::ActionInvoke, 1000);
              s.SendSome(h.data(), h.size(), err);
              break;
            }
            case FloodKind::kBigHeader: {
              auto h = Header(remote::CallMark | remote::ActionInvoke, 1000000);
              h.resize(h.size() + 16, 0x41);
              s.SendSome(h.data(), h.size(), err);
              break;
            }
            case FloodKind::kCostly:
              break;
          }
          c.socket = std::move(s);
          c.lastByte = now;
        } else if (c.socket.Valid() && kind == FloodKind::kTrickle && now - c.lastByte >= 1s) {
          int err = 0;
          const std::uint8_t one = 0x41;
          c.socket.SendSome(&one, 1, err);
          c.lastByte = now;
        }
      }
      items.clear();
      for (Conn& c : conns) items.push_back({c.socket.Fd(), POLLIN, false});
      int err = 0;
      if (platform::WaitFd(items, 100, -1, err) != platform::WaitResult::kReady) continue;
      for (std::size_t i = 0; i < conns.size(); ++i) {
        if (!items[i].ready || !conns[i].socket.Valid()) continue;
        const ssize_t n = conns[i].socket.RecvSome(buf, sizeof buf, err);
        if (n > 0 || (n < 0 && err == EAGAIN)) continue;  // an answer, or nothing after all
        conns[i].socket.Close();
        conns[i].retryAt = Clock::now() + 100ms;
        ++closed;
      }
    }
  }

  // One client connection sending the costliest statements in turn.
  void RunCostly(int index) {
    const auto& statements = CostlyStatements(mariadb);
    std::size_t next = static_cast<std::size_t>(index);
    NoLoop loop;
    while (!stop) {
      try {
        remote::SocketConnection connection(loop);
        connection.SetSupportCallbacks(false);
        connection.SetHost(host);
        connection.SetPort(port);
        connection.SetSourceAddress(NthAddress(firstSource, index % sources));
        connection.SetReplyTimeout(120000);
        connection.SetServerName("Lyrahub.DM");
        connection.SetConnected(true);
        ++opened;
        remote::Ref<remote::IAppServer> app = connection.ServerInterface();
        while (!stop) {
          const std::u16string& sql = statements[next++ % statements.size()];
          std::int32_t recsOut = 0;
          remote::Variant params = remote::Variant::Null(), owner, packet;
          const remote::HRESULT hr = app->AS_GetRecords(u"songDataSetProvider", -1, recsOut, 1, sql,
                                                        params, owner, packet);
          (void)remote::TakeErrorInfo();
          ++(remote::Failed(hr) ? failed : answered);
          if (!connection.Connected()) break;
        }
      } catch (const std::exception&) {
        ++closed;
        for (int i = 0; i < 2 && !stop; ++i) std::this_thread::sleep_for(50ms);
      }
    }
  }
};

Flood::Flood(FloodKind kind, int connections, int sources, std::string firstSource,
             std::string host, std::uint16_t port, bool mariadb)
    : impl_(std::make_unique<Impl>()) {
  impl_->kind = kind;
  impl_->connections = connections;
  impl_->sources = std::max(1, sources);
  impl_->firstSource = std::move(firstSource);
  impl_->host = std::move(host);
  impl_->port = port;
  impl_->mariadb = mariadb;
}

Flood::~Flood() {
  Stop();
}

void Flood::Start() {
  if (impl_->kind == FloodKind::kCostly) {
    for (int i = 0; i < impl_->connections; ++i)
      impl_->threads.emplace_back([this, i] { impl_->RunCostly(i); });
  } else {
    impl_->threads.emplace_back([this] { impl_->RunRaw(); });
  }
}

void Flood::Stop() {
  impl_->stop = true;
  for (std::thread& t : impl_->threads)
    if (t.joinable()) t.join();
  impl_->threads.clear();
}

Flood::Counts Flood::Tally() const {
  return Counts{impl_->opened, impl_->closed, impl_->answered, impl_->failed};
}

}  // namespace quor::load
