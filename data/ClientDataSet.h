#pragma once
// The client dataset: an in-memory table filled from one named provider of
// the application server. It asks for rows in data packets (AS_GetRecords),
// hands each packet to the dataset engine, walks the rows with a one-row
// record window and reads field values as text; rows inserted locally go to
// the engine's change log and reach the provider as one delta
// (AS_ApplyUpdates).
//
// Texts: CommandText, field names and values are GBK byte strings; every
// exception's what() is UTF-8 (engine and wire texts are converted), and a
// message of the dataset's own starts with its name and ": ".
//
// Threads: everything here is for the GUI thread (the thread that calls the
// connection). The engine objects and the server reference belong to it.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "data/Params.h"
#include "engine/api/DSEngine.h"
#include "remote/AppServer.h"
#include "remote/SocketConnection.h"

namespace quor::data {

// A failure of a dataset, with the system's message text (UTF-8).
class EDatabaseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An engine status that is an error where a result was needed: the engine's
// message text for the status, and the status itself.
class EDBClient : public EDatabaseError {
 public:
  EDBClient(const std::string& message, engine::Status status)
      : EDatabaseError(message), status_(status) {}
  engine::Status ErrorCode() const { return status_; }

 private:
  engine::Status status_;
};

enum class DataSetState { Inactive, Browse, Insert };

enum class FieldKind { String, WideString, Integer, LargeInt, Float, Boolean, Bytes };

// A field definition: rebuilt from the first packet at every opening.
struct FieldDef {
  std::string name;  // GBK
  FieldKind kind = FieldKind::WideString;
  std::uint32_t size = 0;  // characters of a text field, bytes of a bytes field, else 0
  bool required = false;
};

class ClientDataSet;

// One column of the open dataset; owned by it from the opening to the close
// (a reference to a Field is valid until the dataset closes).
class Field {
 public:
  Field(ClientDataSet& dataSet, const FieldDef& def, const engine::DSFieldDesc& desc,
        std::uint32_t fieldNo);

  const std::string& FieldName() const { return name_; }
  // The display label when the packet gave one, else the name.
  const std::string& DisplayName() const { return displayLabel_.empty() ? name_ : displayLabel_; }
  FieldKind DataType() const { return kind_; }
  std::uint32_t Size() const { return size_; }
  std::uint32_t FieldNo() const { return fieldNo_; }
  bool Required() const { return required_; }
  bool ReadOnly() const { return readOnly_; }
  bool Visible() const { return visible_; }
  const std::string& Origin() const { return origin_; }
  std::int32_t ProviderFlags() const { return providerFlags_; }

  // The current row's value as text (GBK): empty when blank or when there is
  // no current row; UTF-16 columns converted to GBK; integers in decimal.
  std::string AsString() const;
  bool IsNull() const;
  // Writes the value of the row being inserted (empty text: blank).
  void SetAsString(std::string_view gbk);

 private:
  friend class ClientDataSet;
  // Applies a FIELDPROPS stream: lines "Key=Value" (DisplayLabel, Required,
  // ReadOnly, Visible); unknown keys are ignored.
  void ApplyFieldProps(std::string_view stream);

  ClientDataSet& dataSet_;
  std::string name_;
  std::string displayLabel_;
  FieldKind kind_;
  std::uint32_t size_;
  std::uint32_t fieldNo_;
  engine::DSFieldDesc desc_;
  bool required_;
  bool readOnly_ = false;
  bool visible_ = true;
  std::string origin_;
  std::int32_t providerFlags_ = 0;
};

class ClientDataSet final : public remote::ConnectionClient {
 public:
  explicit ClientDataSet(std::string name);
  // Closes without the reset request and leaves the connection's client list.
  ~ClientDataSet();
  ClientDataSet(const ClientDataSet&) = delete;
  ClientDataSet& operator=(const ClientDataSet&) = delete;

  const std::string& Name() const { return name_; }

  // Published properties.
  const std::string& ProviderName() const { return providerName_; }
  void SetProviderName(std::string name) { providerName_ = std::move(name); }
  remote::SocketConnection* RemoteServer() const { return remoteServer_; }
  // Registers in the connection's client list (leaving the old one's) and
  // drops the server reference; pointing at a connection needs a closed dataset.
  void SetRemoteServer(remote::SocketConnection* connection);
  const std::string& CommandText() const { return commandText_; }
  // Stores the text and rebuilds Params; takes effect at the next opening.
  void SetCommandText(const std::string& textGbk);
  std::int32_t PacketRecords() const { return packetRecords_; }
  void SetPacketRecords(std::int32_t n) { packetRecords_ = n; }
  bool FetchOnDemand() const { return fetchOnDemand_; }
  void SetFetchOnDemand(bool v) { fetchOnDemand_ = v; }
  bool Filtered() const { return filtered_; }
  void SetFiltered(bool v) { filtered_ = v; }
  const ParamList& Params() const { return params_; }
  ParamList& Params() { return params_; }

  // Stored field definitions (kept with the module; every opening rebuilds
  // FieldDefs from the packet instead).
  void SetStoredFieldDefs(std::vector<FieldDef> defs, bool storeDefs);
  bool StoreDefs() const { return storeDefs_; }
  const std::vector<FieldDef>& FieldDefs() const { return fieldDefs_; }

