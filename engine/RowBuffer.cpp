// The row buffer side of the store: filling a buffer from a stored row,
// reading and writing fields in a buffer, and encoding a buffer back into the
// packet's row layout for an insert. Layout in Store.h.

#include <cstring>
#include <limits>

#include "engine/Store.h"
#include "platform/Codepage.h"

namespace quor::engine {
namespace {

void Put16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
std::uint32_t Get16(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0] | (p[1] << 8));
}
void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint32_t Get32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

}  // namespace

void Store::CopyRow(std::uint32_t ordinal, std::uint8_t* row) const {
  const Where w = Locate(ordinal);
  std::memset(row, 0, rowBufferSize_);
  Put32(row, kRowBufferTag);
  Put32(row + 4, ordinal + 1);
  std::uint8_t* blank = row + kRowBufferHeader;
  const std::uint8_t* encoded = EncodedRow(*w.chunk, w.index).data();
  VisitRow(fields_, kind_, encoded,
           [&](std::size_t i, bool isNull, const std::uint8_t* v, std::uint32_t len) {
             blank[i] = isNull ? 1 : 0;
             if (isNull) return;
             std::uint8_t* slot = row + slotOffset_[i];
             if (FixedWidth(fields_[i].type) == 0) {
               Put16(slot, len);
               slot += 2;
             }
             std::memcpy(slot, v, len);
           });
}

Status Store::CheckRowBuffer(const std::uint8_t* row, std::uint32_t rowSize) {
  if (!hasFields_) return Fail(kErrorNoData, "The dataset holds no data packet");
  if (row == nullptr || rowSize < rowBufferSize_)
    return Fail(kErrorInvalidArgument,
                "Row buffer smaller than " + std::to_string(rowBufferSize_) + " bytes");
  if (Get32(row) != kRowBufferTag)
    return Fail(kErrorInvalidArgument, "Not a row buffer filled by the dataset engine");
  return kStatusOk;
}

Status Store::ReadField(const std::uint8_t* row, std::uint32_t rowSize, std::uint32_t fieldNo,
                        void* value, std::uint32_t valueSize, bool* isBlank) {
  return Guard([&]() -> Status {
    if (const Status s = CheckRowBuffer(row, rowSize)) return s;
    if (fieldNo < 1 || fieldNo > fields_.size())
      return Fail(kErrorInvalidArgument, "No field number " + std::to_string(fieldNo));
    if (isBlank == nullptr) return Fail(kErrorInvalidArgument, "No blank flag given");
    const std::size_t i = fieldNo - 1;
    const FieldInfo& f = fields_[i];
    *isBlank = row[kRowBufferHeader + i] != 0;
    if (*isBlank) return kStatusOk;
    const std::uint8_t* slot = row + slotOffset_[i];
    auto need = [&](std::size_t n) -> bool { return value != nullptr && valueSize >= n; };
    auto tooSmall = [&] {
      return Fail(kErrorInvalidArgument,
                  "Value buffer too small for field '" + fields_[i].name + "'");
    };
    if (const std::uint32_t w = FixedWidth(f.type)) {
      if (f.type == FieldType::kBoolean) {
        if (!need(2)) return tooSmall();
        const std::uint8_t b[2] = {slot[0] ? std::uint8_t{0xFF} : std::uint8_t{0},
                                   slot[0] ? std::uint8_t{0xFF} : std::uint8_t{0}};
        std::memcpy(value, b, 2);
        return kStatusOk;
      }
      if (!need(w)) return tooSmall();
      std::memcpy(value, slot, w);
      return kStatusOk;
    }
    const std::uint32_t len = Get16(slot);
    if (len > f.size) return Fail(kErrorInvalidArgument, "Row buffer damaged");
    const std::uint8_t* bytes = slot + 2;
    auto* out = static_cast<std::uint8_t*>(value);
    if (f.type == FieldType::kText8) {
      if (!need(len + 1)) return tooSmall();
      std::memcpy(out, bytes, len);
      out[len] = 0;
      return kStatusOk;
    }
    if (f.type == FieldType::kText16 && !wideText_) {
      std::u16string units(len / 2, u'\0');
      for (std::size_t k = 0; k < units.size(); ++k)
        units[k] = static_cast<char16_t>(Get16(bytes + 2 * k));
      const std::string gbk = platform::Utf16ToGbk(units);
      if (!need(gbk.size() + 1)) return tooSmall();
      std::memcpy(out, gbk.data(), gbk.size());
      out[gbk.size()] = 0;
      return kStatusOk;
    }
    if (!need(len + 2)) return tooSmall();
    Put16(out, len);
    std::memcpy(out + 2, bytes, len);
    return kStatusOk;
  });
}

