#include "data/DataModule.h"

#include <stdexcept>

namespace quor::data {
namespace {

DataModule* gDM = nullptr;

void StoreDataSet(ClientDataSet& ds, const char* provider, std::int32_t packetRecords,
                  bool filtered, bool songLayout) {
  ds.SetProviderName(provider);
  ds.SetPacketRecords(packetRecords);
  ds.SetFiltered(filtered);
  ds.SetFetchOnDemand(true);
  if (songLayout) ds.SetStoredFieldDefs(SongLayout(), true);
}

}  // namespace

std::vector<FieldDef> SongLayout() {
  return {
      {"FIndex", FieldKind::Integer, 0, false},
      {"FName", FieldKind::WideString, 50, false},
      {"FSinger", FieldKind::WideString, 15, false},
      {"FLanguage", FieldKind::WideString, 50, false},
      {"FStyle", FieldKind::WideString, 50, false},
      {"FPath", FieldKind::WideString, 50, false},
      {"FSongPY", FieldKind::WideString, 50, false},
  };
}

DataModule::DataModule(remote::MessageLoop& loop, const remote::ClassRegistry* registry)
    : songClientDataSet(std::make_unique<ClientDataSet>("songClientDataSet")),
      singerClientDataSet(std::make_unique<ClientDataSet>("singerClientDataSet")),
      SocketConnection(
          std::make_unique<remote::SocketConnection>(loop, registry, "SocketConnection")),
      playClientDataSet(std::make_unique<ClientDataSet>("playClientDataSet")),
      tempClientDataSet(std::make_unique<ClientDataSet>("tempClientDataSet")) {
  SocketConnection->SetLoading(true);
  SocketConnection->SetServerGUID(kServerGUID);
  SocketConnection->SetServerName(kServerName);
  SocketConnection->SetLoading(false);

  StoreDataSet(*songClientDataSet, "songDataSetProvider", -1, true, true);
  StoreDataSet(*singerClientDataSet, "singerDataSetProvider", -1, true, false);
  StoreDataSet(*playClientDataSet, "songDataSetProvider", 1, true, true);
  StoreDataSet(*tempClientDataSet, "tempDataSetProvider", -1, false, false);

  // The references to the connection are resolved once all five exist.
  for (ClientDataSet* ds : {songClientDataSet.get(), singerClientDataSet.get(),
                            playClientDataSet.get(), tempClientDataSet.get()})
    ds->SetRemoteServer(SocketConnection.get());
}

DataModule::~DataModule() {
  for (ClientDataSet* ds : {songClientDataSet.get(), singerClientDataSet.get(),
                            playClientDataSet.get(), tempClientDataSet.get()})
    ds->SetDestroying();
  tempClientDataSet.reset();
  playClientDataSet.reset();
  const remote::SocketConnection* connection = SocketConnection.get();
  SocketConnection.reset();  // disconnects: singer and song drop their references
  singerClientDataSet->RemoteServerFreed(connection);
  songClientDataSet->RemoteServerFreed(connection);
  singerClientDataSet.reset();
  songClientDataSet.reset();
}

DataModule& DM() {
  if (gDM == nullptr) throw std::logic_error("The data module has not been created");
  return *gDM;
}

bool HasDM() {
  return gDM != nullptr;
}

void InstallDM(DataModule* dm) {
  gDM = dm;
}

DataModuleInstance::DataModuleInstance(remote::MessageLoop& loop,
                                       const remote::ClassRegistry* registry)
    : module_(std::make_unique<DataModule>(loop, registry)) {
  InstallDM(module_.get());
}

DataModuleInstance::~DataModuleInstance() {
  if (gDM == module_.get()) InstallDM(nullptr);
  module_.reset();
}

void RunCatalogueQuery(ClientDataSet& dataSet, const std::string& statementGbk) {
  dataSet.Close();
  dataSet.SetCommandText(statementGbk);
  dataSet.Open();
  dataSet.First();
}

void SendRoomRequest(ClientDataSet& temp, const std::string& roomNameGbk) {
  // Without this the button could never work again once the server was
  // down at window show: nothing else opens the temp dataset.
  if (!temp.Active()) temp.Open();
  temp.Append();
  try {
    temp.FieldByName("ClientName").SetAsString(roomNameGbk);
    temp.Post();
  } catch (...) {
    temp.Cancel();
    throw;
  }
  temp.ApplyUpdates(-1);
}

bool ConnectAndOpen(DataModule& dm, const std::string& serverIp,
                    const std::function<void(const std::string& message)>& notify) {
  auto tell = [&](const std::string& text) {
    try {
      if (notify) notify(text);
    } catch (...) {  // a broken notifier must not break the window's show
    }
  };
  try {
    dm.SocketConnection->SetHost(serverIp);
    dm.SocketConnection->SetConnected(true);
  } catch (...) {
    tell(kConnectFailedText);
    return false;
  }
  for (ClientDataSet* ds : {dm.songClientDataSet.get(), dm.singerClientDataSet.get(),
                            dm.playClientDataSet.get(), dm.tempClientDataSet.get()}) {
    try {
      ds->SetActive(true);
    } catch (const std::exception& e) {
      tell(e.what());
      return false;
    } catch (...) {
      tell("Unknown error");
      return false;
    }
  }
  return true;
}

}  // namespace quor::data
