#include "engine/Store.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/Codepage.h"

namespace quor::engine {
namespace {

std::uint32_t Saturate(std::uint64_t v) {
  return v > std::numeric_limits<std::uint32_t>::max() ? std::numeric_limits<std::uint32_t>::max()
                                                       : static_cast<std::uint32_t>(v);
}

std::string GenericMessage(Status status) {
  switch (status) {
    case kStatusOk:
      return "No error";
    case kStatusBeforeFirst:
      return "The cursor is before the first row";
    case kStatusAfterLast:
      return "The cursor is after the last row";
    case kErrorNoData:
      return "The dataset holds no data packet";
    case kErrorInvalidPacket:
      return "Invalid data packet";
    case kErrorInvalidArgument:
      return "Invalid argument to the dataset engine";
    case kErrorNoCurrentRow:
      return "No current row";
    case kErrorReadOnly:
      return "The dataset is read-only";
    case kErrorNotFound:
      return "No such optional parameter";
    case kErrorValueTooLong:
      return "A value is longer than its field";
    case kErrorOutOfMemory:
      return "Out of memory";
    case kErrorUnknownProperty:
      return "Unknown or read-only dataset property";
    case kErrorNotAttached:
      return "The cursor is not attached to a dataset";
    case kErrorNoInterface:
      return "Interface not supported";
    case kErrorClassNotAvailable:
      return "Class not available";
    default:
      break;
  }
  char buf[64];
  std::snprintf(buf, sizeof buf, "Dataset engine error 0x%08X", static_cast<unsigned>(status));
  return buf;
}

}  // namespace

std::atomic<std::uint32_t>& LiveObjects() {
  static std::atomic<std::uint32_t> live{0};
  return live;
}

Store::Store() {
  LiveObjects().fetch_add(1);
}
Store::~Store() {
  LiveObjects().fetch_sub(1);
}

Status Store::QueryInterface(const platform::Guid& iid, void** out) {
  if (out == nullptr) return kErrorInvalidArgument;
  if (iid == kIidDSBase || iid == kIidUnknown || iid == kIidEngineStore) {
    AddRef();
    *out = iid == kIidUnknown  ? static_cast<void*>(static_cast<IEngineUnknown*>(this))
           : iid == kIidDSBase ? static_cast<void*>(static_cast<IDSBase*>(this))
                               : static_cast<void*>(this);
    return kStatusOk;
  }
  *out = nullptr;
  return kErrorNoInterface;
}

std::uint32_t Store::AddRef() {
  return refs_.fetch_add(1) + 1;
}

std::uint32_t Store::Release() {
  const std::uint32_t left = refs_.fetch_sub(1) - 1;
  if (left == 0) delete this;
  return left;
}

Status Store::Fail(Status status, const std::string& message) {
  try {
    messages_[status] = message;
  } catch (...) {  // out of memory: the generic text stands in
  }
  return status;
}

void Store::TakeFields(const PacketReader& reader) {
  fields_ = reader.Described();
  params_ = reader.Params();
  kind_ = reader.Kind();
  readOnly_ = reader.ReadOnly();
  namesGbk_.clear();
  slotOffset_.clear();
  std::uint32_t at = kRowBufferHeader + static_cast<std::uint32_t>(fields_.size());
  for (const FieldInfo& f : fields_) {
    std::string gbk = platform::Utf8ToGbk(f.name);
    if (gbk.size() >= kFieldNameSize)
      gbk = std::string(platform::GbkCutBytes(gbk, kFieldNameSize - 1));
    namesGbk_.push_back(std::move(gbk));
    slotOffset_.push_back(at);
    at += FixedWidth(f.type) != 0 ? FixedWidth(f.type) : 2 + f.size;
  }
  rowBufferSize_ = at;
  hasFields_ = true;
}

Status Store::AppendPacket(const std::uint8_t* packet, std::uint32_t size,
                           std::int32_t lastPacket) {
  return Guard([&]() -> Status {
    if (packet == nullptr && size != 0) return Fail(kErrorInvalidArgument, "No packet given");
    const std::span<const std::uint8_t> bytes(packet, size);
    PacketReader reader(bytes, hasFields_ ? &fields_ : nullptr);
    if (hasFields_ && reader.Kind() != kind_)
      return Fail(kErrorInvalidPacket, "Invalid data packet: a packet of another kind");
    if (std::uint64_t{rowCount_} + reader.RowCount() >= std::numeric_limits<std::uint32_t>::max())
      return Fail(kErrorOutOfMemory, "Too many rows for one dataset");
    if (!hasFields_) TakeFields(reader);
    if (reader.RowCount() > 0) {
      Chunk c;
      const auto section = reader.RowSection();
      c.bytes.assign(section.begin(), section.end());
      c.offsets = reader.TakeRowOffsets();
      dataBytes_ += c.bytes.size();
      chunks_.push_back(std::move(c));
      RebuildStarts();
    }
    ++packets_;
    if (lastPacket != 0) lastPacketSeen_ = true;
    return kStatusOk;
  });
}

void Store::RebuildStarts() {
  chunkStart_.assign(1, 0);
  std::uint32_t total = 0;
  for (const Chunk& c : chunks_) {
    total += static_cast<std::uint32_t>(c.offsets.size());
    chunkStart_.push_back(total);
  }
  rowCount_ = total;
}

Store::Where Store::Locate(std::uint32_t ordinal) const {
  // chunkStart_ is ascending; the chunk holding ordinal is the last whose
  // start is not above it.
  const auto it = std::upper_bound(chunkStart_.begin(), chunkStart_.end() - 1, ordinal);
  const auto chunk = static_cast<std::size_t>(it - chunkStart_.begin()) - 1;
  return Where{&chunks_[chunk], ordinal - chunkStart_[chunk]};
}

std::span<const std::uint8_t> Store::EncodedRow(const Chunk& c, std::uint32_t index) const {
  const std::uint32_t begin = c.offsets[index];
  const std::uint32_t end = index + 1 < c.offsets.size()
                                ? c.offsets[index + 1]
                                : static_cast<std::uint32_t>(c.bytes.size());
  return std::span<const std::uint8_t>(c.bytes).subspan(begin, end - begin);
}

UpdateStatus Store::RowStatus(std::uint32_t ordinal) const {
  const Where w = Locate(ordinal);
  if (kind_ == PacketKind::kDelta) return ReadDeltaRowPrefix(EncodedRow(*w.chunk, w.index)).status;
  if (w.chunk->inserted && w.chunk->changeIds[w.index] != 0) return UpdateStatus::kInserted;
  return UpdateStatus::kUnmodified;
}

Status Store::GetProps(DSProps* props) {
  if (props == nullptr) return Fail(kErrorInvalidArgument, "No properties record given");
  std::uint64_t memory = 0;
  for (const Chunk& c : chunks_)
    memory += c.bytes.capacity() + 4 * c.offsets.capacity() + 4 * c.changeIds.capacity() +
              8 * c.postedAt.capacity();
  memory += sizeof(Chunk) * chunks_.capacity() + 4 * chunkStart_.capacity();
  *props = DSProps{};
  props->fieldCount = FieldCount();
  props->rowCount = rowCount_;
  props->changeCount = changeCount_;
  props->rowBufferSize = rowBufferSize_;
  props->bookmarkSize = kBookmarkSize;
  props->packetCount = packets_;
  props->readOnly = readOnly_;
  props->lastPacketSeen = lastPacketSeen_;
  props->rowDataBytes = dataBytes_;
  props->rowMemoryBytes = memory;
  return kStatusOk;
}

Status Store::GetFieldDescs(DSFieldDesc* descs) {
  if (fields_.empty()) return kStatusOk;
  if (descs == nullptr) return Fail(kErrorInvalidArgument, "No field description list given");
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    DSFieldDesc& d = descs[i];
    d = DSFieldDesc{};
    std::memcpy(d.name, namesGbk_[i].data(), namesGbk_[i].size());
    d.name[namesGbk_[i].size()] = '\0';
    d.type = fields_[i].type;
    d.size = fields_[i].size;
    if (d.type == FieldType::kText16 && !wideText_) {
      d.type = FieldType::kText8;  // read as GBK: at most 2 bytes per UTF-16 byte
      d.size *= 2;
    }
    d.attributes = fields_[i].attributes;
    d.fieldNo = static_cast<std::uint32_t>(i + 1);
  }
  return kStatusOk;
}

