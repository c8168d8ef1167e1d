#pragma once
// The data packet: the one byte layout in which the application server sends
// rows and the dataset engine reads them, and in which the engine sends the
// rows inserted locally (the delta) and the server answers with the rows it
// rejected. The byte table is in docs/packet-format.md; in short, all
// little-endian:
//
//   header (24 bytes)  magic "QVDP", version, kind, flags, total length,
//                      field count, row count, length of the descriptions
//   descriptions       per field: name, type, attributes, size, parameters;
//                      then the dataset's parameters (absent in rows-only
//                      packets)
//   rows               per row: [delta: change id, update status, posting
//                      time] null bitmap, then each non-null value
//
// PacketWriter builds a packet row by row, straight from typed values;
// PacketReader validates a whole packet (every offset and length, nothing
// allocated beyond what the input justifies) and then hands out rows.
// Both are plain values: one thread at a time per object.

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "engine/api/DSEngine.h"

namespace quor::engine {

inline constexpr std::uint8_t kPacketMagic[4] = {'Q', 'V', 'D', 'P'};
// Data and errors packets are version 1; the delta is version 2 (its rows
// carry their posting time, the packet its change log's identity). A
// reader takes each kind only in its own version.
inline constexpr std::uint8_t kPacketVersion = 1;
inline constexpr std::uint8_t kDeltaPacketVersion = 2;
inline constexpr std::uint32_t kPacketHeaderSize = 24;

enum class PacketKind : std::uint8_t {
  kData = 0,    // a provider's rows
  kDelta = 1,   // rows inserted locally, each with its change id
  kErrors = 2,  // the rows of a delta that the server rejected
};

constexpr std::uint8_t PacketVersion(PacketKind kind) {
  return kind == PacketKind::kDelta ? kDeltaPacketVersion : kPacketVersion;
}

// A delta row begins with a prefix before its null bitmap: the change id of
// the change log entry it came from (32 bits), its update status (one byte,
// kUnmodified or kInserted) and the time the row was posted (64 bits,
// milliseconds since 1970-01-01 UTC by the clock of the machine that posted
// it; 0 when not known). Rows of data and errors packets have none.
// The writer writes the prefix (BeginDeltaRow, AppendDeltaRowPrefix), the
// reader reads it (ReadDeltaRowPrefix); nothing else knows its bytes.
struct DeltaRowPrefix {
  std::uint32_t changeId = 0;
  UpdateStatus status = UpdateStatus::kInserted;
  std::int64_t postedAt = 0;
};
inline constexpr std::size_t kDeltaRowPrefixSize = 13;

// Dataset parameters of a delta that make a repeated delta recognisable:
// the identity of the change log it was taken from (16 random bytes, fixed
// for the life of the store; with the change id it names one posted row for
// ever) and when the delta was taken (8 bytes, milliseconds since 1970 UTC
// by the same clock as the rows' posting times, so that a receiver can tell
// how long ago each row was posted whatever that clock's error).
inline constexpr const char* kChangeLogParam = "CHANGE_LOG";
inline constexpr std::size_t kChangeLogIdSize = 16;
inline constexpr const char* kDeltaTimeParam = "DELTA_TIME";

// Bytes before the null bitmap of a row of a packet of this kind.
constexpr std::size_t RowPrefixSize(PacketKind kind) {
  return kind == PacketKind::kDelta ? kDeltaRowPrefixSize : 0;
}

// Appends the prefix of a delta row to `row`.
void AppendDeltaRowPrefix(std::vector<std::uint8_t>& row, DeltaRowPrefix prefix);
// The prefix at the start of an encoded delta row (at least
// kDeltaRowPrefixSize bytes; a validated row always has them).
DeltaRowPrefix ReadDeltaRowPrefix(std::span<const std::uint8_t> row);

// Header flags.
inline constexpr std::uint16_t kPacketHasDescriptions = 0x0001;
inline constexpr std::uint16_t kPacketReadOnly = 0x0002;  // the dataset may not be modified

// Limits every packet keeps; the reader refuses anything beyond them.
inline constexpr std::uint32_t kMaxFields = 1024;
inline constexpr std::uint32_t kMaxValueBytes = 65535;        // texts and bytes (16-bit lengths)
inline constexpr std::uint32_t kMaxRowBufferBytes = 1 << 20;  // a whole row buffer
inline constexpr std::uint32_t kMaxParamValueBytes = 1 << 20;

// FieldDef::size for a text or bytes field whose size the writer takes from
// the longest value it was given (at least one character).
inline constexpr std::uint32_t kSizeFromRows = 0;

// The fixed columns of an errors packet, in this order.
inline constexpr const char* kErrorRowField = "ROW";          // kInt32: 1-based delta row
inline constexpr const char* kErrorMessageField = "MESSAGE";  // kText16
inline constexpr const char* kErrorCodeField = "CODE";        // kInt32
inline constexpr const char* kErrorContextField = "CONTEXT";  // kText16

// A packet that cannot be written or read. Reader messages start with
// "Invalid data packet".
class PacketError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A named, typed parameter of the dataset or of one field. The value is held
// as it travels: boolean 1 byte (0/1), integer 4 bytes, text or bytes as is.
struct Param {
  std::string name;                      // ASCII in practice; at most 255 bytes
  FieldType type = FieldType::kBoolean;  // kBoolean, kInt32, kText8 or kBytes
  std::string value;