Status Store::BlankRow(std::uint8_t* row, std::uint32_t rowSize) {
  if (!hasFields_) return Fail(kErrorNoData, "The dataset holds no data packet");
  if (row == nullptr || rowSize < rowBufferSize_)
    return Fail(kErrorInvalidArgument,
                "Row buffer smaller than " + std::to_string(rowBufferSize_) + " bytes");
  std::memset(row, 0, rowBufferSize_);
  Put32(row, kRowBufferTag);
  std::memset(row + kRowBufferHeader, 1, fields_.size());
  return kStatusOk;
}

Status Store::WriteField(std::uint8_t* row, std::uint32_t rowSize, std::uint32_t fieldNo,
                         const void* value, std::uint32_t valueSize) {
  return Guard([&]() -> Status {
    if (const Status s = CheckRowBuffer(row, rowSize)) return s;
    if (readOnly_) return Fail(kErrorReadOnly, "The dataset is read-only");
    if (fieldNo < 1 || fieldNo > fields_.size())
      return Fail(kErrorInvalidArgument, "No field number " + std::to_string(fieldNo));
    const std::size_t i = fieldNo - 1;
    const FieldInfo& f = fields_[i];
    std::uint8_t* slot = row + slotOffset_[i];
    if (value == nullptr) {
      row[kRowBufferHeader + i] = 1;
      return kStatusOk;
    }
    const auto* in = static_cast<const std::uint8_t*>(value);
    auto tooShort = [&] {
      return Fail(kErrorInvalidArgument, "Value too short for field '" + fields_[i].name + "'");
    };
    auto tooLong = [&] {
      return Fail(kErrorValueTooLong, "Value of field '" + fields_[i].name + "' is longer than " +
                                          std::to_string(f.size) + " bytes");
    };
    if (const std::uint32_t w = FixedWidth(f.type)) {
      if (f.type == FieldType::kBoolean) {
        if (valueSize < 2) return tooShort();
        slot[0] = (in[0] | in[1]) != 0 ? 1 : 0;
      } else {
        if (valueSize < w) return tooShort();
        std::memcpy(slot, in, w);
      }
      row[kRowBufferHeader + i] = 0;
      return kStatusOk;
    }
    std::string converted;
    const std::uint8_t* bytes = nullptr;
    std::size_t len = 0;
    const bool eightBitIn =
        f.type == FieldType::kText8 || (f.type == FieldType::kText16 && !wideText_);
    if (eightBitIn) {
      const void* nul = std::memchr(in, 0, valueSize);
      len = nul != nullptr ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - in)
                           : valueSize;
      bytes = in;
      if (f.type == FieldType::kText16) {
        const std::u16string units =
            platform::GbkToUtf16(std::string_view(reinterpret_cast<const char*>(in), len));
        converted.resize(units.size() * 2);
        for (std::size_t k = 0; k < units.size(); ++k)
          Put16(reinterpret_cast<std::uint8_t*>(converted.data()) + 2 * k, units[k]);
        bytes = reinterpret_cast<const std::uint8_t*>(converted.data());
        len = converted.size();
      }
    } else {
      if (valueSize < 2) return tooShort();
      len = Get16(in);
      if (len + 2 > valueSize) return tooShort();
      if (f.type == FieldType::kText16 && len % 2 != 0)
        return Fail(kErrorInvalidArgument,
                    "Odd byte length for UTF-16 field '" + fields_[i].name + "'");
      bytes = in + 2;
    }
    if (len > f.size) return tooLong();
    Put16(slot, static_cast<std::uint32_t>(len));
    std::memcpy(slot + 2, bytes, len);
    row[kRowBufferHeader + i] = 0;
    return kStatusOk;
  });
}