Status Store::GetOptParameter(std::uint32_t fieldNo, const char* name, FieldType* type,
                              std::uint32_t* length, void* value, std::uint32_t valueSize) {
  return Guard([&]() -> Status {
    if (name == nullptr || type == nullptr || length == nullptr)
      return Fail(kErrorInvalidArgument, "Optional parameter: missing name or result");
    if (fieldNo > fields_.size())
      return Fail(kErrorInvalidArgument, "Optional parameter: no field " + std::to_string(fieldNo));
    const std::vector<Param>& list = fieldNo == 0 ? params_ : fields_[fieldNo - 1].params;
    const auto it =
        std::find_if(list.begin(), list.end(), [&](const Param& p) { return p.name == name; });
    if (it == list.end())
      return Fail(kErrorNotFound, "No optional parameter '" + platform::GbkToUtf8(name) + "'");
    *type = it->type;
    std::string out = it->value;
    if (it->type == FieldType::kBoolean)
      out = it->AsBoolean() ? std::string("\xFF\xFF", 2) : std::string(2, '\0');
    *length = static_cast<std::uint32_t>(out.size());
    if (value != nullptr) {
      if (valueSize < out.size())
        return Fail(kErrorInvalidArgument,
                    "Optional parameter '" + it->name + "': buffer too small");
      std::memcpy(value, out.data(), out.size());
      if (it->type == FieldType::kText8 && valueSize > out.size())
        static_cast<char*>(value)[out.size()] = '\0';
    }
    return kStatusOk;
  });
}

