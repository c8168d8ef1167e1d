// Variant encoding and decoding of DataBlockInterpreter.

#include <cstring>

#include "remote/DataBlockInterpreter.h"
#include "remote/Errors.h"
#include "remote/SafeArray.h"

namespace quor::remote {
namespace {
// The type word that marks a variant by reference (VT_BYREF with no type).
constexpr std::uint32_t kVariantByRefWord = VT_BYREF;

[[noreturn]] void InvalidPacket() {
  throw Exception("Invalid data packet");
}
[[noreturn]] void Unsupported(std::uint32_t type) {
  throw EInterpreterError(Format("Unsupported variant type: %04X", type & 0xFFFFu));
}

void WriteU32(IDataBlock& block, std::uint32_t v) {
  block.Write(&v, 4);
}
void WriteI32(IDataBlock& block, std::int32_t v) {
  block.Write(&v, 4);
}

void ReadExact(IDataBlock& block, void* buffer, std::int32_t count) {
  if (count < 0 || block.Read(buffer, count) != count) InvalidPacket();
}
std::int32_t ReadI32(IDataBlock& block) {
  std::int32_t v = 0;
  ReadExact(block, &v, 4);
  return v;
}
}  // namespace

void DataBlockInterpreter::EncodeVariant(const Variant& value, IDataBlock& block) {
  EncodeValue(value, block, 0);
}

void DataBlockInterpreter::EncodeValue(const Variant& value, IDataBlock& block, int depth) {
  // A by-reference chain that loops back on itself must not recurse forever.
  if (depth > kMaxDepth) Unsupported(value.Type());
  const VarType type = value.Type();
  if (type & VT_ARRAY) {
    EncodeArray(value, block, depth);
    return;
  }
  const VarType base = type & VT_TYPEMASK;
  const bool byRef = value.IsByRef();
  switch (base) {
    case VT_EMPTY:
    case VT_NULL:
      WriteU32(block, type);
      return;
    case VT_BSTR: {
      const std::u16string& text = byRef ? value.RefTarget().AsString() : value.AsString();
      WriteU32(block, type);
      WriteI32(block, static_cast<std::int32_t>(text.size()));
      block.Write(text.data(), static_cast<std::int32_t>(text.size() * 2));
      return;
    }
    case VT_DISPATCH:
      if (byRef) Unsupported(type);
      WriteU32(block, type);
      WriteI32(block, StoreObject(value));
      return;
    case VT_VARIANT:
      if (!byRef) Unsupported(type);
      WriteU32(block, kVariantByRefWord);
      EncodeValue(value.RefTarget(), block, depth + 1);
      return;
    case VT_UNKNOWN:
      Unsupported(type);
    default: {
      const int size = VariantSize(base);
      if (size < 0) Unsupported(type);
      const Variant& source = byRef ? value.RefTarget() : value;
      if (source.IsByRef()) Unsupported(type);  // a reference to a reference has no payload
      WriteU32(block, type);
      block.Write(source.Payload(), size);
      return;
    }
  }
}

void DataBlockInterpreter::EncodeArray(const Variant& value, IDataBlock& block, int depth) {
  const SafeArray& array = value.IsByRef() ? value.RefTarget().AsArray() : value.AsArray();
  WriteU32(block, value.Type());
  const auto& bounds = array.Bounds();
  WriteI32(block, static_cast<std::int32_t>(bounds.size()));
  for (const ArrayBound& b : bounds) WriteI32(block, b.low);
  for (const ArrayBound& b : bounds) WriteI32(block, b.high);
  if (array.IsPlain()) {
    // The fast path: the elements as they lie, in one write.
    WriteI32(block, static_cast<std::int32_t>(array.ByteCount()));
    block.Write(array.Data(), static_cast<std::int32_t>(array.ByteCount()));
    return;
  }
  for (std::size_t i = 0; i < array.ElementCount(); ++i)
    EncodeValue(array.ItemAt(i), block, depth + 1);
}

Variant DataBlockInterpreter::DecodeVariant(IDataBlock& block, bool* byRef, bool* varByRef) {
  BeginDecode();
  bool r = false;
  bool vr = false;
  Variant v = DecodeNext(block, r, vr, 0);
  if (byRef) *byRef = r;
  if (varByRef) *varByRef = vr;
  return v;
}

Variant DataBlockInterpreter::DecodeNext(IDataBlock& block) {
  bool r = false;
  bool vr = false;
  return DecodeNext(block, r, vr, 0);
}

std::int32_t DataBlockInterpreter::DecodeInt(IDataBlock& block) {
  const Variant v = DecodeNext(block);
  std::int32_t out = 0;
  switch (v.Type()) {
    case VT_I2:
      return v.AsI2();
    case VT_I4:
    case VT_ERROR:
      return v.AsI4();
    case VT_BOOL:
      return v.AsBool() ? -1 : 0;
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
      std::memcpy(&out, v.Payload(), static_cast<std::size_t>(VariantSize(v.Type())));
      if (v.Type() == VT_I1) return static_cast<std::int8_t>(out & 0xFF);
      return out;
    default:
      InvalidPacket();  // a count or id that is not a number
  }
}

Variant DataBlockInterpreter::DecodeNext(IDataBlock& block, bool& byRef, bool& varByRef,
                                         int depth) {
  if (depth > kMaxDepth || --decodeBudget_ < 0) InvalidPacket();
  std::uint32_t word = 0;
  ReadExact(block, &word, 4);
  byRef = (word & VT_BYREF) != 0;
  varByRef = false;
  if (word == kVariantByRefWord) {
    varByRef = true;
    bool innerRef = false;
    bool innerVarRef = false;
    return DecodeNext(block, innerRef, innerVarRef, depth + 1);
  }
  word &= ~static_cast<std::uint32_t>(VT_BYREF);
  if (word > 0xFFFF) Unsupported(word);
  if (word & VT_ARRAY) return DecodeArray(block, static_cast<VarType>(word), depth);
  switch (word) {
    case VT_EMPTY:
      return Variant();
    case VT_NULL:
      return Variant::Null();
    case VT_BSTR: {
      const std::int32_t length = ReadI32(block);
      if (length < 0 || length > block.Available() / 2) InvalidPacket();
      std::u16string text(static_cast<std::size_t>(length), u'\0');
      ReadExact(block, text.data(), length * 2);
      return Variant::Str(std::move(text));
    }
    case VT_DISPATCH:
      return Variant::Dispatch(Ref<IDispatch>(new DataDispatch(this, ReadI32(block))));
    case VT_UNKNOWN:
    case VT_VARIANT:  // a variant by value has no wire form (by reference it is 0x4000)
      Unsupported(word);
    default: {
      const int size = VariantSize(static_cast<VarType>(word));
      if (size < 0) Unsupported(word);
      std::uint8_t payload[8] = {};
      ReadExact(block, payload, size);
      return Variant::FromPayload(static_cast<VarType>(word), payload, sizeof payload);
    }
  }
}

Variant DataBlockInterpreter::DecodeArray(IDataBlock& block, VarType word, int depth) {
  const VarType elementType = word & VT_TYPEMASK;
  if (!SafeArray::IsElementType(elementType) || (word & ~(VT_ARRAY | VT_TYPEMASK)) != 0)
    Unsupported(word);
  const std::int32_t dims = ReadI32(block);
  if (dims <= 0 || dims > block.Available() / 8) InvalidPacket();
  std::vector<ArrayBound> bounds(static_cast<std::size_t>(dims));
  for (ArrayBound& b : bounds) b.low = ReadI32(block);
  for (ArrayBound& b : bounds) b.high = ReadI32(block);

  if (SafeArray::IsPlainType(elementType)) {
    const std::int32_t byteCount = ReadI32(block);
    const std::int64_t count = CountElements(bounds, block.Available());
    const auto expected = count * static_cast<std::int64_t>(SafeArray::PlainSize(elementType));
    if (count < 0 || byteCount != expected || byteCount > block.Available()) InvalidPacket();
    auto array = SafeArray::CreateForFill(elementType, std::move(bounds));
    ReadExact(block, array->Data(), byteCount);
    return Variant::Array(std::move(array));
  }

  // Every element takes at least its 4-byte type word.
  const std::int64_t count = CountElements(bounds, block.Available() / 4);
  if (count < 0 || count > decodeBudget_) InvalidPacket();
  auto array = SafeArray::Create(elementType, std::move(bounds));
  for (std::size_t i = 0; i < array->ElementCount(); ++i) {
    bool r = false;
    bool vr = false;
    Variant element = DecodeNext(block, r, vr, depth + 1);
    if (elementType != VT_VARIANT && element.Type() != elementType) InvalidPacket();
    array->ItemAt(i) = std::move(element);
  }
  return Variant::Array(std::move(array));
}

}  // namespace quor::remote