  static Param Boolean(std::string name, bool v);
  static Param Integer(std::string name, std::int32_t v);
  static Param Text(std::string name, std::string_view v);
  static Param Bytes(std::string name, std::string_view v);
  bool AsBoolean() const { return !value.empty() && value[0] != 0; }
  std::int32_t AsInteger() const;
};

struct FieldDef {
  std::string name;  // UTF-8, 1 to 255 bytes
  FieldType type = FieldType::kText16;
  // Fixed types: ignored (their width is written). Texts and bytes: the
  // longest value in bytes (UTF-16: 2 per unit), at most kMaxValueBytes, or
  // kSizeFromRows.
  std::uint32_t size = kSizeFromRows;
  std::uint16_t attributes = 0;  // kFieldRequired, kFieldReadOnly, kFieldHidden
  std::vector<Param> params;
};

// The fields of an errors packet.
std::vector<FieldDef> ErrorPacketFields();

class PacketWriter {
 public:
  // withDescriptions false writes a rows-only packet (a further packet of a
  // result whose first packet described the fields).
  PacketWriter(PacketKind kind, std::vector<FieldDef> fields, bool withDescriptions = true);

  void SetReadOnly(bool readOnly) { readOnly_ = readOnly; }
  void AddParam(Param param);

  // One row: BeginRow (or BeginDeltaRow in a delta), one Add per field in
  // column order, EndRow. The Add calls convert where nothing is lost
  // (integers into a double or a text column as decimal digits, texts between
  // UTF-8, UTF-16 and GBK) and throw PacketError otherwise, or when a value
  // is longer than its field's declared size.
  void BeginRow();
  void BeginDeltaRow(std::uint32_t changeId, UpdateStatus status, std::int64_t postedAt = 0);
  void AddNull();
  void AddInt64(std::int64_t v);
  void AddDouble(double v);
  void AddBoolean(bool v);
  void AddText8(std::string_view gbk);
  void AddText16(std::u16string_view text);
  void AddTextUtf8(std::string_view utf8);
  void AddBytes(std::string_view bytes);
  void EndRow();

  // Appends a row already encoded in this packet's row layout (as a reader or
  // the engine holds it); trusted, so only whole validated rows belong here.
  // Does not count toward kSizeFromRows sizes.
  void AppendEncodedRow(std::span<const std::uint8_t> row);
  // The same for a delta, from a row encoded without prefix (as a data
  // packet holds it): the prefix goes first.
  void AppendEncodedDeltaRow(DeltaRowPrefix prefix, std::span<const std::uint8_t> dataRow);

