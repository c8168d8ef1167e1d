#pragma once
// The transport thread of a connection with callbacks, and the two
// mailboxes it talks through (they stand for thread messages and the hidden
// connection window).
//
// Message ids keep their classic values: 0x401 send a block (wParam 1 when a
// reply is awaited), 0x402 a block was received, 0x403 a transport error,
// 0x404 a send without reply is done, 0x400 wake-up. Blocks and exceptions
// travel inside the messages; the mailbox owns them until taken.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/EventFd.h"
#include "remote/DataBlock.h"
#include "remote/SocketTransport.h"

namespace quor::remote {

inline constexpr std::uint32_t MsgWakeUp = 0x400;
inline constexpr std::uint32_t MsgSendBlock = 0x401;
inline constexpr std::uint32_t MsgBlockReceived = 0x402;
inline constexpr std::uint32_t MsgTransportError = 0x403;
inline constexpr std::uint32_t MsgSendDone = 0x404;

// How long closing waits for a transport thread that still runs.
inline constexpr int kCloseWaitMs = 180000;

struct TransportMessage {
  std::uint32_t id = 0;
  std::uint32_t wParam = 0;
  Ref<IDataBlock> block;
  std::exception_ptr error;
};

class TransportThread;

// The GUI side's mailbox (the connection window). The transport thread
// posts into it from its thread; the GUI thread takes messages, either in a
// filtered wait or from the task that Post hands to the notify hook.
class ConnectionWindow {
 public:
  // `notify` is called (from the posting thread) after every post, so that
  // the GUI loop schedules a look at the mailbox; `ended` when a thread ends.
  ConnectionWindow(std::function<void()> notify, std::function<void(const void*)> ended);

  void Post(TransportMessage message);
  // The first message with one of the ids; waits while none is there. None
  // when the thread `source` has ended (or ends) with no such message left.
  std::optional<TransportMessage> WaitFor(std::initializer_list<std::uint32_t> ids,
                                          const void* source);
  // The first message with one of the ids, without waiting.
  std::optional<TransportMessage> TakeFirst(std::initializer_list<std::uint32_t> ids);
  void Clear();
  // Called by a thread as it ends; `source` identifies it.
  void ThreadEnded(const void* source);
  // Stops all later notices (the connection is going away).
  void Detach();

 private:
  std::optional<TransportMessage> TakeLocked(std::initializer_list<std::uint32_t> ids);

  // Guarded by mutex_.
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<TransportMessage> queue_;
  const void* endedSource_ = nullptr;
  std::function<void()> notify_;
  std::function<void(const void*)> ended_;
};

// Runs the transport: connects it, then reads whatever the peer sends and
// writes what the GUI thread hands over, until told to end or the transport
// is no longer connected. While replies are awaited, ReplyTimeout of
// silence ends the wait with "Expected return value not received".
class TransportThread {
 public:
  TransportThread(std::shared_ptr<ConnectionWindow> window, Ref<SocketTransport> transport);
  // Tells the thread to end and waits for it (bounded; a thread that does
  // not end in time is left to finish on its own).
  ~TransportThread();
  TransportThread(const TransportThread&) = delete;
  TransportThread& operator=(const TransportThread&) = delete;

  // Starts the thread and returns once its mailbox is ready (the socket may
  // still be connecting).
  void Start();
  void PostMessage(TransportMessage message);
  // Tells the thread to end and posts the wake-up; then waits up to
  // `timeoutMs` for it to finish. True when it finished.
  bool Terminate(int timeoutMs);
  // The identity the thread reports to ConnectionWindow::ThreadEnded.
  const void* Identity() const { return state_.get(); }
  bool Finished() const;

 private:
  struct State;
  static void Run(std::shared_ptr<State> state);

  std::shared_ptr<State> state_;
  std::thread thread_;
};

}  // namespace quor::remote
