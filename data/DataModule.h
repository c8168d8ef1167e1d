#pragma once
// The data module: the terminal's one link to the application server and
// the four client datasets through which every catalogue row reaches the
// screen and the room request reaches the server. It only owns, names and
// wires its five components; the window reaches them through DM() by name.
//
// Threads: the GUI thread only (the thread whose MessageLoop is passed in).

#include <functional>
#include <memory>
#include <string>

#include "data/ClientDataSet.h"
#include "remote/SocketConnection.h"

namespace quor::data {

inline constexpr char kServerGUID[] = "{6EE68EED-0503-48A7-8626-C11D1330E902}";
inline constexpr char kServerName[] = "Lyrahub.DM";

// The stored song layout of songClientDataSet and playClientDataSet. It
// describes the provider's default layout and binds nothing: every opening
// rebuilds the fields from the packet.
std::vector<FieldDef> SongLayout();

class DataModule {
 public:
  // Creates the five components in member order, gives them their stored
  // settings and then points every dataset at SocketConnection. Nothing
  // connects and nothing opens. `loop` must outlive the module.
  explicit DataModule(remote::MessageLoop& loop, const remote::ClassRegistry* registry = nullptr);
  // Marks all five as being destroyed, then destroys them in the reverse
  // of their creation order (temp, play, connection, singer, song): the
  // datasets close without the reset request; the connection disconnects,
  // which makes the datasets still alive drop their server references.
  ~DataModule();
  DataModule(const DataModule&) = delete;
  DataModule& operator=(const DataModule&) = delete;

  // The five components, by the names the window uses, in creation order.
  std::unique_ptr<ClientDataSet> songClientDataSet;
  std::unique_ptr<ClientDataSet> singerClientDataSet;
  std::unique_ptr<remote::SocketConnection> SocketConnection;
  std::unique_ptr<ClientDataSet> playClientDataSet;
  std::unique_ptr<ClientDataSet> tempClientDataSet;
};

// The process's one data module, created in main: DM() reaches it from
// every handler. DM() raises std::logic_error when none is installed.
DataModule& DM();
bool HasDM();
void InstallDM(DataModule* dm);

// Owns the data module of a program run and installs it as DM() for its
// lifetime (main: `quor::data::DataModuleInstance dm(loop);` after the main
// window is created, before the loop runs).
class DataModuleInstance {
 public:
  explicit DataModuleInstance(remote::MessageLoop& loop,
                              const remote::ClassRegistry* registry = nullptr);
  ~DataModuleInstance();
  DataModuleInstance(const DataModuleInstance&) = delete;
  DataModuleInstance& operator=(const DataModuleInstance&) = delete;
  DataModule& Module() { return *module_; }

 private:
  std::unique_ptr<DataModule> module_;
};

// Every catalogue query: close the dataset, set its statement (GBK), open
// it, move to its first row. Raises what the dataset raises.
void RunCatalogueQuery(ClientDataSet& dataSet, const std::string& statementGbk);

// The room request of selectBitBtn5Click: append a row to `temp`, set its
// ClientName to the room name (GBK), post it, apply with no error limit.
// A dataset that is closed (the server could not be reached when the
// window was shown) is opened first. When the apply fails the row stays in
// the change log and goes with the next request. Raises on failure.
void SendRoomRequest(ClientDataSet& temp, const std::string& roomNameGbk);

// The text shown once when the server cannot be connected at window show.
inline constexpr char kConnectFailedText[] =
    "连接VOD数据服务器失败!请查看网络是否畅通或服务器IP设置是否正确";

// Window show, steps 2 and 3: Host := serverIp, Connected := true, then open
// song, singer, play and temp in that order. The first failure ends the
// step: a failed connect is told with kConnectFailedText, a failed opening
// with its own text, once, and every dataset after it is left closed (each
// later query connects again). Against a server that accepts and never
// answers, the window is thus usable after one reply bound instead of one
// for the connection and one for each dataset. Texts given to notify are
// UTF-8. Never throws. Returns whether all four opened.
bool ConnectAndOpen(DataModule& dm, const std::string& serverIp,
                    const std::function<void(const std::string& message)>& notify);

}  // namespace quor::data
