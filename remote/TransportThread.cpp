#include "remote/TransportThread.h"

#include <poll.h>

#include <atomic>
#include <chrono>
#include <future>

#include "platform/Socket.h"
#include "platform/Ticks.h"
#include "remote/Errors.h"

namespace quor::remote {

ConnectionWindow::ConnectionWindow(std::function<void()> notify,
                                   std::function<void(const void*)> ended)
    : notify_(std::move(notify)), ended_(std::move(ended)) {}

void ConnectionWindow::Post(TransportMessage message) {
  std::function<void()> notify;
  {
    const std::lock_guard lock(mutex_);
    queue_.push_back(std::move(message));
    notify = notify_;
  }
  changed_.notify_all();
  if (notify) notify();
}

std::optional<TransportMessage> ConnectionWindow::TakeLocked(
    std::initializer_list<std::uint32_t> ids) {
  for (auto it = queue_.begin(); it != queue_.end(); ++it) {
    for (std::uint32_t id : ids) {
      if (it->id == id) {
        TransportMessage m = std::move(*it);
        queue_.erase(it);
        return m;
      }
    }
  }
  return std::nullopt;
}

std::optional<TransportMessage> ConnectionWindow::WaitFor(std::initializer_list<std::uint32_t> ids,
                                                          const void* source) {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (std::optional<TransportMessage> m = TakeLocked(ids)) return m;
    if (endedSource_ == source) return std::nullopt;
    changed_.wait(lock);
  }
}

std::optional<TransportMessage> ConnectionWindow::TakeFirst(
    std::initializer_list<std::uint32_t> ids) {
  const std::lock_guard lock(mutex_);
  return TakeLocked(ids);
}

void ConnectionWindow::Clear() {
  std::deque<TransportMessage> dropped;
  const std::lock_guard lock(mutex_);
  dropped.swap(queue_);    // freed after the lock is released
  endedSource_ = nullptr;  // the next thread may live where the last one did
}

void ConnectionWindow::ThreadEnded(const void* source) {
  std::function<void(const void*)> ended;
  {
    const std::lock_guard lock(mutex_);
    endedSource_ = source;
    ended = ended_;
  }
  changed_.notify_all();
  if (ended) ended(source);
}

void ConnectionWindow::Detach() {
  const std::lock_guard lock(mutex_);
  notify_ = nullptr;
  ended_ = nullptr;
}

struct TransportThread::State {
  std::shared_ptr<ConnectionWindow> window;
  Ref<SocketTransport> transport;
  platform::EventFd mailboxEvent;
  platform::EventFd stopEvent;
  std::promise<void> started;  // the semaphore: released once the thread runs
  std::atomic<bool> stop{false};

  // Guarded by mutex.
  std::mutex mutex;
  std::condition_variable finishedChanged;
  std::deque<TransportMessage> mailbox;
  bool finished = false;

  std::deque<TransportMessage> TakeAll() {
    std::deque<TransportMessage> all;
    const std::lock_guard lock(mutex);
    all.swap(mailbox);
    mailboxEvent.Reset();
    return all;
  }
};

TransportThread::TransportThread(std::shared_ptr<ConnectionWindow> window,
                                 Ref<SocketTransport> transport)
    : state_(std::make_shared<State>()) {
  state_->window = std::move(window);
  state_->transport = std::move(transport);
  state_->transport->SetCancelEvent(state_->stopEvent.Fd());
}

TransportThread::~TransportThread() {
  if (thread_.joinable()) {
    if (Terminate(kCloseWaitMs)) {
      thread_.join();
    } else {
      thread_.detach();  // it holds its own state and ends by itself
    }
  }
}

void TransportThread::Start() {
  std::future<void> started = state_->started.get_future();
  thread_ = std::thread(&TransportThread::Run, state_);
  started.wait();
}

void TransportThread::PostMessage(TransportMessage message) {
  {
    const std::lock_guard lock(state_->mutex);
    state_->mailbox.push_back(std::move(message));
  }
  state_->mailboxEvent.Signal();
}

bool TransportThread::Terminate(int timeoutMs) {
  state_->stop = true;
  state_->stopEvent.Signal();
  PostMessage({MsgWakeUp, 0, nullptr, nullptr});
  std::unique_lock lock(state_->mutex);
  return state_->finishedChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                          [&] { return state_->finished; });
}