  std::uint32_t RowCount() const { return rowCount_; }
  // Bytes of row data written so far.
  std::size_t RowBytes() const { return end_ - prefix_; }

  // The finished packet; the writer is spent afterwards.
  std::vector<std::uint8_t> Finish();

 private:
  void PutLengthPrefixed(std::size_t length);
  void PutRowBytes(const void* data, std::size_t size);
  // The open row's null bitmap (at bitmapAt_), every field not null.
  void ClearBitmap();
  // Room for `count` more row bytes, their contents unspecified: the caller
  // writes every one. Inline: it runs for every value of every row.
  std::uint8_t* Extend(std::size_t count) {
    if (count > rows_.size() - end_) [[unlikely]]
      Grow(count);
    std::uint8_t* at = rows_.data() + end_;
    end_ += count;
    return at;
  }
  void Grow(std::size_t count);
  // The header and descriptions are written in front of the rows when the
  // packet is finished; their room is kept from the first row on, so the rows
  // need not be copied then.
  void ReservePrefix();
  std::size_t DescriptionsSize() const;
  const FieldDef& NextField(const char* what) {
    if (!inRow_ || field_ >= fields_.size()) [[unlikely]]
      NoField(what);
    return fields_[field_];
  }
  [[noreturn]] void NoField(const char* what) const;
  void CheckLength(const FieldDef& f, std::size_t length) {
    const std::size_t limit = f.size == kSizeFromRows ? kMaxValueBytes : f.size;
    if (length > limit) [[unlikely]]
      TooLong(f, limit);
    if (length > longest_[field_]) longest_[field_] = static_cast<std::uint32_t>(length);
  }
  [[noreturn]] static void TooLong(const FieldDef& f, std::size_t limit);

  PacketKind kind_;
  std::vector<FieldDef> fields_;
  bool withDescriptions_;
  bool readOnly_ = false;
  std::vector<Param> params_;
  std::vector<std::uint32_t> longest_;  // per field, for kSizeFromRows
  // [prefix_ bytes of room] then the rows, up to end_; the bytes beyond end_
  // are room for the next values (grown by doubling, never shrunk).
  std::vector<std::uint8_t> rows_;
  std::size_t end_ = 0;
  std::size_t prefix_ = 0;
  std::uint32_t rowCount_ = 0;
  bool inRow_ = false;
  std::size_t field_ = 0;     // next field of the open row
  std::size_t bitmapAt_ = 0;  // offset of the open row's null bitmap
};

// A field as a packet describes it.
struct FieldInfo {
  std::string name;  // UTF-8 as it travels
  FieldType type = FieldType::kInt32;
  std::uint32_t size = 0;
  std::uint16_t attributes = 0;
  std::vector<Param> params;
};

// The width of a fixed type, 0 for texts and bytes.
inline std::uint32_t FixedWidth(FieldType type) {
  switch (type) {
    case FieldType::kInt32:
      return 4;
    case FieldType::kInt64:
    case FieldType::kDouble:
      return 8;
    case FieldType::kBoolean:
      return 1;
    default:
      return 0;
  }
}

class PacketReader;

// One validated row of a packet. Valid while the reader and its bytes live.
class RowView {
 public:
  bool IsNull(std::size_t field) const;
  // Integers: kInt32, kInt64 or kBoolean columns.
  std::int64_t Integer(std::size_t field) const;
  double Double(std::size_t field) const;  // kDouble, or any integer column
  bool Boolean(std::size_t field) const;
  // The value's bytes (texts and bytes: without the length; fixed types: LE).
  std::span<const std::uint8_t> Raw(std::size_t field) const;
  // Texts converted as asked, from either text type.
  std::u16string Text16(std::size_t field) const;
  std::string TextUtf8(std::size_t field) const;
  std::string Text8(std::size_t field) const;  // GBK
  // Delta rows only.
  std::uint32_t ChangeId() const;
  UpdateStatus Status() const;
  std::int64_t PostedAt() const;
  // The row as encoded (prefix, bitmap and values).
  std::span<const std::uint8_t> Encoded() const { return bytes_; }

