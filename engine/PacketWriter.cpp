#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <limits>

#include "engine/Packet.h"
#include "platform/Codepage.h"

namespace quor::engine {
namespace {

void Put8(std::vector<std::uint8_t>& out, std::uint8_t v) {
  out.push_back(v);
}
void Put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void PutBytes(std::vector<std::uint8_t>& out, std::string_view s) {
  out.insert(out.end(), s.begin(), s.end());
}

std::string Le32(std::uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
  return s;
}

void CheckName(const std::string& name, const char* what) {
  if (name.empty() || name.size() > 255)
    throw PacketError(std::string("Data packet: ") + what + " name must have 1 to 255 bytes");
}

void PutParams(std::vector<std::uint8_t>& out, const std::vector<Param>& params) {
  if (params.size() > 0xFFFF) throw PacketError("Data packet: too many parameters");
  Put16(out, static_cast<std::uint16_t>(params.size()));
  for (const Param& p : params) {
    CheckName(p.name, "parameter");
    if (p.value.size() > kMaxParamValueBytes)
      throw PacketError("Data packet: value of parameter '" + p.name + "' is too long");
    Put8(out, static_cast<std::uint8_t>(p.name.size()));
    PutBytes(out, p.name);
    Put8(out, static_cast<std::uint8_t>(p.type));
    Put32(out, static_cast<std::uint32_t>(p.value.size()));
    PutBytes(out, p.value);
  }
}

// UTF-8 straight into UTF-16LE bytes at `out` (room for 2 bytes per input
// byte, the most it can take); returns the bytes written. The server's hot
// path (every text column of every row), so it skips the general converter
// and copies runs of ASCII without a branch per byte. Invalid or overlong
// sequences become U+FFFD, one per byte, as the converter does.
std::size_t Utf8ToUtf16Le(std::string_view s, std::uint8_t* out) {
  std::uint8_t* const begin = out;
  auto unit = [&out](std::uint32_t u) {
    out[0] = static_cast<std::uint8_t>(u);
    out[1] = static_cast<std::uint8_t>(u >> 8);
    out += 2;
  };
  const auto* p = reinterpret_cast<const std::uint8_t*>(s.data());
  const std::size_t n = s.size();
  std::size_t i = 0;
  while (i < n) {
    const std::uint32_t c = p[i];
    if (c < 0x80) {
      // An ASCII run (titles in Latin letters are whole runs): eight bytes
      // at once while they last.
      while (n - i >= 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, p + i, 8);
        if ((word & 0x8080808080808080u) != 0) break;
        for (std::size_t k = 0; k < 8; ++k) {
          out[2 * k] = p[i + k];
          out[2 * k + 1] = 0;
        }
        out += 16;
        i += 8;
      }
      while (i < n && p[i] < 0x80) unit(p[i++]);
      continue;
    }
    // Chinese text is three-byte sequences: decoded straight, the general
    // path below takes everything else and every malformed sequence.
    if ((c & 0xF0) == 0xE0 && i + 2 < n && (p[i + 1] & 0xC0) == 0x80 && (p[i + 2] & 0xC0) == 0x80) {
      const std::uint32_t u = ((c & 0x0F) << 12) | ((p[i + 1] & 0x3Fu) << 6) | (p[i + 2] & 0x3Fu);
      if (u >= 0x800 && (u < 0xD800 || u > 0xDFFF)) {
        unit(u);
        i += 3;
        continue;
      }
    }
    std::size_t len = 0;
    std::uint32_t cp = 0;
    std::uint32_t min = 0;
    if ((c & 0xE0) == 0xC0) {
      len = 2, cp = c & 0x1F, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3, cp = c & 0x0F, min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      len = 4, cp = c & 0x07, min = 0x10000;
    }
    bool ok = len != 0 && i + len <= n;
    for (std::size_t k = 1; ok && k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    if (ok && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) ok = false;
    if (!ok) {
      unit(0xFFFD);
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      unit(0xD800 + (cp >> 10));
      unit(0xDC00 + (cp & 0x3FF));
    } else {
      unit(cp);
    }
    i += len;
  }
  return static_cast<std::size_t>(out - begin);
}

// The bytes PutParams writes for these parameters.
std::size_t ParamsSize(const std::vector<Param>& params) {
  std::size_t n = 2;
  for (const Param& p : params) n += 1 + p.name.size() + 1 + 4 + p.value.size();
  return n;
}

void StoreLe(std::uint8_t* at, std::uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

Param Param::Boolean(std::string name, bool v) {
  return Param{std::move(name), FieldType::kBoolean, std::string(1, v ? '\1' : '\0')};
}
Param Param::Integer(std::string name, std::int32_t v) {
  return Param{std::move(name), FieldType::kInt32, Le32(static_cast<std::uint32_t>(v))};
}
Param Param::Text(std::string name, std::string_view v) {
  return Param{std::move(name), FieldType::kText8, std::string(v)};
}
Param Param::Bytes(std::string name, std::string_view v) {
  return Param{std::move(name), FieldType::kBytes, std::string(v)};
}
std::int32_t Param::AsInteger() const {
  if (value.size() != 4) return 0;
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i)
    v = (v << 8) | static_cast<std::uint8_t>(value[static_cast<std::size_t>(i)]);
  return static_cast<std::int32_t>(v);
}

std::vector<FieldDef> ErrorPacketFields() {
  return {
      FieldDef{kErrorRowField, FieldType::kInt32, 4, kFieldRequired, {}},
      FieldDef{kErrorMessageField, FieldType::kText16, kSizeFromRows, 0, {}},
      FieldDef{kErrorCodeField, FieldType::kInt32, 4, 0, {}},
      FieldDef{kErrorContextField, FieldType::kText16, kSizeFromRows, 0, {}},
  };
}

PacketWriter::PacketWriter(PacketKind kind, std::vector<FieldDef> fields, bool withDescriptions)
    : kind_(kind), fields_(std::move(fields)), withDescriptions_(withDescriptions) {
  if (fields_.size() > kMaxFields) throw PacketError("Data packet: more than 1024 fields");
  for (FieldDef& f : fields_) {
    CheckName(f.name, "field");
    if (static_cast<std::uint8_t>(f.type) < 1 || static_cast<std::uint8_t>(f.type) > 7)
      throw PacketError("Data packet: field '" + f.name + "' has an unknown type");
    if (const std::uint32_t w = FixedWidth(f.type)) f.size = w;
    if (f.size > kMaxValueBytes)
      throw PacketError("Data packet: field '" + f.name + "' is larger than 65535 bytes");
    if (f.type == FieldType::kText16 && f.size % 2 != 0) ++f.size;
  }
  longest_.assign(fields_.size(), 0);
}

void PacketWriter::AddParam(Param param) {
  params_.push_back(std::move(param));
}

void PacketWriter::BeginRow() {
  if (inRow_) throw PacketError("Data packet: a row was begun inside a row");
  if (kind_ == PacketKind::kDelta) throw PacketError("Data packet: delta rows need a change id");
  if (fields_.empty()) throw PacketError("Data packet: a row needs at least one field");
  ReservePrefix();
  inRow_ = true;
  field_ = 0;
  bitmapAt_ = end_;
  ClearBitmap();
}

namespace {
void EncodeDeltaRowPrefix(std::uint8_t* out, DeltaRowPrefix prefix) {
  StoreLe(out, prefix.changeId, 4);
  out[4] = static_cast<std::uint8_t>(prefix.status);
  StoreLe(out + 5, static_cast<std::uint64_t>(prefix.postedAt), 8);
}
}  // namespace

void AppendDeltaRowPrefix(std::vector<std::uint8_t>& row, DeltaRowPrefix prefix) {
  std::uint8_t bytes[kDeltaRowPrefixSize];
  EncodeDeltaRowPrefix(bytes, prefix);
  row.insert(row.end(), bytes, bytes + kDeltaRowPrefixSize);
}

void PacketWriter::Grow(std::size_t count) {
  if (count > std::numeric_limits<std::size_t>::max() / 4 - end_)
    throw PacketError("Data packet: larger than 4 GiB");
  // Doubling: a packet of n bytes is grown (and cleared, as resize does)
  // about log2(n) times, never once per value.
  rows_.resize(std::max({rows_.size() * 2, end_ + count, std::size_t{64} << 10}));
}

void PacketWriter::ClearBitmap() {
  // Most rows have at most eight fields: one byte, not a call to memset.
  const std::size_t bitmap = (fields_.size() + 7) / 8;
  std::uint8_t* at = Extend(bitmap);
  if (bitmap == 1) {
    *at = 0;
  } else {
    std::memset(at, 0, bitmap);
  }
}

void PacketWriter::PutRowBytes(const void* data, std::size_t size) {
  if (size != 0) std::memcpy(Extend(size), data, size);
}

std::size_t PacketWriter::DescriptionsSize() const {
  if (!withDescriptions_) return 0;
  std::size_t n = ParamsSize(params_);
  for (const FieldDef& f : fields_) n += 1 + f.name.size() + 1 + 1 + 2 + 4 + ParamsSize(f.params);
  return n;
}

void PacketWriter::ReservePrefix() {
  if (prefix_ != 0) return;
  prefix_ = kPacketHeaderSize + DescriptionsSize();
  rows_.resize(std::max<std::size_t>(prefix_ + 4096, 64 << 10));
  end_ = prefix_;
}

void PacketWriter::BeginDeltaRow(std::uint32_t changeId, UpdateStatus status,
                                 std::int64_t postedAt) {
  if (inRow_) throw PacketError("Data packet: a row was begun inside a row");
  if (kind_ != PacketKind::kDelta) throw PacketError("Data packet: change ids belong to deltas");
  if (fields_.empty()) throw PacketError("Data packet: a row needs at least one field");
  ReservePrefix();
  EncodeDeltaRowPrefix(Extend(kDeltaRowPrefixSize), {changeId, status, postedAt});
  inRow_ = true;
  field_ = 0;
  bitmapAt_ = end_;
  ClearBitmap();
}

void PacketWriter::NoField(const char* what) const {
  if (!inRow_) throw PacketError(std::string("Data packet: ") + what + " outside a row");
  throw PacketError("Data packet: more values than fields");
}

void PacketWriter::TooLong(const FieldDef& f, std::size_t limit) {
  throw PacketError("Data packet: value of field '" + f.name + "' is longer than " +
                    std::to_string(limit) + " bytes");
}

void PacketWriter::AddNull() {
  NextField("a value");
  rows_[bitmapAt_ + field_ / 8] |= static_cast<std::uint8_t>(1u << (field_ % 8));
  ++field_;
}

void PacketWriter::AddInt64(std::int64_t v) {
  const FieldDef& f = NextField("a value");
  switch (f.type) {
    case FieldType::kInt32:
      if (v < std::numeric_limits<std::int32_t>::min() ||
          v > std::numeric_limits<std::int32_t>::max())
        throw PacketError("Data packet: value of field '" + f.name + "' does not fit 32 bits");
      StoreLe(Extend(4), static_cast<std::uint64_t>(v), 4);
      break;
    case FieldType::kInt64:
      StoreLe(Extend(8), static_cast<std::uint64_t>(v), 8);
      break;
    case FieldType::kDouble: {
      const double d = static_cast<double>(v);
      std::uint64_t bits = 0;
      std::memcpy(&bits, &d, 8);
      StoreLe(Extend(8), bits, 8);
      break;
    }
    case FieldType::kBoolean:
      *Extend(1) = v != 0 ? 1 : 0;
      break;
    case FieldType::kText8:
    case FieldType::kText16: {
      char digits[24];
      const int n = std::snprintf(digits, sizeof digits, "%" PRId64, v);
      AddTextUtf8(std::string_view(digits, static_cast<std::size_t>(n)));
      return;
    }
    case FieldType::kBytes:
      throw PacketError("Data packet: field '" + f.name + "' holds bytes, not an integer");
  }
  ++field_;
}

void PacketWriter::AddDouble(double v) {
  const FieldDef& f = NextField("a value");
  if (f.type == FieldType::kText8 || f.type == FieldType::kText16) {
    char digits[32];
    const int n = std::snprintf(digits, sizeof digits, "%.17g", v);
    AddTextUtf8(std::string_view(digits, static_cast<std::size_t>(n)));
    return;
  }
  if (f.type != FieldType::kDouble)
    throw PacketError("Data packet: field '" + f.name + "' does not hold a real number");
  std::uint64_t bits = 0;
  std::memcpy(&bits, &v, 8);
  StoreLe(Extend(8), bits, 8);
  ++field_;
}

void PacketWriter::AddBoolean(bool v) {
  const FieldDef& f = NextField("a value");
  if (f.type != FieldType::kBoolean) {
    AddInt64(v ? 1 : 0);
    return;
  }
  *Extend(1) = v ? 1 : 0;
  ++field_;
}

void PacketWriter::PutLengthPrefixed(std::size_t length) {
  std::uint8_t* at = Extend(2);
  at[0] = static_cast<std::uint8_t>(length);
  at[1] = static_cast<std::uint8_t>(length >> 8);
}

void PacketWriter::AddText8(std::string_view gbk) {
  const FieldDef& f = NextField("a value");
  if (f.type == FieldType::kText16) {
    AddText16(platform::GbkToUtf16(gbk));
    return;
  }
  if (f.type != FieldType::kText8 && f.type != FieldType::kBytes)
    throw PacketError("Data packet: field '" + f.name + "' does not hold text");
  CheckLength(f, gbk.size());
  PutLengthPrefixed(gbk.size());
  PutRowBytes(gbk.data(), gbk.size());
  ++field_;
}

void PacketWriter::AddText16(std::u16string_view text) {
  const FieldDef& f = NextField("a value");
  if (f.type == FieldType::kText8) {
    AddText8(platform::Utf16ToGbk(text));
    return;
  }
  if (f.type != FieldType::kText16)
    throw PacketError("Data packet: field '" + f.name + "' does not hold text");
  CheckLength(f, text.size() * 2);
  PutLengthPrefixed(text.size() * 2);
  std::uint8_t* out = Extend(text.size() * 2);
  for (const char16_t u : text) {
    out[0] = static_cast<std::uint8_t>(u);
    out[1] = static_cast<std::uint8_t>(u >> 8);
    out += 2;
  }
  ++field_;
}

void PacketWriter::AddTextUtf8(std::string_view utf8) {
  const FieldDef& f = NextField("a value");
  if (f.type == FieldType::kText8) {
    AddText8(platform::Utf8ToGbk(utf8));
    return;
  }
  if (f.type == FieldType::kBytes) {
    AddBytes(utf8);
    return;
  }
  if (f.type != FieldType::kText16)
    throw PacketError("Data packet: field '" + f.name + "' does not hold text");
  // Room for the length and the most the units can take; the length is
  // written once the units are, and the room left over is given back.
  const std::size_t at = end_;
  std::uint8_t* out = Extend(2 + 2 * utf8.size());
  const std::size_t bytes = Utf8ToUtf16Le(utf8, out + 2);
  end_ = at + 2 + bytes;
  if (bytes > (f.size == kSizeFromRows ? kMaxValueBytes : f.size)) end_ = at;
  CheckLength(f, bytes);
  out[0] = static_cast<std::uint8_t>(bytes);
  out[1] = static_cast<std::uint8_t>(bytes >> 8);
  ++field_;
}

void PacketWriter::AddBytes(std::string_view bytes) {
  const FieldDef& f = NextField("a value");
  if (f.type != FieldType::kBytes && f.type != FieldType::kText8)
    throw PacketError("Data packet: field '" + f.name + "' does not hold bytes");
  CheckLength(f, bytes.size());
  PutLengthPrefixed(bytes.size());
  PutRowBytes(bytes.data(), bytes.size());
  ++field_;
}

void PacketWriter::EndRow() {
  if (!inRow_) throw PacketError("Data packet: a row was ended outside a row");
  if (field_ != fields_.size())
    throw PacketError("Data packet: a row has fewer values than fields");
  inRow_ = false;
  if (rowCount_ == std::numeric_limits<std::uint32_t>::max())
    throw PacketError("Data packet: too many rows");
  ++rowCount_;
}

void PacketWriter::AppendEncodedRow(std::span<const std::uint8_t> row) {
  if (inRow_) throw PacketError("Data packet: an encoded row inside a row");
  ReservePrefix();
  PutRowBytes(row.data(), row.size());
  ++rowCount_;
}

void PacketWriter::AppendEncodedDeltaRow(DeltaRowPrefix prefix,
                                         std::span<const std::uint8_t> dataRow) {
  if (inRow_) throw PacketError("Data packet: an encoded row inside a row");
  if (kind_ != PacketKind::kDelta) throw PacketError("Data packet: change ids belong to deltas");
  ReservePrefix();
  EncodeDeltaRowPrefix(Extend(kDeltaRowPrefixSize), prefix);
  PutRowBytes(dataRow.data(), dataRow.size());
  ++rowCount_;
}

std::vector<std::uint8_t> PacketWriter::Finish() {
  if (inRow_) throw PacketError("Data packet: the last row was not ended");
  std::vector<std::uint8_t> desc;
  if (withDescriptions_) {
    for (std::size_t i = 0; i < fields_.size(); ++i) {
      const FieldDef& f = fields_[i];
      std::uint32_t size = f.size;
      if (size == kSizeFromRows) {
        const std::uint32_t floor = f.type == FieldType::kText16 ? 2 : 1;
        size = longest_[i] < floor ? floor : longest_[i];
      }
      Put8(desc, static_cast<std::uint8_t>(f.name.size()));
      PutBytes(desc, f.name);
      Put8(desc, static_cast<std::uint8_t>(f.type));
      Put8(desc, 0);
      Put16(desc, f.attributes);
      Put32(desc, size);
      PutParams(desc, f.params);
    }
    PutParams(desc, params_);
  }
  const std::size_t rowBytes = end_ - prefix_;
  rows_.resize(end_);  // down to the bytes written: no copy
  const std::uint64_t total = std::uint64_t{kPacketHeaderSize} + desc.size() + rowBytes;
  if (total > std::numeric_limits<std::uint32_t>::max())
    throw PacketError("Data packet: larger than 4 GiB");
  std::uint8_t header[kPacketHeaderSize];
  std::memcpy(header, kPacketMagic, 4);
  header[4] = PacketVersion(kind_);
  header[5] = static_cast<std::uint8_t>(kind_);
  std::uint16_t flags = withDescriptions_ ? kPacketHasDescriptions : 0;
  if (readOnly_) flags |= kPacketReadOnly;
  const std::uint32_t words[5] = {static_cast<std::uint32_t>(total),
                                  static_cast<std::uint32_t>(fields_.size()), rowCount_,
                                  static_cast<std::uint32_t>(desc.size()), 0};
  header[6] = static_cast<std::uint8_t>(flags);
  header[7] = static_cast<std::uint8_t>(flags >> 8);
  for (int w = 0; w < 4; ++w)
    for (int b = 0; b < 4; ++b)
      header[8 + 4 * w + b] = static_cast<std::uint8_t>(words[w] >> (8 * b));
  if (prefix_ != 0 && prefix_ == kPacketHeaderSize + desc.size()) {
    // The room kept in front of the rows takes the header and descriptions.
    std::memcpy(rows_.data(), header, kPacketHeaderSize);
    if (!desc.empty()) std::memcpy(rows_.data() + kPacketHeaderSize, desc.data(), desc.size());
    prefix_ = 0;
    return std::move(rows_);
  }
  std::vector<std::uint8_t> out;
  out.reserve(static_cast<std::size_t>(total));
  out.insert(out.end(), header, header + kPacketHeaderSize);
  out.insert(out.end(), desc.begin(), desc.end());
  out.insert(out.end(), rows_.begin() + static_cast<std::ptrdiff_t>(prefix_), rows_.end());
  rows_.clear();
  rows_.shrink_to_fit();
  prefix_ = 0;
  return out;
}

}  // namespace quor::engine