bool TransportThread::Finished() const {
  const std::lock_guard lock(state_->mutex);
  return state_->finished;
}

void TransportThread::Run(std::shared_ptr<State> s) {
  s->started.set_value();
  ConnectionWindow& window = *s->window;
  SocketTransport& transport = *s->transport;
  auto report = [&](std::exception_ptr error, bool connectionError) {
    if (connectionError) {
      try {
        transport.SetConnected(false);
      } catch (const std::exception&) {  // already failing; the first error is the one to tell
      }
    }
    window.Post({MsgTransportError, 0, nullptr, std::move(error)});
  };
  // Replies the GUI thread still waits for, requests of the peer that the
  // GUI thread has not answered yet, and when the peer was last heard. The
  // peer's silence counts only while a reply is awaited and the peer is not
  // itself waiting for an answer of ours.
  int awaitedReplies = 0;
  int peerRequests = 0;
  std::uint32_t lastHeard = platform::TickCount();
  auto deliver = [&](Ref<IDataBlock> block) {
    lastHeard = platform::TickCount();
    const std::int32_t signature = block->Signature();
    if (IsReplySignature(signature)) {
      if (awaitedReplies > 0) --awaitedReplies;
    } else if (ActionOf(signature) != ActionFreeObject) {
      ++peerRequests;  // a free-object request is never answered
    }
    window.Post({MsgBlockReceived, 0, std::move(block), nullptr});
  };
  try {
    transport.SetConnected(true);
    const int event = transport.WaitEvent();
    while (!s->stop && transport.Connected()) {
      platform::WaitItem fds[2] = {{event, POLLIN, false}, {s->mailboxEvent.Fd(), POLLIN, false}};
      const int limit = transport.ReplyTimeout();
      int timeout = -1;
      if (awaitedReplies > 0 && peerRequests == 0 && limit > 0) {
        const std::uint32_t quiet = platform::TicksSince(lastHeard);
        timeout = quiet >= static_cast<std::uint32_t>(limit) ? 0 : limit - static_cast<int>(quiet);
      }
      int err = 0;
      const platform::WaitResult woke = platform::WaitFd(fds, timeout, s->stopEvent.Fd(), err);
      if (woke == platform::WaitResult::kCancelled) break;  // told to end
      try {
        // A wait that fails (a signal is waited through) would fail again at
        // once: the transport ends instead of spinning.
        if (woke == platform::WaitResult::kError)
          throw ESocketConnectionError(platform::NetErrorText(err));
        if (woke == platform::WaitResult::kTimeout)  // the peer kept silent for ReplyTimeout
          throw ESocketConnectionError("Expected return value not received");
        if (fds[0].ready) {
          if (Ref<IDataBlock> block = transport.Receive(false, 0)) deliver(std::move(block));
        }
        if (fds[1].ready) {
          for (TransportMessage& m : s->TakeAll()) {
            if (m.id != MsgSendBlock) continue;  // the wake-up: nothing to do
            if (m.block && IsReplySignature(m.block->Signature()) && peerRequests > 0)
              --peerRequests;
            lastHeard = platform::TickCount();
            const std::int32_t context = transport.Send(m.block);
            m.block.reset();
            if (m.wParam == 1) {
              ++awaitedReplies;
              deliver(transport.Receive(true, context));
            } else {
              window.Post({MsgSendDone, 0, nullptr, nullptr});
            }
          }
        }
      } catch (const ESocketConnectionError&) {
        report(std::current_exception(), true);
      } catch (...) {
        report(std::current_exception(), false);
      }
    }
  } catch (const ESocketConnectionError&) {
    report(std::current_exception(), true);
  } catch (...) {
    report(std::current_exception(), false);
  }
  try {
    transport.SetConnected(false);
  } catch (const std::exception&) {  // nothing is left to tell
  }
  s->transport.reset();
  {
    const std::lock_guard lock(s->mutex);
    s->finished = true;
  }
  s->finishedChanged.notify_all();
  window.ThreadEnded(s.get());
}

}  // namespace quor::remote