  // Opening and closing. A failed opening leaves the dataset closed (the
  // closing steps, reset request included, ran) and raises.
  bool Active() const { return state_ != DataSetState::Inactive; }
  void SetActive(bool value);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  DataSetState State() const { return state_; }

  // Navigation over the rows held (fetching on demand when the provider has
  // more). Each raises the closed-dataset error on a closed dataset.
  void First();
  void Last();
  void Next() { MoveBy(1); }
  void Prior() { MoveBy(-1); }
  // Rows actually moved, negative when backward.
  int MoveBy(int n);
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  int RecordCount();

  // Field by name without regard to letter case; "Field '%s' not found".
  Field& FieldByName(std::string_view nameGbk);
  Field* FindField(std::string_view nameGbk);
  const std::vector<std::unique_ptr<Field>>& Fields() const { return fields_; }

  // Inserting rows and sending them.
  void Insert();
  void Append() { Insert(); }
  void Post();
  void Cancel();
  // Sends the change log; the number of rows the server rejected.
  int ApplyUpdates(std::int32_t maxErrors);
  // Entries in the engine's change log (0 when closed).
  int ChangeCount();

  // The provider-end flag: true once the provider has sent its last row.
  bool ProviderEOF() const { return providerEof_; }
  bool HoldsServerReference() const { return static_cast<bool>(appServer_); }
  // Packet options read from the first packet.
  bool DisableEdits() const { return disableEdits_; }
  bool DisableInserts() const { return disableInserts_; }
  bool DisableDeletes() const { return disableDeletes_; }
  bool NoResetCall() const { return noResetCall_; }
  // The engine's memory for the rows held and the bytes the packets carried.
  std::uint64_t RowMemoryBytes();
  std::uint64_t RowDataBytes();

  // Marks the dataset as being destroyed: its close sends no reset request.
  void SetDestroying() { destroying_ = true; }
  // The connection component went away (its owner calls this after
  // destroying it): forget it without touching it.
  void RemoteServerFreed(const remote::SocketConnection* connection);

  // ConnectionClient: a disconnect drops the server reference, rows stay.
  void ConnectionOpened(remote::SocketConnection& connection) override;
  void ConnectionClosing(remote::SocketConnection& connection) override;

 private:
  friend class Field;
  struct RowInfo {
    std::uint32_t sequence = 0;
    engine::UpdateStatus status = engine::UpdateStatus::kUnmodified;
    std::vector<std::uint8_t> bookmark;
  };

  // The system's message, prefixed with the dataset's name.
  [[noreturn]] void Raise(const std::string& message) const;
  [[noreturn]] void RaiseStatus(engine::Status status) const;
  void Check(engine::Status status) const {
    if (engine::IsError(status)) RaiseStatus(status);
  }
  void CheckActive() const;
  void CheckBrowseMode();

  void DoOpen();
  void DoClose(bool destroying);
  void BuildFields();
  bool OptBoolean(std::uint32_t fieldNo, const char* name);
  std::string OptBytes(std::uint32_t fieldNo, const char* name, bool& present,
                       engine::FieldType* type = nullptr);

  remote::IAppServer& ServerReference();
  remote::Variant RequestRecords(std::int32_t count, std::int32_t options,
                                 const std::u16string& commandText, remote::Variant params,
                                 std::int32_t& recsOut);
  // Checks a packet's outer form and hands it to the store.
  void AppendPacket(const remote::Variant& packet, bool last);
  void FetchPacket(std::int32_t count);
  void FetchAll();

  // The record window.
  void ClearWindow();
  bool ReadRow(int direction);
  // Copies the row under the engine cursor into the window.
  void TakeCurrentRow();
  void SyncCursor();

  std::string name_;
  std::string providerName_;
  remote::SocketConnection* remoteServer_ = nullptr;
  std::string commandText_;
  std::int32_t packetRecords_ = -1;
  bool fetchOnDemand_ = true;
  bool filtered_ = false;
  ParamList params_;
  std::vector<FieldDef> fieldDefs_;
  bool storeDefs_ = false;

  DataSetState state_ = DataSetState::Inactive;
  bool destroying_ = false;
  bool providerEof_ = true;
  bool disableEdits_ = false;
  bool disableInserts_ = false;
  bool disableDeletes_ = false;
  bool noResetCall_ = false;
  bool readOnly_ = false;

  remote::Ref<remote::IAppServer> appServer_;
  engine::Ref<engine::IDSBase> store_;
  engine::Ref<engine::IDSCursor> cursor_;
  std::vector<std::unique_ptr<Field>> fields_;

  std::uint32_t rowSize_ = 0;
  std::uint32_t bookmarkSize_ = 0;
  // The record window: the current row (when hasCurrent_) and one spare
  // buffer that a read fills before it becomes current, so a failed read
  // leaves the current row as it was.
  std::vector<std::uint8_t> window_;
  std::vector<std::uint8_t> spare_;
  RowInfo windowInfo_;
  RowInfo spareInfo_;
  bool hasCurrent_ = false;
  bool bof_ = true;
  bool eof_ = true;
  // The row being inserted (insert state) and whether a value was written.
  std::vector<std::uint8_t> insertRow_;
  bool insertModified_ = false;
  // Scratch buffer for one field value.
  mutable std::vector<std::uint8_t> value_;
};

}  // namespace quor::data
