#pragma once
// The connection to the application server: owns the transport (on a thread
// of its own when SupportCallbacks is on) and the interpreter, asks the
// server to create the object named by ServerGUID or ServerName, and offers
// it to the client datasets as an IAppServer.
//
// Threads: every operation is for the GUI thread. With callbacks the
// transport thread alone connects, reads and writes the socket; the GUI
// thread hands it each block and waits (filtered: only the reply, an error,
// or a request of the peer, which is handled and answered before the reply).
// Blocks that arrive while nobody waits reach HandleBlock on the GUI thread
// through the MessageLoop's Post hook.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Guid.h"
#include "remote/AppServer.h"
#include "remote/DataBlock.h"
#include "remote/DataBlockInterpreter.h"
#include "remote/MessageLoop.h"
#include "remote/SocketTransport.h"

namespace quor::remote {

class ClassRegistry;
class ConnectionWindow;
class TransportThread;
class SocketConnection;

// Something attached to the connection (a client dataset): told, in the
// order of registration, after the connection is up and before it goes down.
class ConnectionClient {
 public:
  virtual void ConnectionOpened(SocketConnection& connection) = 0;
  virtual void ConnectionClosing(SocketConnection& connection) = 0;

 protected:
  ~ConnectionClient() = default;
};

class SocketConnection final : private ISendDataBlock {
 public:
  // `loop` must outlive the connection; `registry` (may be null) resolves
  // program ids and creates the interceptor and the objects a peer asks for.
  explicit SocketConnection(MessageLoop& loop, const ClassRegistry* registry = nullptr,
                            std::string name = "SocketConnection");
  ~SocketConnection();
  SocketConnection(const SocketConnection&) = delete;
  SocketConnection& operator=(const SocketConnection&) = delete;

  const std::string& Name() const { return name_; }

  // Setting a non-empty Address clears Host and the other way round; the
  // change takes effect at the next connect.
  const std::string& Address() const { return address_; }
  void SetAddress(const std::string& address);
  const std::string& Host() const { return host_; }
  void SetHost(const std::string& host);
  std::int32_t Port() const { return port_; }
  void SetPort(std::int32_t port) { port_ = port; }

  // GUID texts ("" or the braced form); a text that is no GUID raises.
  std::string InterceptGUID() const;
  void SetInterceptGUID(const std::string& text);
  const std::string& InterceptName() const { return interceptName_; }
  void SetInterceptName(const std::string& name);
  std::string ServerGUID() const;
  void SetServerGUID(const std::string& text);
  const std::string& ServerName() const { return serverName_; }
  void SetServerName(const std::string& name);
  bool SupportCallbacks() const { return supportCallbacks_; }
  void SetSupportCallbacks(bool value);
  // Silence (ms) after which an awaited reply is given up; 0 = wait forever.
  int ReplyTimeout() const { return replyTimeout_; }
  void SetReplyTimeout(int ms) { replyTimeout_ = ms; }
  // The local address (dotted) the connection leaves from; "" (the default)
  // lets the system choose. A load tool plays many rooms from one machine.
  const std::string& SourceAddress() const { return sourceAddress_; }
  void SetSourceAddress(const std::string& address) { sourceAddress_ = address; }

  // While loading the stored settings, the GUID and name setters neither
  // disconnect nor look each other up.
  void SetLoading(bool loading) { loading_ = loading; }

  bool Connected() const;
  void SetConnected(bool value);

  // The server object (a proxy), empty when not connected.
  const Variant& AppServer() const { return appServer_; }
  // Connects if needed and returns the server object as IAppServer.
  Ref<IAppServer> ServerInterface();
  // The server's list of application servers (null or an array of names);
  // opens the transport just for it when not connected.
  Variant ServerList();

  void RegisterClient(ConnectionClient* client);
  void UnregisterClient(ConnectionClient* client);

  std::function<void()> BeforeConnect;
  std::function<void()> AfterConnect;
  std::function<void()> BeforeDisconnect;
  std::function<void()> AfterDisconnect;

  DataBlockInterpreter& Interpreter();
  bool HasTransportThread() const { return thread_ != nullptr; }

 private:
  Ref<IDataBlock> Send(const Ref<IDataBlock>& block, bool waitForResult) override;
  void DoConnect();
  void DoDisconnect();
  Ref<SocketTransport> CreateTransport();
  void OpenTransport();
  void CloseTransport();
  void DispatchWindow();
  void TransportEnded(const void* source);
  void GuardedCall(const std::function<void()>& action);

  MessageLoop& loop_;
  const ClassRegistry* registry_;
  std::string name_;
  std::string address_;
  std::string host_;
  std::int32_t port_ = 211;
  platform::Guid interceptGuid_;
  std::string interceptName_;
  platform::Guid serverGuid_;
  std::string serverName_;
  bool supportCallbacks_ = true;
  int replyTimeout_ = kDefaultReplyTimeout;
  std::string sourceAddress_;
  bool loading_ = false;
  bool connecting_ = false;

  std::unique_ptr<DataBlockInterpreter> interpreter_;
  std::shared_ptr<ConnectionWindow> window_;
  std::unique_ptr<TransportThread> thread_;
  Ref<SocketTransport> transport_;  // without callbacks
  Variant appServer_;
  std::vector<ConnectionClient*> clients_;
  // Tasks posted to the loop hold this; they do nothing once it is gone.
  std::shared_ptr<SocketConnection*> alive_;
};

}  // namespace quor::remote
