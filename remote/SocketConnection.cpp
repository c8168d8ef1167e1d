#include "remote/SocketConnection.h"

#include <algorithm>

#include "platform/Codepage.h"
#include "remote/ClassRegistry.h"
#include "remote/DispatchAppServer.h"
#include "remote/Errors.h"
#include "remote/TransportThread.h"

namespace quor::remote {
namespace {
constexpr char kNotReceived[] = "Expected return value not received";

platform::Guid ParseGuidText(const std::string& text) {
  if (text.empty()) return platform::Guid{};
  const std::optional<platform::Guid> id = platform::Guid::Parse(text);
  if (!id) throw Exception(Format("'%s' is not a valid GUID value", text.c_str()));
  return *id;
}
std::string GuidText(const platform::Guid& id) {
  return id.IsNull() ? "" : id.ToString();
}
}  // namespace

SocketConnection::SocketConnection(MessageLoop& loop, const ClassRegistry* registry,
                                   std::string name)
    : loop_(loop),
      registry_(registry),
      name_(std::move(name)),
      alive_(std::make_shared<SocketConnection*>(this)) {}

SocketConnection::~SocketConnection() {
  try {
    SetConnected(false);
  } catch (const std::exception&) {  // going away: nobody is left to tell
  }
  *alive_ = nullptr;
  interpreter_.reset();  // proxies still held elsewhere now send nothing
  if (window_) window_->Detach();
  try {
    CloseTransport();
  } catch (const std::exception&) {
  }
}

void SocketConnection::SetAddress(const std::string& address) {
  if (!address.empty()) host_.clear();
  address_ = address;
}

void SocketConnection::SetHost(const std::string& host) {
  if (!host.empty()) address_.clear();
  host_ = host;
}

std::string SocketConnection::InterceptGUID() const {
  return GuidText(interceptGuid_);
}

void SocketConnection::SetInterceptGUID(const std::string& text) {
  const platform::Guid id = ParseGuidText(text);
  if (!loading_) SetConnected(false);
  interceptGuid_ = id;
  if (!loading_ && registry_) {
    const std::string progId = registry_->ProgIdFromClassId(id);
    if (!progId.empty()) interceptName_ = progId;
  }
}

void SocketConnection::SetInterceptName(const std::string& name) {
  if (name == interceptName_) return;
  if (!loading_) {
    SetConnected(false);
    interceptGuid_ = registry_ ? registry_->ClassIdFromProgId(name).value_or(platform::Guid{})
                               : platform::Guid{};
  }
  interceptName_ = name;
}

std::string SocketConnection::ServerGUID() const {
  return GuidText(serverGuid_);
}

void SocketConnection::SetServerGUID(const std::string& text) {
  const platform::Guid id = ParseGuidText(text);
  if (!loading_) SetConnected(false);
  serverGuid_ = id;
  if (!loading_ && registry_) {
    const std::string progId = registry_->ProgIdFromClassId(id);
    if (!progId.empty()) serverName_ = progId;
  }
}

void SocketConnection::SetServerName(const std::string& name) {
  if (name == serverName_) return;
  if (!loading_) {
    SetConnected(false);
    serverGuid_ = registry_ ? registry_->ClassIdFromProgId(name).value_or(platform::Guid{})
                            : platform::Guid{};
  }
  serverName_ = name;
}

void SocketConnection::SetSupportCallbacks(bool value) {
  SetConnected(false);
  supportCallbacks_ = value;
}

bool SocketConnection::Connected() const {
  return appServer_.Type() == VT_DISPATCH && appServer_.AsDispatch();
}

DataBlockInterpreter& SocketConnection::Interpreter() {
  if (!interpreter_)
    interpreter_ = std::make_unique<DataBlockInterpreter>(static_cast<ISendDataBlock&>(*this),
                                                          "Sockets", registry_);
  return *interpreter_;
}

void SocketConnection::SetConnected(bool value) {
  if (value == Connected() || connecting_) return;
  if (value) {
    if (BeforeConnect) BeforeConnect();
    connecting_ = true;
    try {
      DoConnect();
    } catch (...) {
      connecting_ = false;
      throw;
    }
    connecting_ = false;
    for (ConnectionClient* client : std::vector<ConnectionClient*>(clients_))
      client->ConnectionOpened(*this);
    if (AfterConnect) AfterConnect();
  } else {
    if (BeforeDisconnect) BeforeDisconnect();
    for (ConnectionClient* client : std::vector<ConnectionClient*>(clients_))
      client->ConnectionClosing(*this);
    DoDisconnect();
    if (AfterDisconnect) AfterDisconnect();
  }
}

void SocketConnection::DoConnect() {
  const std::string serverId = !serverGuid_.IsNull() ? serverGuid_.ToString() : serverName_;
  if (serverId.empty())
    throw Exception(
        Format("Cannot connect, %s must contain a valid ServerName or ServerGUID", name_.c_str()));
  try {
    OpenTransport();
    appServer_ = Interpreter().RemoteCreateObject(platform::Utf8ToUtf16(serverId));
  } catch (...) {
    appServer_ = Variant();
    CloseTransport();
    throw;
  }
}

void SocketConnection::DoDisconnect() {
  // The proxy's last reference sends RemoteFreeObject (no reply awaited).
  appServer_ = Variant();
  CloseTransport();
}

Ref<SocketTransport> SocketConnection::CreateTransport() {
  if (address_.empty() && host_.empty()) throw ESocketConnectionError("No address specified");
  Ref<SocketTransport> transport(new SocketTransport(registry_));
  transport->SetHost(host_);
  transport->SetAddress(address_);
  transport->SetPort(port_);
  transport->SetInterceptGUID(GuidText(interceptGuid_));
  transport->SetReplyTimeout(replyTimeout_);
  transport->SetSourceAddress(sourceAddress_);
  return transport;
}

void SocketConnection::OpenTransport() {
  Ref<SocketTransport> transport = CreateTransport();
  if (!supportCallbacks_) {
    transport->SetConnected(true);
    transport_ = std::move(transport);
    return;
  }
  if (!window_) {
    std::weak_ptr<SocketConnection*> alive = alive_;
    MessageLoop* loop = &loop_;
    window_ = std::make_shared<ConnectionWindow>(
        [loop, alive] {
          loop->Post([alive] {
            if (auto self = alive.lock(); self && *self) (*self)->DispatchWindow();
          });
        },
        [loop, alive](const void* source) {
          loop->Post([alive, source] {
            if (auto self = alive.lock(); self && *self) (*self)->TransportEnded(source);
          });
        });
  }
  window_->Clear();
  thread_ = std::make_unique<TransportThread>(window_, std::move(transport));
  thread_->Start();
}

void SocketConnection::CloseTransport() {
  if (std::unique_ptr<TransportThread> thread = std::move(thread_)) {
    // Ends it and waits (bounded); one still busy then is left to end by itself.
    thread.reset();
    if (window_) window_->Clear();
  }
  if (Ref<SocketTransport> transport = std::move(transport_)) transport->SetConnected(false);
}

Ref<IDataBlock> SocketConnection::Send(const Ref<IDataBlock>& block, bool waitForResult) {
  Ref<IDataBlock> result;
  if (supportCallbacks_) {
    if (!thread_) return nullptr;
    const void* source = thread_->Identity();
    thread_->PostMessage({MsgSendBlock, waitForResult ? 1u : 0u, block, nullptr});
    if (!waitForResult) {
      // A failed send answers with the error instead of the done notice.
      std::optional<TransportMessage> m =
          window_->WaitFor({MsgSendDone, MsgTransportError}, source);
      if (!m) throw Exception(kNotReceived);
      if (m->id == MsgTransportError) std::rethrow_exception(m->error);
      return nullptr;
    }
    for (;;) {
      std::optional<TransportMessage> m =
          window_->WaitFor({MsgBlockReceived, MsgTransportError}, source);
      if (!m) throw Exception(kNotReceived);
      if (m->id == MsgTransportError) std::rethrow_exception(m->error);
      if (IsReplySignature(m->block->Signature())) {
        result = std::move(m->block);
        break;
      }
      Interpreter().HandleBlock(m->block);  // the peer calls back before it answers
    }
  } else {
    if (!transport_) return nullptr;
    const std::int32_t context = transport_->Send(block);
    if (!waitForResult) return nullptr;  // a block read here would be lost to its handler
    for (;;) {
      result = transport_->Receive(true, context);
      if (IsReplySignature(result->Signature())) break;
      Interpreter().HandleBlock(result);
    }
  }
  if (result && ActionOf(result->Signature()) == ActionError) Interpreter().HandleBlock(result);
  return result;
}

void SocketConnection::GuardedCall(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& e) {
    loop_.ReportError(e);
  } catch (...) {
    loop_.ReportError(Exception("Unknown error"));
  }
}

