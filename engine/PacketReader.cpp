#include <cstring>

#include "engine/Packet.h"
#include "platform/Codepage.h"

namespace quor::engine {
namespace {

[[noreturn]] void Invalid(const std::string& why) {
  throw PacketError("Invalid data packet: " + why);
}

std::uint32_t Get32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint16_t Get16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint64_t Get64(const std::uint8_t* p) {
  return static_cast<std::uint64_t>(Get32(p)) | (static_cast<std::uint64_t>(Get32(p + 4)) << 32);
}

// Reads forward through a bounded span; every read checks what is left.
class Scanner {
 public:
  explicit Scanner(std::span<const std::uint8_t> s) : s_(s) {}
  std::size_t Left() const { return s_.size() - pos_; }
  const std::uint8_t* Take(std::size_t n, const char* what) {
    if (n > Left()) Invalid(std::string(what) + " runs past the end");
    const std::uint8_t* p = s_.data() + pos_;
    pos_ += n;
    return p;
  }
  std::uint8_t U8(const char* what) { return *Take(1, what); }
  std::uint16_t U16(const char* what) { return Get16(Take(2, what)); }
  std::uint32_t U32(const char* what) { return Get32(Take(4, what)); }

 private:
  std::span<const std::uint8_t> s_;
  std::size_t pos_ = 0;
};

bool KnownType(std::uint8_t t) {
  return t >= 1 && t <= 7;
}

// Smallest encoded parameter: name length, one name byte, type, value length.
constexpr std::size_t kMinParamBytes = 7;
// Smallest encoded field description without parameters.
constexpr std::size_t kMinFieldBytes = 11;

std::vector<Param> ReadParams(Scanner& in, const char* owner) {
  const std::uint16_t count = in.U16("a parameter count");
  if (count > in.Left() / kMinParamBytes) Invalid(std::string("too many parameters of ") + owner);
  std::vector<Param> params;
  params.reserve(count);
  for (std::uint16_t i = 0; i < count; ++i) {
    Param p;
    const std::uint8_t nameLen = in.U8("a parameter name");
    if (nameLen == 0) Invalid("a parameter has an empty name");
    const std::uint8_t* name = in.Take(nameLen, "a parameter name");
    p.name.assign(reinterpret_cast<const char*>(name), nameLen);
    const std::uint8_t type = in.U8("a parameter type");
    p.type = static_cast<FieldType>(type);
    const std::uint32_t len = in.U32("a parameter length");
    if (len > kMaxParamValueBytes) Invalid("parameter '" + p.name + "' is too long");
    const std::uint8_t* value = in.Take(len, "a parameter value");
    switch (p.type) {
      case FieldType::kBoolean:
        if (len != 1 || value[0] > 1) Invalid("parameter '" + p.name + "' is not a boolean");
        break;
      case FieldType::kInt32:
        if (len != 4) Invalid("parameter '" + p.name + "' is not a 32-bit integer");
        break;
      case FieldType::kText8:
      case FieldType::kBytes:
        break;
      default:
        Invalid("parameter '" + p.name + "' has an unknown type");
    }
    p.value.assign(reinterpret_cast<const char*>(value), len);
    params.push_back(std::move(p));
  }
  return params;
}

}  // namespace

PacketReader::PacketReader(std::span<const std::uint8_t> packet,
                           const std::vector<FieldInfo>* known) {
  if (packet.size() < kPacketHeaderSize) Invalid("shorter than its header");
  const std::uint8_t* h = packet.data();
  if (std::memcmp(h, kPacketMagic, 4) != 0) Invalid("not a data packet");
  if (h[5] > static_cast<std::uint8_t>(PacketKind::kErrors)) Invalid("unknown packet kind");
  kind_ = static_cast<PacketKind>(h[5]);
  if (h[4] != PacketVersion(kind_))
    Invalid("version " + std::to_string(h[4]) + " is not known for this kind of packet");
  flags_ = Get16(h + 6);
  if ((flags_ & ~(kPacketHasDescriptions | kPacketReadOnly)) != 0) Invalid("unknown flags");
  if (Get32(h + 8) != packet.size()) Invalid("its length does not match its size");
  fieldCount_ = Get32(h + 12);
  declaredRows_ = Get32(h + 16);
  const std::uint32_t descLen = Get32(h + 20);
  if (descLen > packet.size() - kPacketHeaderSize) Invalid("the descriptions run past the end");
  if (fieldCount_ > kMaxFields) Invalid("more than 1024 fields");

  const auto desc = packet.subspan(kPacketHeaderSize, descLen);
  rows_ = packet.subspan(kPacketHeaderSize + descLen);
  if (HasDescriptions()) {
    ParseDescriptions(desc);
    if (known != nullptr) {
      if (known->size() != described_.size()) Invalid("its fields differ from the first packet");
      for (std::size_t i = 0; i < known->size(); ++i)
        if ((*known)[i].type != described_[i].type)
          Invalid("the type of field '" + described_[i].name + "' differs from the first packet");
      fields_ = known;
    }
  } else {
    if (descLen != 0) Invalid("descriptions without their flag");
    if (known == nullptr) Invalid("rows without field descriptions");
    if (known->size() != fieldCount_) Invalid("its field count differs from the first packet");
    fields_ = known;
  }
  ValidateRows();
}

void PacketReader::ParseDescriptions(std::span<const std::uint8_t> section) {
  Scanner in(section);
  if (fieldCount_ > in.Left() / kMinFieldBytes) Invalid("the field count exceeds the descriptions");
  described_.reserve(fieldCount_);
  std::uint64_t rowBuffer = 0;
  for (std::uint32_t i = 0; i < fieldCount_; ++i) {
    FieldInfo f;
    const std::uint8_t nameLen = in.U8("a field name");
    if (nameLen == 0) Invalid("field " + std::to_string(i + 1) + " has an empty name");
    f.name.assign(reinterpret_cast<const char*>(in.Take(nameLen, "a field name")), nameLen);
    const std::uint8_t type = in.U8("a field type");
    if (!KnownType(type)) Invalid("field '" + f.name + "' has an unknown type");
    f.type = static_cast<FieldType>(type);
    if (in.U8("a field description") != 0)
      Invalid("field '" + f.name + "' has a reserved byte set");
    f.attributes = in.U16("field attributes");
    f.size = in.U32("a field size");
    if (const std::uint32_t w = FixedWidth(f.type)) {
      if (f.size != w) Invalid("field '" + f.name + "' has a size that its type does not have");
    } else if (f.size == 0 || f.size > kMaxValueBytes ||
               (f.type == FieldType::kText16 && f.size % 2 != 0)) {
      Invalid("field '" + f.name + "' has an impossible size");
    }
    rowBuffer += f.size + 3;
    f.params = ReadParams(in, "a field");
    described_.push_back(std::move(f));
  }
  if (rowBuffer > kMaxRowBufferBytes) Invalid("its rows are wider than 1 MiB");
  params_ = ReadParams(in, "the dataset");
  if (in.Left() != 0) Invalid("bytes left over after the descriptions");
}

void PacketReader::ValidateRows() {
  const std::vector<FieldInfo>& fields = *fields_;
  const std::size_t n = fields.size();
  const std::size_t prefix = RowPrefixSize(kind_);
  const std::size_t bitmapBytes = (n + 7) / 8;
  const std::size_t minRow = prefix + bitmapBytes;
  if (n == 0) {
    if (declaredRows_ != 0 || !rows_.empty()) Invalid("rows without fields");
    return;
  }
  if (declaredRows_ > rows_.size() / minRow) Invalid("the row count exceeds the rows");
  offsets_.reserve(declaredRows_);
  Scanner in(rows_);
  for (std::uint32_t r = 0; r < declaredRows_; ++r) {
    offsets_.push_back(static_cast<std::uint32_t>(rows_.size() - in.Left()));
    if (prefix != 0) {
      const std::uint8_t* at = in.Take(4, "a change id");
      in.Take(1, "an update status");
      in.Take(8, "a posting time");
      const UpdateStatus status = ReadDeltaRowPrefix({at, prefix}).status;
      if (status != UpdateStatus::kUnmodified && status != UpdateStatus::kInserted)
        Invalid("row " + std::to_string(r + 1) + " has an unknown update status");
    }
    const std::uint8_t* bitmap = in.Take(bitmapBytes, "a null bitmap");
    if (n % 8 != 0 && (bitmap[bitmapBytes - 1] >> (n % 8)) != 0)
      Invalid("row " + std::to_string(r + 1) + " marks fields it does not have");
    for (std::size_t i = 0; i < n; ++i) {
      if (bitmap[i / 8] & (1u << (i % 8))) continue;
      const FieldInfo& f = fields[i];
      if (const std::uint32_t w = FixedWidth(f.type)) {
        const std::uint8_t* v = in.Take(w, "a value");
        if (f.type == FieldType::kBoolean && v[0] > 1)
          Invalid("field '" + f.name + "' holds a boolean other than 0 or 1");
        continue;
      }
      const std::uint16_t len = in.U16("a value length");
      if (len > f.size) Invalid("a value of field '" + f.name + "' is longer than its size");
      if (f.type == FieldType::kText16 && len % 2 != 0)
        Invalid("a value of field '" + f.name + "' has an odd byte length");
      in.Take(len, "a value");
    }
  }
  if (in.Left() != 0) Invalid("bytes left over after the last row");
}

const Param* PacketReader::FindParam(std::uint32_t fieldNo, std::string_view name) const {
  const std::vector<Param>* list = &params_;
  if (fieldNo != 0) {
    if (fieldNo > described_.size()) return nullptr;
    list = &described_[fieldNo - 1].params;
  }
  for (const Param& p : *list)
    if (p.name == name) return &p;
  return nullptr;
}

RowView PacketReader::Row(std::uint32_t index) const {
  if (index >= offsets_.size()) throw PacketError("Data packet: row index out of range");
  const std::size_t begin = offsets_[index];
  const std::size_t end = index + 1 < offsets_.size() ? offsets_[index + 1] : rows_.size();
  return RowView(this, rows_.subspan(begin, end - begin));
}

// RowView ------------------------------------------------------------------

namespace {
struct Located {
  bool isNull = true;
  const std::uint8_t* value = nullptr;
  std::uint32_t length = 0;
};
}  // namespace

static Located Locate(const std::vector<FieldInfo>& fields, PacketKind kind,
                      std::span<const std::uint8_t> row, std::size_t field) {
  if (field >= fields.size()) throw PacketError("Data packet: field index out of range");
  Located out;
  VisitRow(fields, kind, row.data(),
           [&](std::size_t i, bool isNull, const std::uint8_t* v, std::uint32_t len) {
             if (i == field) out = Located{isNull, v, len};
           });
  return out;
}

bool RowView::IsNull(std::size_t field) const {
  return Locate(reader_->Fields(), reader_->Kind(), bytes_, field).isNull;
}

std::span<const std::uint8_t> RowView::Raw(std::size_t field) const {
  const Located l = Locate(reader_->Fields(), reader_->Kind(), bytes_, field);
  if (l.isNull) return {};
  return {l.value, l.length};
}

std::int64_t RowView::Integer(std::size_t field) const {
  const Located l = Locate(reader_->Fields(), reader_->Kind(), bytes_, field);
  if (l.isNull) return 0;
  switch (reader_->Fields()[field].type) {
    case FieldType::kInt32:
      return static_cast<std::int32_t>(Get32(l.value));
    case FieldType::kInt64:
      return static_cast<std::int64_t>(Get64(l.value));
    case FieldType::kBoolean:
      return l.value[0];
    default:
      throw PacketError("Data packet: field is not an integer");
  }
}

double RowView::Double(std::size_t field) const {
  if (reader_->Fields().at(field).type != FieldType::kDouble)
    return static_cast<double>(Integer(field));
  const Located l = Locate(reader_->Fields(), reader_->Kind(), bytes_, field);
  if (l.isNull) return 0;
  const std::uint64_t bits = Get64(l.value);
  double d = 0;
  std::memcpy(&d, &bits, 8);
  return d;
}

bool RowView::Boolean(std::size_t field) const {
  return Integer(field) != 0;
}

std::u16string RowView::Text16(std::size_t field) const {
  const FieldType type = reader_->Fields().at(field).type;
  const auto raw = Raw(field);
  if (type == FieldType::kText8) {
    return platform::GbkToUtf16(
        std::string_view(reinterpret_cast<const char*>(raw.data()), raw.size()));
  }
  if (type != FieldType::kText16) throw PacketError("Data packet: field is not text");
  std::u16string s(raw.size() / 2, u'\0');
  for (std::size_t i = 0; i < s.size(); ++i)
    s[i] = static_cast<char16_t>(Get16(raw.data() + 2 * i));
  return s;
}

std::string RowView::TextUtf8(std::size_t field) const {
  if (reader_->Fields().at(field).type == FieldType::kText8)
    return platform::GbkToUtf8(Text8(field));
  return platform::Utf16ToUtf8(Text16(field));
}

std::string RowView::Text8(std::size_t field) const {
  const FieldType type = reader_->Fields().at(field).type;
  if (type == FieldType::kText16) return platform::Utf16ToGbk(Text16(field));
  if (type != FieldType::kText8 && type != FieldType::kBytes)
    throw PacketError("Data packet: field is not text");
  const auto raw = Raw(field);
  return std::string(reinterpret_cast<const char*>(raw.data()), raw.size());
}

DeltaRowPrefix ReadDeltaRowPrefix(std::span<const std::uint8_t> row) {
  if (row.size() < kDeltaRowPrefixSize) Invalid("a delta row without its change id");
  return DeltaRowPrefix{Get32(row.data()), static_cast<UpdateStatus>(row[4]),
                        static_cast<std::int64_t>(Get64(row.data() + 5))};
}

std::uint32_t RowView::ChangeId() const {
  if (reader_->Kind() != PacketKind::kDelta) return 0;
  return ReadDeltaRowPrefix(bytes_).changeId;
}

UpdateStatus RowView::Status() const {
  if (reader_->Kind() != PacketKind::kDelta) return UpdateStatus::kUnmodified;
  return ReadDeltaRowPrefix(bytes_).status;
}

std::int64_t RowView::PostedAt() const {
  if (reader_->Kind() != PacketKind::kDelta) return 0;
  return ReadDeltaRowPrefix(bytes_).postedAt;
}

}  // namespace quor::engine