std::vector<std::uint8_t> Store::EncodeRow(const std::uint8_t* row, std::uint32_t changeId,
                                           std::int64_t postedAt) const {
  const std::size_t n = fields_.size();
  std::vector<std::uint8_t> out;
  if (kind_ == PacketKind::kDelta)
    AppendDeltaRowPrefix(out, {changeId, UpdateStatus::kInserted, postedAt});
  const std::size_t bitmapAt = out.size();
  out.resize(out.size() + (n + 7) / 8, 0);
  for (std::size_t i = 0; i < n; ++i) {
    if (row[kRowBufferHeader + i] != 0) {
      out[bitmapAt + i / 8] |= static_cast<std::uint8_t>(1u << (i % 8));
      continue;
    }
    const std::uint8_t* slot = row + slotOffset_[i];
    std::uint32_t len = FixedWidth(fields_[i].type);
    if (len == 0) {
      len = Get16(slot);
      if (len > fields_[i].size) throw PacketError("Row buffer damaged");
      out.insert(out.end(), slot, slot + 2);
      slot += 2;
    } else if (fields_[i].type == FieldType::kBoolean && slot[0] > 1) {
      throw PacketError("Row buffer damaged");
    }
    out.insert(out.end(), slot, slot + len);
  }
  return out;
}

Status Store::InsertRow(const std::uint8_t* row, std::uint32_t rowSize, std::uint32_t* ordinal) {
  return Guard([&]() -> Status {
    if (const Status s = CheckRowBuffer(row, rowSize)) return s;
    if (readOnly_) return Fail(kErrorReadOnly, "The dataset is read-only");
    if (fields_.empty())
      return Fail(kErrorInvalidArgument, "A dataset without fields takes no rows");
    for (std::size_t i = 0; i < fields_.size(); ++i)
      if ((fields_[i].attributes & kFieldRequired) != 0 && row[kRowBufferHeader + i] != 0)
        return Fail(kErrorInvalidArgument, "Field '" + fields_[i].name + "' must have a value");
    if (rowCount_ >= std::numeric_limits<std::uint32_t>::max() - 1)
      return Fail(kErrorOutOfMemory, "Too many rows for one dataset");
    if (changeLogId_.empty()) changeLogId_ = NewChangeLogId();
    const std::uint32_t id = nextChangeId_++;
    const std::int64_t postedAt = UnixTimeMs();
    const std::vector<std::uint8_t> encoded = EncodeRow(row, id, postedAt);
    if (chunks_.empty() || !chunks_.back().inserted) {
      chunks_.emplace_back();
      chunks_.back().inserted = true;
    }
    Chunk& c = chunks_.back();
    if (c.bytes.size() + encoded.size() > std::numeric_limits<std::uint32_t>::max())
      return Fail(kErrorOutOfMemory, "Too many inserted rows");
    c.offsets.push_back(static_cast<std::uint32_t>(c.bytes.size()));
    c.bytes.insert(c.bytes.end(), encoded.begin(), encoded.end());
    c.changeIds.push_back(id);
    c.postedAt.push_back(postedAt);
    ++changeCount_;
    dataBytes_ += encoded.size();
    RebuildStarts();
    *ordinal = rowCount_ - 1;
    return kStatusOk;
  });
}

}  // namespace quor::engine
