// ClientDataSet: field objects, inserting and posting rows, and sending the
// change log to the provider.

#include <charconv>
#include <cstring>

#include "data/ClientDataSet.h"
#include "data/DataSetInternal.h"
#include "platform/AsciiCase.h"
#include "platform/Codepage.h"
#include "remote/Errors.h"

namespace quor::data {
namespace {

using platform::EqualsNoCase;

// Without a reconcile handler: skip what the engine suggests skipping, abort
// on anything else. Never throws.
engine::ReconcileAction DefaultReconcile(void*, const engine::ReconcileError& error) {
  return error.suggested == engine::ReconcileAction::kSkip ? engine::ReconcileAction::kSkip
                                                           : engine::ReconcileAction::kAbort;
}

std::string ShortestDouble(double v) {
  char text[32];
  const auto r = std::to_chars(text, text + sizeof text, v);
  return std::string(text, r.ptr);
}

}  // namespace

// ---- Field ----------------------------------------------------------------

Field::Field(ClientDataSet& dataSet, const FieldDef& def, const engine::DSFieldDesc& desc,
             std::uint32_t fieldNo)
    : dataSet_(dataSet),
      name_(def.name),
      kind_(def.kind),
      size_(def.size),
      fieldNo_(fieldNo),
      desc_(desc),
      required_(def.required),
      readOnly_((desc.attributes & engine::kFieldReadOnly) != 0),
      visible_((desc.attributes & engine::kFieldHidden) == 0) {}

void Field::ApplyFieldProps(std::string_view stream) {
  auto truthy = [](std::string_view v) { return EqualsNoCase(v, "True") || v == "1"; };
  while (!stream.empty()) {
    const std::size_t eol = stream.find('\n');
    std::string_view line = stream.substr(0, eol);
    stream = eol == std::string_view::npos ? std::string_view() : stream.substr(eol + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    const std::string_view key = line.substr(0, eq);
    const std::string_view value = line.substr(eq + 1);
    if (EqualsNoCase(key, "DisplayLabel"))
      displayLabel_ = std::string(value);
    else if (EqualsNoCase(key, "Required"))
      required_ = truthy(value);
    else if (EqualsNoCase(key, "ReadOnly"))
      readOnly_ = truthy(value);
    else if (EqualsNoCase(key, "Visible"))
      visible_ = truthy(value);
  }
}

bool Field::IsNull() const {
  ClientDataSet& ds = dataSet_;
  ds.CheckActive();
  const std::uint8_t* row = ds.state_ == DataSetState::Insert ? ds.insertRow_.data()
                            : ds.hasCurrent_                  ? ds.window_.data()
                                                              : nullptr;
  if (row == nullptr) return true;
  ds.value_.resize(engine::ValueBufferSize(desc_) + 8);
  bool blank = false;
  ds.Check(ds.cursor_->ReadField(row, ds.rowSize_, fieldNo_, ds.value_.data(),
                                 static_cast<std::uint32_t>(ds.value_.size()), &blank));
  return blank;
}

std::string Field::AsString() const {
  if (IsNull()) return {};
  const std::uint8_t* v = dataSet_.value_.data();
  switch (desc_.type) {
    case engine::FieldType::kText8:
      return std::string(reinterpret_cast<const char*>(v),
                         strnlen(reinterpret_cast<const char*>(v), desc_.size));
    case engine::FieldType::kText16: {
      std::uint16_t bytes = 0;
      std::memcpy(&bytes, v, 2);
      std::u16string text(std::min<std::uint32_t>(bytes, desc_.size) / 2, u'\0');
      std::memcpy(text.data(), v + 2, text.size() * 2);
      return platform::Utf16ToGbk(text);
    }
    case engine::FieldType::kBytes: {
      std::uint16_t bytes = 0;
      std::memcpy(&bytes, v, 2);
      return std::string(reinterpret_cast<const char*>(v + 2),
                         std::min<std::uint32_t>(bytes, desc_.size));
    }
    case engine::FieldType::kInt32: {
      std::int32_t i = 0;
      std::memcpy(&i, v, 4);
      return std::to_string(i);
    }
    case engine::FieldType::kInt64: {
      std::int64_t i = 0;
      std::memcpy(&i, v, 8);
      return std::to_string(i);
    }
    case engine::FieldType::kDouble: {
      double d = 0;
      std::memcpy(&d, v, 8);
      return ShortestDouble(d);
    }
    case engine::FieldType::kBoolean: {
      std::int16_t b = 0;
      std::memcpy(&b, v, 2);
      return b != 0 ? "True" : "False";
    }
  }
  return {};
}

void Field::SetAsString(std::string_view gbk) {
  ClientDataSet& ds = dataSet_;
  ds.CheckActive();
  if (ds.state_ != DataSetState::Insert) ds.Raise("Dataset not in edit or insert mode");
  std::vector<std::uint8_t> value;
  auto integer = [&](auto& out) {
    const auto r = std::from_chars(gbk.data(), gbk.data() + gbk.size(), out);
    if (r.ec != std::errc() || r.ptr != gbk.data() + gbk.size())
      throw EDatabaseError("'" + platform::GbkToUtf8(gbk) + "' is not a valid integer value");
    value.resize(sizeof out);
    std::memcpy(value.data(), &out, sizeof out);
  };
  if (!gbk.empty()) {
    switch (desc_.type) {
      case engine::FieldType::kText8:
        value.assign(gbk.begin(), gbk.end());
        value.push_back(0);
        break;
      case engine::FieldType::kText16: {
        const std::u16string text = platform::GbkToUtf16(gbk);
        const std::size_t bytes = text.size() * 2;
        if (bytes > 0xFFFF)
          throw EDatabaseError("Value of field '" + platform::GbkToUtf8(name_) + "' is too long");
        value.resize(2 + bytes);
        const auto len = static_cast<std::uint16_t>(bytes);
        std::memcpy(value.data(), &len, 2);
        std::memcpy(value.data() + 2, text.data(), bytes);
        break;
      }
      case engine::FieldType::kBytes: {
        if (gbk.size() > 0xFFFF)
          throw EDatabaseError("Value of field '" + platform::GbkToUtf8(name_) + "' is too long");
        const auto len = static_cast<std::uint16_t>(gbk.size());
        value.resize(2 + gbk.size());
        std::memcpy(value.data(), &len, 2);
        std::memcpy(value.data() + 2, gbk.data(), gbk.size());
        break;
      }
      case engine::FieldType::kInt32: {
        std::int32_t i = 0;
        integer(i);
        break;
      }
      case engine::FieldType::kInt64: {
        std::int64_t i = 0;
        integer(i);
        break;
      }
      case engine::FieldType::kDouble: {
        double d = 0;
        const auto r = std::from_chars(gbk.data(), gbk.data() + gbk.size(), d);
        if (r.ec != std::errc() || r.ptr != gbk.data() + gbk.size())
          throw EDatabaseError("'" + platform::GbkToUtf8(gbk) +
                               "' is not a valid floating point value");
        value.resize(8);
        std::memcpy(value.data(), &d, 8);
        break;
      }
      case engine::FieldType::kBoolean: {
        std::int16_t b = 0;
        if (EqualsNoCase(gbk, "True") || gbk == "1")
          b = -1;
        else if (!EqualsNoCase(gbk, "False") && gbk != "0")
          throw EDatabaseError("'" + platform::GbkToUtf8(gbk) + "' is not a valid boolean value");
        value.resize(2);
        std::memcpy(value.data(), &b, 2);
        break;
      }
    }
  }
  ds.Check(ds.cursor_->WriteField(ds.insertRow_.data(), ds.rowSize_, fieldNo_,
                                  value.empty() ? nullptr : value.data(),
                                  static_cast<std::uint32_t>(value.size())));
  ds.insertModified_ = true;
}

// ---- inserting and applying -----------------------------------------------

void ClientDataSet::Insert() {
  CheckBrowseMode();
  if (disableInserts_) Raise("Inserts are not allowed");
  if (readOnly_) Raise("Cannot modify a read-only dataset");
  insertRow_.assign(rowSize_, 0);
  Check(cursor_->BlankRow(insertRow_.data(), rowSize_));
  insertModified_ = false;
  state_ = DataSetState::Insert;
}

void ClientDataSet::Post() {
  CheckActive();
  if (state_ != DataSetState::Insert) return;
  for (const auto& f : fields_)
    if (f->Required() && f->IsNull())
      throw EDatabaseError("Field '" + platform::GbkToUtf8(f->DisplayName()) +
                           "' must have a value");
  Check(cursor_->InsertRow(insertRow_.data(), rowSize_));
  insertRow_.clear();
  insertModified_ = false;
  state_ = DataSetState::Browse;
  // The cursor stands on the new row: it becomes the current row.
  TakeCurrentRow();
  bof_ = false;
  eof_ = false;
}

void ClientDataSet::Cancel() {
  if (state_ != DataSetState::Insert) return;
  insertRow_.clear();
  insertModified_ = false;
  state_ = DataSetState::Browse;
}

int ClientDataSet::ChangeCount() {
  if (!store_) return 0;
  std::uint32_t changes = 0;
  Check(store_->GetProp(engine::kPropChangeCount, &changes));
  return static_cast<int>(changes);
}

int ClientDataSet::ApplyUpdates(std::int32_t maxErrors) {
  CheckBrowseMode();
  if (ChangeCount() == 0) return 0;

  engine::Ref<engine::IDSBase> delta;
  Check(store_->TakeDelta(delta.Put()));
  std::uint8_t* bytes = nullptr;
  std::uint32_t size = 0;
  Check(delta->StreamPacket(&bytes, &size));
  std::vector<std::uint8_t> deltaBytes(bytes, bytes + size);
  delta->FreePacket(bytes);

  remote::IAppServer& server = ServerReference();
  const remote::Variant deltaVar =
      remote::Variant::Array(remote::SafeArray::FromBytes(deltaBytes.data(), deltaBytes.size()));
  remote::Variant ownerData;
  remote::Variant answer;
  std::int32_t errorCount = 0;
  remote::OleCheck(server.AS_ApplyUpdates(platform::GbkToUtf16(providerName_), deltaVar, maxErrors,
                                          errorCount, ownerData, answer));
  if (answer.IsNull() || answer.IsEmpty()) {
    Check(store_->AcceptChanges());  // every row applied: the change log empties, rows stay
  } else {
    // The rows the server rejected: those not named leave the change log;
    // what stays there goes again with the next apply.
    if (!internal::IsPacketForm(answer)) throw EDatabaseError(internal::kInvalidPacket);
    const remote::SafeArray& errors = answer.AsArray();
    Check(store_->Reconcile(deltaBytes.data(), static_cast<std::uint32_t>(deltaBytes.size()),
                            errors.Data(), static_cast<std::uint32_t>(errors.ByteCount()),
                            &DefaultReconcile, this));
  }
  return errorCount;
}

}  // namespace quor::data
