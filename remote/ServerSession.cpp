#include "remote/ServerSession.h"

#include <poll.h>

#include "remote/ClassRegistry.h"
#include "remote/Errors.h"

namespace quor::remote {

ServerSession::ServerSession(platform::TcpSocket socket, const ClassRegistry& registry,
                             std::string registryFlag)
    : transport_(SocketTransport::FromConnectedSocket(std::move(socket), &registry)),
      interpreter_(std::make_unique<DataBlockInterpreter>(static_cast<ISendDataBlock&>(*this),
                                                          std::move(registryFlag), &registry)) {
  transport_->SetCancelEvent(stop_.Fd());
}

ServerSession::~ServerSession() {
  interpreter_.reset();  // objects handed to the terminal go with the session
  try {
    transport_->SetConnected(false);
  } catch (const std::exception&) {
  }
}

void ServerSession::Stop() {
  stopped_ = true;
  stop_.Signal();
}

std::string ServerSession::Run() {
  while (!stopped_ && transport_->Connected()) {
    int err = 0;
    // Between requests the terminal may stay quiet for hours.
    const platform::WaitResult wait =
        platform::WaitFd(transport_->WaitEvent(), POLLIN, -1, stop_.Fd(), err);
    if (wait == platform::WaitResult::kCancelled) break;
    if (wait == platform::WaitResult::kError) return platform::NetErrorText(err);
    try {
      Ref<IDataBlock> block = transport_->Receive(false, 0);
      if (!block) continue;
      try {
        interpreter_->HandleBlock(block);
      } catch (const ESocketConnectionError&) {
        throw;
      } catch (const ESocketError&) {
        throw;
      } catch (const Exception&) {
        // An error block the terminal sent unasked: nothing waits for it.
      }
    } catch (const ESocketConnectionError& e) {
      // The terminal closing between requests is the normal end of a session.
      const std::string text = e.what();
      return stopped_ || text == "Error reading from socket" ? "" : text;
    } catch (const std::exception& e) {
      return stopped_ ? "" : e.what();
    }
  }
  return "";
}

Ref<IDataBlock> ServerSession::Send(const Ref<IDataBlock>& block, bool waitForResult) {
  const std::int32_t context = transport_->Send(block);
  if (!waitForResult) return nullptr;
  for (;;) {
    Ref<IDataBlock> reply = transport_->Receive(true, context);
    if (!IsReplySignature(reply->Signature())) {
      interpreter_->HandleBlock(reply);  // the terminal asks before it answers
      continue;
    }
    if (ActionOf(reply->Signature()) == ActionError) interpreter_->HandleBlock(reply);
    return reply;
  }
}

}  // namespace quor::remote