 private:
  friend class PacketReader;
  RowView(const PacketReader* reader, std::span<const std::uint8_t> bytes)
      : reader_(reader), bytes_(bytes) {}
  const PacketReader* reader_;
  std::span<const std::uint8_t> bytes_;
};

class PacketReader {
 public:
  // Validates the whole packet; throws PacketError ("Invalid data packet: …").
  // known gives the fields to decode a rows-only packet by, and the sizes its
  // values must fit; when both the packet and known describe fields, their
  // count and types must agree. The bytes must outlive the reader.
  explicit PacketReader(std::span<const std::uint8_t> packet,
                        const std::vector<FieldInfo>* known = nullptr);

  PacketKind Kind() const { return kind_; }
  std::uint16_t Flags() const { return flags_; }
  bool HasDescriptions() const { return (flags_ & kPacketHasDescriptions) != 0; }
  bool ReadOnly() const { return (flags_ & kPacketReadOnly) != 0; }

  std::uint32_t FieldCount() const { return fieldCount_; }
  // The fields rows are decoded by: the packet's own descriptions, else known.
  const std::vector<FieldInfo>& Fields() const { return *fields_; }
  // The packet's own descriptions (empty in a rows-only packet).
  const std::vector<FieldInfo>& Described() const { return described_; }
  const std::vector<Param>& Params() const { return params_; }
  // A parameter of the dataset (fieldNo 0) or of a field (1-based); null when
  // the packet has none of that name (names compare exactly).
  const Param* FindParam(std::uint32_t fieldNo, std::string_view name) const;

  std::uint32_t RowCount() const { return static_cast<std::uint32_t>(offsets_.size()); }
  RowView Row(std::uint32_t index) const;
  // The rows section and where each row starts in it.
  std::span<const std::uint8_t> RowSection() const { return rows_; }
  const std::vector<std::uint32_t>& RowOffsets() const { return offsets_; }
  std::vector<std::uint32_t> TakeRowOffsets() { return std::move(offsets_); }

 private:
  friend class RowView;
  void ParseDescriptions(std::span<const std::uint8_t> section);
  void ValidateRows();

  PacketKind kind_ = PacketKind::kData;
  std::uint16_t flags_ = 0;
  std::uint32_t fieldCount_ = 0;
  std::vector<FieldInfo> described_;
  const std::vector<FieldInfo>* fields_ = &described_;
  std::vector<Param> params_;
  std::span<const std::uint8_t> rows_;
  std::vector<std::uint32_t> offsets_;
  std::uint32_t declaredRows_ = 0;
};

// Walks an encoded, validated row: calls visit(fieldIndex, isNull, value,
// length) for every field in order, value pointing at the value's bytes (after
// a length prefix). The engine's and the reader's one decoder.
template <class Visit>
void VisitRow(const std::vector<FieldInfo>& fields, PacketKind kind, const std::uint8_t* row,
              Visit&& visit) {
  const std::uint8_t* p = row + RowPrefixSize(kind);
  const std::uint8_t* bitmap = p;
  p += (fields.size() + 7) / 8;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (bitmap[i / 8] & (1u << (i % 8))) {
      visit(i, true, p, std::uint32_t{0});
      continue;
    }
    std::uint32_t len = FixedWidth(fields[i].type);
    if (len == 0) {
      len = static_cast<std::uint32_t>(p[0] | (p[1] << 8));
      p += 2;
    }
    visit(i, false, p, len);
    p += len;
  }
}

}  // namespace quor::engine
