// ClientDataSet: opening, closing, the record window and the requests to
// the provider. Fields, inserts and applying updates are in DataSetUpdates.cpp.

#include "data/ClientDataSet.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "data/DataSetInternal.h"
#include "data/Engine.h"
#include "platform/AsciiCase.h"
#include "platform/Codepage.h"
#include "remote/Errors.h"
#include "remote/SafeArray.h"

namespace quor::data {
namespace {

using internal::IsPacketForm;
using internal::kClosedDataSet;
using internal::kInvalidPacket;
using internal::kMissingProvider;

// A field name holds at most this many characters of its column's name.
constexpr std::size_t kFieldNameChars = 32;

FieldKind KindOf(engine::FieldType type) {
  switch (type) {
    case engine::FieldType::kText8:
      return FieldKind::String;
    case engine::FieldType::kText16:
      return FieldKind::WideString;
    case engine::FieldType::kInt32:
      return FieldKind::Integer;
    case engine::FieldType::kInt64:
      return FieldKind::LargeInt;
    case engine::FieldType::kDouble:
      return FieldKind::Float;
    case engine::FieldType::kBoolean:
      return FieldKind::Boolean;
    case engine::FieldType::kBytes:
      break;
  }
  return FieldKind::Bytes;
}

}  // namespace

ClientDataSet::ClientDataSet(std::string name) : name_(std::move(name)) {}

ClientDataSet::~ClientDataSet() {
  destroying_ = true;
  try {
    DoClose(true);
  } catch (const std::exception&) {  // nothing is sent while destroying; nobody to tell
  }
  if (remoteServer_ != nullptr) remoteServer_->UnregisterClient(this);
}

void ClientDataSet::Raise(const std::string& message) const {
  throw EDatabaseError(name_ + ": " + message);
}

void ClientDataSet::RaiseStatus(engine::Status status) const {
  char text[engine::kStatusMessageSize] = {};
  if (store_) store_->GetStatusMessage(status, text, sizeof text);
  std::string message = platform::GbkToUtf8(text);
  if (message.empty()) {
    char code[32];
    std::snprintf(code, sizeof code, "Engine error 0x%08X", static_cast<unsigned>(status));
    message = code;
  }
  throw EDBClient(message, status);
}

void ClientDataSet::CheckActive() const {
  if (state_ == DataSetState::Inactive) Raise(kClosedDataSet);
}

void ClientDataSet::SetRemoteServer(remote::SocketConnection* connection) {
  if (connection == remoteServer_) return;
  if (connection != nullptr && Active()) Raise("Cannot perform this operation on an open dataset");
  if (remoteServer_ != nullptr) remoteServer_->UnregisterClient(this);
  appServer_.reset();
  remoteServer_ = connection;
  if (remoteServer_ != nullptr) remoteServer_->RegisterClient(this);
}

void ClientDataSet::RemoteServerFreed(const remote::SocketConnection* connection) {
  if (connection != remoteServer_) return;
  appServer_.reset();
  remoteServer_ = nullptr;
}

void ClientDataSet::ConnectionOpened(remote::SocketConnection&) {}

void ClientDataSet::ConnectionClosing(remote::SocketConnection& connection) {
  if (&connection == remoteServer_) appServer_.reset();
}

void ClientDataSet::SetCommandText(const std::string& textGbk) {
  if (textGbk == commandText_) return;
  commandText_ = textGbk;
  if (commandText_.empty())
    params_.clear();
  else
    params_ = RebuildParams(commandText_, params_);
}

void ClientDataSet::SetStoredFieldDefs(std::vector<FieldDef> defs, bool storeDefs) {
  fieldDefs_ = std::move(defs);
  storeDefs_ = storeDefs;
}

// ---- the remote side ------------------------------------------------------

remote::IAppServer& ClientDataSet::ServerReference() {
  if (!appServer_ && !providerName_.empty() && remoteServer_ != nullptr)
    appServer_ = remoteServer_->ServerInterface();
  if (!appServer_) Raise(kMissingProvider);
  return *appServer_;
}

remote::Variant ClientDataSet::RequestRecords(std::int32_t count, std::int32_t options,
                                              const std::u16string& commandText,
                                              remote::Variant params, std::int32_t& recsOut) {
  if (params.IsEmpty() && !params_.empty()) params = PackParams(params_);
  remote::IAppServer& server = ServerReference();
  remote::Variant ownerData;
  remote::Variant packet;
  recsOut = 0;
  remote::OleCheck(server.AS_GetRecords(platform::GbkToUtf16(providerName_), count, recsOut,
                                        options, commandText, params, ownerData, packet));
  UnpackParams(params, params_);
  return packet;
}

void ClientDataSet::AppendPacket(const remote::Variant& packet, bool last) {
  if (!IsPacketForm(packet)) throw EDatabaseError(kInvalidPacket);
  const remote::SafeArray& bytes = packet.AsArray();
  Check(store_->AppendPacket(bytes.Data(), static_cast<std::uint32_t>(bytes.ByteCount()),
                             last ? -1 : 0));
}

void ClientDataSet::FetchPacket(std::int32_t count) {
  std::int32_t recsOut = 0;
  const remote::Variant packet = RequestRecords(count, 0, u"", remote::Variant(), recsOut);
  const bool last = count != recsOut;
  if (!packet.IsNull() && !packet.IsEmpty()) AppendPacket(packet, last);
  providerEof_ = last;
}

void ClientDataSet::FetchAll() {
  if (!providerEof_ && fetchOnDemand_ && packetRecords_ != 0) FetchPacket(-1);
}

// ---- opening and closing --------------------------------------------------

void ClientDataSet::SetActive(bool value) {
  if (value == Active()) return;
  if (!value) {
    DoClose(destroying_);
    return;
  }
  try {
    DoOpen();
  } catch (...) {
    // Back to closed through the closing steps (a reset goes out when the
    // server reference was obtained); the opening's error is what the caller
    // sees, not a failure of that reset.
    try {
      DoClose(destroying_);
    } catch (const std::exception&) {
    }
    throw;
  }
}

void ClientDataSet::DoOpen() {
  providerEof_ = true;
  if (!store_) {
    std::int32_t recsOut = 0;
    const remote::Variant packet =
        RequestRecords(packetRecords_, remote::kOptionFieldDescriptions,
                       platform::GbkToUtf16(commandText_), PackParams(params_), recsOut);
    if (packet.IsNull() || packet.IsEmpty()) Raise(kMissingProvider);
    if (!IsPacketForm(packet)) throw EDatabaseError(kInvalidPacket);
    providerEof_ = packetRecords_ != recsOut;
    store_ = CreateDSBase();
    AppendPacket(packet, providerEof_);
  }
  cursor_ = CreateDSCursor();
  Check(cursor_->Attach(store_.get()));

  disableEdits_ = OptBoolean(0, "DISABLE_EDITS");
  disableInserts_ = OptBoolean(0, "DISABLE_INSERTS");
  disableDeletes_ = OptBoolean(0, "DISABLE_DELETES");
  noResetCall_ = OptBoolean(0, "NO_RESET_CALL");

  engine::DSCursorProps cursorProps{};
  Check(cursor_->GetCursorProps(&cursorProps));
  rowSize_ = cursorProps.rowBufferSize;
  bookmarkSize_ = cursorProps.bookmarkSize;
  readOnly_ = cursorProps.readOnly;

  BuildFields();

  Check(cursor_->MoveBeforeFirst());
  // No filter text and no filter handler exist, so a filtered dataset
  // installs nothing and every row stays visible.

  window_.assign(rowSize_, 0);
  spare_.assign(rowSize_, 0);
  ClearWindow();
  const bool row = ReadRow(+1);
  bof_ = true;
  eof_ = !row;
  state_ = DataSetState::Browse;
}

bool ClientDataSet::OptBoolean(std::uint32_t fieldNo, const char* name) {
  bool present = false;
  engine::FieldType type{};
  const std::string value = OptBytes(fieldNo, name, present, &type);
  // Only a boolean true counts.
  if (!present || type != engine::FieldType::kBoolean || value.size() != 2) return false;
  std::int16_t v = 0;
  std::memcpy(&v, value.data(), 2);
  return v != 0;
}

std::string ClientDataSet::OptBytes(std::uint32_t fieldNo, const char* name, bool& present,
                                    engine::FieldType* typeOut) {
  present = false;
  engine::FieldType type{};
  std::uint32_t length = 0;
  const engine::Status s = store_->GetOptParameter(fieldNo, name, &type, &length, nullptr, 0);
  if (s == engine::kErrorNotFound) return {};
  Check(s);
  std::string value(length + 1, '\0');
  Check(store_->GetOptParameter(fieldNo, name, &type, &length, value.data(),
                                static_cast<std::uint32_t>(value.size())));
  value.resize(std::min<std::size_t>(length, value.size()));
  present = true;
  if (typeOut != nullptr) *typeOut = type;
  return value;
}

void ClientDataSet::BuildFields() {
  // The stored definitions bind nothing: the packet's columns are the fields.
  fieldDefs_.clear();
  fields_.clear();
  Check(store_->SetProp(engine::kPropWideText, 1));
  engine::DSProps props{};
  Check(store_->GetProps(&props));
  std::vector<engine::DSFieldDesc> descs(props.fieldCount);
  if (!descs.empty()) Check(store_->GetFieldDescs(descs.data()));
  auto taken = [&](const std::string& n) {
    return std::any_of(fieldDefs_.begin(), fieldDefs_.end(),
                       [&](const FieldDef& d) { return platform::EqualsNoCase(d.name, n); });
  };
  for (engine::DSFieldDesc& desc : descs) {
    desc.name[engine::kFieldNameSize - 1] = '\0';
    FieldDef def;
    const std::string base(platform::GbkCutChars(desc.name, kFieldNameChars));
    def.name = base;
    for (int i = 1; taken(def.name); ++i) def.name = base + "_" + std::to_string(i);
    def.kind = KindOf(desc.type);
    switch (def.kind) {
      case FieldKind::String:
      case FieldKind::Bytes:
        def.size = desc.size;
        break;
      case FieldKind::WideString:
        def.size = desc.size / 2;
        break;
      default:
        def.size = 0;
    }
    def.required = (desc.attributes & engine::kFieldRequired) != 0;
    fieldDefs_.push_back(def);
  }
  for (std::size_t i = 0; i < descs.size(); ++i) {
    auto field =
        std::make_unique<Field>(*this, fieldDefs_[i], descs[i], static_cast<std::uint32_t>(i + 1));
    const std::uint32_t no = field->FieldNo();
    bool present = false;
    std::string origin = OptBytes(no, "ORIGIN", present);
    if (present) field->origin_ = std::move(origin);
    std::string flags = OptBytes(no, "PROVFLAGS", present);
    if (present && flags.size() == 4) std::memcpy(&field->providerFlags_, flags.data(), 4);
    std::string fieldProps = OptBytes(no, "FIELDPROPS", present);
    if (present) field->ApplyFieldProps(fieldProps);
    fields_.push_back(std::move(field));
  }
}

void ClientDataSet::DoClose(bool destroying) {
  state_ = DataSetState::Inactive;
  ClearWindow();
  insertRow_.clear();
  insertModified_ = false;
  fields_.clear();
  cursor_ = {};
  if (appServer_) {
    // The reset follows the local close. Should it fail, the store and the
    // server reference are released all the same before the error goes on,
    // so the next opening asks the server again instead of showing the rows
    // of the statement before.
    try {
      if (!destroying && !noResetCall_) {
        std::int32_t recsOut = 0;
        RequestRecords(0, remote::kOptionReset, u"", remote::Variant(), recsOut);
      }
    } catch (...) {
      appServer_.reset();
      store_ = {};
      throw;
    }
    appServer_.reset();
  }
  store_ = {};
}

// ---- the record window ----------------------------------------------------

void ClientDataSet::ClearWindow() {
  hasCurrent_ = false;
  bof_ = true;
  eof_ = true;
}

void ClientDataSet::SyncCursor() {
  // The engine cursor may stand past the current row (a forward read that
  // found none); every move starts from the row the window shows.
  if (hasCurrent_) Check(cursor_->MoveToBookmark(windowInfo_.bookmark.data()));
}

bool ClientDataSet::ReadRow(int direction) {
  engine::Status s = cursor_->MoveRelative(direction);
  if (direction > 0 && engine::IsAfterLast(s) && !providerEof_ && fetchOnDemand_) {
    Check(cursor_->MoveRelative(-1));  // onto the last row (or before the first)
    if (packetRecords_ != 0) FetchPacket(packetRecords_);
    s = cursor_->MoveRelative(+1);
  }
  if (engine::IsAfterLast(s) || engine::IsBeforeFirst(s)) return false;
  Check(s);
  TakeCurrentRow();
  return true;
}

void ClientDataSet::TakeCurrentRow() {
  Check(cursor_->CopyCurrentRow(spare_.data(), rowSize_));
  Check(cursor_->GetSequenceNumber(&spareInfo_.sequence));
  Check(cursor_->GetUpdateStatus(&spareInfo_.status));
  spareInfo_.bookmark.resize(std::max<std::uint32_t>(bookmarkSize_, 1));
  Check(cursor_->GetBookmark(spareInfo_.bookmark.data()));
  std::swap(window_, spare_);
  std::swap(windowInfo_, spareInfo_);
  hasCurrent_ = true;
}

void ClientDataSet::CheckBrowseMode() {
  CheckActive();
  if (state_ == DataSetState::Insert) {
    if (insertModified_)
      Post();
    else
      Cancel();
  }
}

void ClientDataSet::First() {
  CheckBrowseMode();
  ClearWindow();
  Check(cursor_->MoveBeforeFirst());
  if (ReadRow(+1)) {
    bof_ = false;
    eof_ = false;
  }
  bof_ = true;
}

void ClientDataSet::Last() {
  CheckBrowseMode();
  FetchAll();
  ClearWindow();
  Check(cursor_->MoveAfterLast());
  if (ReadRow(-1)) {
    bof_ = false;
    eof_ = false;
  }
  eof_ = true;
}

int ClientDataSet::MoveBy(int n) {
  CheckBrowseMode();
  if (n == 0 || (n > 0 && eof_) || (n < 0 && bof_)) return 0;
  bof_ = false;
  eof_ = false;
  SyncCursor();
  int moved = 0;
  if (n > 0) {
    while (moved < n) {
      if (!ReadRow(+1)) {
        eof_ = true;
        break;
      }
      ++moved;
    }
    return moved;
  }
  while (moved > n) {
    if (!ReadRow(-1)) {
      bof_ = true;
      break;
    }
    --moved;
  }
  return moved;
}

int ClientDataSet::RecordCount() {
  CheckActive();
  std::uint32_t count = 0;
  Check(cursor_->CountRows(&count));
  return static_cast<int>(count);
}

Field* ClientDataSet::FindField(std::string_view nameGbk) {
  for (auto& f : fields_)
    if (platform::EqualsNoCase(f->FieldName(), nameGbk)) return f.get();
  return nullptr;
}

Field& ClientDataSet::FieldByName(std::string_view nameGbk) {
  CheckActive();
  if (Field* f = FindField(nameGbk)) return *f;
  Raise("Field '" + platform::GbkToUtf8(nameGbk) + "' not found");
}

std::uint64_t ClientDataSet::RowMemoryBytes() {
  if (!store_) return 0;
  engine::DSProps props{};
  Check(store_->GetProps(&props));
  return props.rowMemoryBytes;
}

std::uint64_t ClientDataSet::RowDataBytes() {
  if (!store_) return 0;
  engine::DSProps props{};
  Check(store_->GetProps(&props));
  return props.rowDataBytes;
}

}  // namespace quor::data