void SocketConnection::DispatchWindow() {
  if (!window_) return;
  while (std::optional<TransportMessage> m =
             window_->TakeFirst({MsgBlockReceived, MsgTransportError})) {
    GuardedCall([&] {
      if (m->id == MsgTransportError) std::rethrow_exception(m->error);
      Interpreter().HandleBlock(m->block);
    });
  }
}

void SocketConnection::TransportEnded(const void* source) {
  if (!thread_ || thread_->Identity() != source) return;  // a thread closed on purpose
  GuardedCall([&] {
    thread_.reset();  // finished: the join is immediate
    SetConnected(false);
  });
}

Variant SocketConnection::ServerList() {
  if (Connected()) return Interpreter().RemoteServerList();
  OpenTransport();
  try {
    Variant list = Interpreter().RemoteServerList();
    CloseTransport();
    return list;
  } catch (...) {
    CloseTransport();
    throw;
  }
}

Ref<IAppServer> SocketConnection::ServerInterface() {
  SetConnected(true);
  Ref<IDispatch> dispatch = Connected() ? appServer_.AsDispatch() : nullptr;
  if (!dispatch) throw EOleSysError(HResultText(E_NOINTERFACE), E_NOINTERFACE);
  if (Ref<IAppServer> app = QueryInterface<IAppServer>(dispatch)) return app;
  return Ref<IAppServer>(new DispatchAppServer(std::move(dispatch)));
}

void SocketConnection::RegisterClient(ConnectionClient* client) {
  if (client && std::find(clients_.begin(), clients_.end(), client) == clients_.end())
    clients_.push_back(client);
}

void SocketConnection::UnregisterClient(ConnectionClient* client) {
  clients_.erase(std::remove(clients_.begin(), clients_.end(), client), clients_.end());
}

}  // namespace quor::remote