Status Store::GetProp(std::uint32_t prop, std::uint32_t* value) {
  if (value == nullptr) return Fail(kErrorInvalidArgument, "No property value given");
  DSProps p{};
  GetProps(&p);
  switch (prop) {
    case kPropFieldCount:
      *value = p.fieldCount;
      break;
    case kPropChangeCount:
      *value = changeCount_;
      break;
    case kPropRowCount:
      *value = rowCount_;
      break;
    case kPropLastPacketSeen:
      *value = lastPacketSeen_ ? 1 : 0;
      break;
    case kPropPacketCount:
      *value = packets_;
      break;
    case kPropRowDataBytes:
      *value = Saturate(p.rowDataBytes);
      break;
    case kPropRowMemoryBytes:
      *value = Saturate(p.rowMemoryBytes);
      break;
    case kPropWideText:
      *value = wideText_ ? 1 : 0;
      break;
    default:
      return Fail(kErrorUnknownProperty, "Unknown dataset property " + std::to_string(prop));
  }
  return kStatusOk;
}

Status Store::SetProp(std::uint32_t prop, std::uint32_t value) {
  if (prop != kPropWideText)
    return Fail(kErrorUnknownProperty,
                "Dataset property " + std::to_string(prop) + " cannot be set");
  if (value > 1) return Fail(kErrorInvalidArgument, "Dataset property 11 takes 0 or 1");
  wideText_ = value == 1;
  return kStatusOk;
}

Status Store::GetStatusMessage(Status status, char* buffer, std::uint32_t bufferSize) {
  if (buffer == nullptr || bufferSize == 0) return kErrorInvalidArgument;
  return Guard([&]() -> Status {
    const auto it = messages_.find(status);
    std::string text =
        it != messages_.end() ? platform::Utf8ToGbk(it->second) : GenericMessage(status);
    if (text.size() >= bufferSize) text = std::string(platform::GbkCutBytes(text, bufferSize - 1));
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\0';
    return kStatusOk;
  });
}

std::vector<FieldDef> Store::FieldDefs() const {
  std::vector<FieldDef> defs;
  defs.reserve(fields_.size());
  for (const FieldInfo& f : fields_)
    defs.push_back(FieldDef{f.name, f.type, f.size, f.attributes, f.params});
  return defs;
}

Status Store::StreamPacket(std::uint8_t** out, std::uint32_t* size) {
  if (out == nullptr || size == nullptr)
    return Fail(kErrorInvalidArgument, "No place for the packet given");
  *out = nullptr;
  *size = 0;
  return Guard([&]() -> Status {
    if (!hasFields_) return Fail(kErrorNoData, "The dataset holds no data packet");
    PacketWriter w(kind_, FieldDefs());
    w.SetReadOnly(readOnly_);
    for (const Param& p : params_) w.AddParam(p);
    for (const Chunk& c : chunks_)
      for (std::uint32_t i = 0; i < c.offsets.size(); ++i) w.AppendEncodedRow(EncodedRow(c, i));
    const std::vector<std::uint8_t> packet = w.Finish();
    auto* buffer = new std::uint8_t[packet.size()];
    std::memcpy(buffer, packet.data(), packet.size());
    *out = buffer;
    *size = static_cast<std::uint32_t>(packet.size());
    return kStatusOk;
  });
}

void Store::FreePacket(std::uint8_t* packet) {
  delete[] packet;
}

}  // namespace quor::engine
