#pragma once
// Helpers shared by the remote tests: a byte builder for hand-written wire
// images, a recording block sender, a pumpable message loop, a test object
// with by-reference and call-back methods, and a loopback server running real
// server sessions.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Codepage.h"
#include "remote/Remote.h"

namespace quor::remote::test {

// Little-endian byte builder.
struct Bytes {
  std::vector<std::uint8_t> v;
  Bytes& I32(std::int64_t x) {
    const auto u = static_cast<std::uint32_t>(x);
    for (int i = 0; i < 4; ++i) v.push_back(static_cast<std::uint8_t>(u >> (8 * i)));
    return *this;
  }
  Bytes& U16(std::uint16_t x) {
    v.push_back(static_cast<std::uint8_t>(x));
    v.push_back(static_cast<std::uint8_t>(x >> 8));
    return *this;
  }
  Bytes& Raw(std::initializer_list<std::uint8_t> bytes) {
    v.insert(v.end(), bytes);
    return *this;
  }
  Bytes& Text(std::u16string_view s) {  // length, then UTF-16LE units
    I32(static_cast<std::int64_t>(s.size()));
    for (char16_t c : s) U16(c);
    return *this;
  }
  Bytes& Block(std::int32_t signature, const Bytes& data) {  // a whole framed block
    I32(signature).I32(static_cast<std::int64_t>(data.v.size()));
    v.insert(v.end(), data.v.begin(), data.v.end());
    return *this;
  }
};

// The data bytes of a block (after the header).
inline std::vector<std::uint8_t> DataOf(IDataBlock& block) {
  const std::uint8_t* m = block.Memory();
  return std::vector<std::uint8_t>(m + 8, m + 8 + block.Size());
}

inline Ref<DataBlock> BlockFrom(const Bytes& whole) {
  Ref<DataBlock> b = DataBlock::Create();
  b->LoadFrom(whole.v.data(), static_cast<std::int32_t>(whole.v.size()), true);
  return b;
}

// Records every block sent and answers waiting sends with scripted replies.
class RecordingSender : public ISendDataBlock {
 public:
  Ref<IDataBlock> Send(const Ref<IDataBlock>& block, bool wait) override {
    sent.push_back(block);
    waited.push_back(wait);
    if (!wait) return nullptr;
    if (replies.empty()) return nullptr;
    Ref<IDataBlock> r = replies.front();
    replies.pop_front();
    return r;
  }
  std::vector<Ref<IDataBlock>> sent;
  std::vector<bool> waited;
  std::deque<Ref<IDataBlock>> replies;
};

// The GUI loop of the tests: tasks queue up until the test pumps them.
class TestLoop : public MessageLoop {
 public:
  void Post(std::function<void()> task) override {
    {
      const std::lock_guard lock(mutex_);
      tasks_.push_back(std::move(task));
    }
    changed_.notify_all();
  }
  void ReportError(const std::exception& e) override { errors.push_back(e.what()); }
  // Runs queued tasks until `done` holds or the time is up.
  bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      PumpOnce();
      if (done()) return true;
      std::unique_lock lock(mutex_);
      if (!changed_.wait_until(lock, end, [&] { return !tasks_.empty(); })) return done();
    }
  }
  void PumpOnce() {
    std::deque<std::function<void()>> tasks;
    {
      const std::lock_guard lock(mutex_);
      tasks.swap(tasks_);
    }
    for (auto& t : tasks) t();
  }
  std::vector<std::string> errors;

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> tasks_;
};

// A test object: methods by name, each a lambda over the arguments (last first).
class TestObject : public IDispatch {
 public:
  using Method = std::function<HRESULT(DispParams&, Variant*, ExcepInfo*)>;
  void Add(std::u16string name, std::int32_t id, Method m) {
    names_.emplace_back(std::move(name), id);
    methods_.emplace_back(id, std::move(m));
  }
  HRESULT GetTypeInfoCount(std::uint32_t& count) override {
    count = 0;
    return S_OK;
  }
  HRESULT GetIDsOfNames(const platform::Guid&, const std::u16string* names, std::uint32_t count,
                        std::uint32_t, std::int32_t* ids) override {
    for (std::uint32_t i = 0; i < count; ++i) {
      ids[i] = -1;
      for (auto& [n, id] : names_)
        if (n == names[i]) ids[i] = id;
      if (ids[i] == -1) return DISP_E_UNKNOWNNAME;
    }
    return S_OK;
  }
  HRESULT Invoke(std::int32_t dispId, const platform::Guid&, std::uint32_t, std::uint16_t,
                 DispParams& p, Variant* result, ExcepInfo* ei, std::uint32_t*) override {
    ++calls;
    for (auto& [id, m] : methods_)
      if (id == dispId) return m(p, result, ei);
    return DISP_E_MEMBERNOTFOUND;
  }
  int calls = 0;

 private:
  std::vector<std::pair<std::u16string, std::int32_t>> names_;
  std::vector<std::pair<std::int32_t, Method>> methods_;
};

inline constexpr platform::Guid kTestClass{
    0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};
inline constexpr platform::Guid kHiddenClass{
    0x99999999, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};

// A loopback server on 127.0.0.1 (a free port): every accepted connection
// runs a real ServerSession on its own thread.
class TestServer {
 public:
  explicit TestServer(const ClassRegistry& registry) : registry_(registry) {
    if (listener_.Listen("127.0.0.1", 0) != 0) throw std::runtime_error("listen failed");
    thread_ = std::thread([this] { Serve(); });
  }
  ~TestServer() {
    stop_.Signal();
    thread_.join();
  }
  std::uint16_t Port() const { return listener_.Port(); }
  int Sessions() const { return sessions_; }

 private:
  void Serve() {
    std::vector<std::thread> sessions;
    std::vector<ServerSession*> live;
    std::mutex liveMutex;
    for (;;) {
      int err = 0;
      platform::TcpSocket s = listener_.Accept(-1, stop_.Fd(), err);
      if (!s.Valid()) break;
      ++sessions_;
      sessions.emplace_back([this, sock = std::move(s), &live, &liveMutex]() mutable {
        ServerSession session(std::move(sock), registry_);
        {
          const std::lock_guard lock(liveMutex);
          live.push_back(&session);
        }
        session.Run();
        const std::lock_guard lock(liveMutex);
        live.erase(std::find(live.begin(), live.end(), &session));
      });
    }
    {
      const std::lock_guard lock(liveMutex);
      for (ServerSession* s : live) s->Stop();
    }
    for (auto& t : sessions) t.join();
  }
  const ClassRegistry& registry_;
  platform::ListenSocket listener_;
  platform::EventFd stop_;
  std::thread thread_;
  std::atomic<int> sessions_{0};
};

// Threads of this process (for "no thread left behind").
inline int ThreadCount() {
  int n = 0;
  if (FILE* f = std::fopen("/proc/self/status", "r")) {
    char line[256];
    while (std::fgets(line, sizeof line, f))
      if (std::strncmp(line, "Threads:", 8) == 0) n = std::atoi(line + 8);
    std::fclose(f);
  }
  return n;
}

}  // namespace quor::remote::test
