#include "remote/SafeArray.h"

#include <cstring>

#include "remote/Errors.h"

namespace quor::remote {
namespace {
// No array is larger than a block may be: 256 MiB of plain data, or as many
// Variant elements as the decoder allows in one block.
constexpr std::int64_t kMaxPlainBytes = std::int64_t{256} << 20;
constexpr std::int64_t kMaxItems = std::int64_t{1} << 22;

[[noreturn]] void BadBounds() {
  throw EInterpreterError("Invalid variant array bounds");
}
[[noreturn]] void BadIndex() {
  throw EInterpreterError("Variant or safe array index out of bounds");
}
}  // namespace

std::int64_t CountElements(std::span<const ArrayBound> bounds, std::int64_t limit) {
  std::int64_t count = 1;
  for (const ArrayBound& b : bounds) {
    const std::int64_t n = std::int64_t{b.high} - b.low + 1;
    if (n < 0) return -1;
    if (n != 0 && count > limit / n) return -1;
    count *= n;
  }
  return count;
}

bool SafeArray::IsPlainType(VarType t) {
  switch (t) {
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_BOOL:
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
      return true;
    default:
      return false;
  }
}

bool SafeArray::IsElementType(VarType t) {
  return IsPlainType(t) || t == VT_BSTR || t == VT_DISPATCH || t == VT_ERROR || t == VT_VARIANT ||
         t == VT_DECIMAL;
}

std::size_t SafeArray::PlainSize(VarType t) {
  return IsPlainType(t) ? static_cast<std::size_t>(VariantSize(t)) : 0;
}

SafeArray::SafeArray(VarType elementType, std::vector<ArrayBound> bounds, Fill fill)
    : elementType_(elementType), elementSize_(PlainSize(elementType)), bounds_(std::move(bounds)) {
  if (!IsElementType(elementType_) || bounds_.empty()) BadBounds();
  const bool plain = IsPlainType(elementType_);
  const std::int64_t limit =
      plain ? kMaxPlainBytes / static_cast<std::int64_t>(elementSize_) : kMaxItems;
  const std::int64_t count = CountElements(bounds_, limit);
  if (count < 0) BadBounds();
  count_ = static_cast<std::size_t>(count);
  if (plain && fill != Fill::kNone) {
    std::shared_ptr<std::uint8_t[]> bytes(fill == Fill::kZero ? new std::uint8_t[ByteCount() + 1]()
                                                              : new std::uint8_t[ByteCount() + 1]);
    data_ = bytes.get();
    storage_ = std::move(bytes);
  } else if (!plain) {
    items_.resize(count_);
  }
}

std::shared_ptr<SafeArray> SafeArray::Create(VarType elementType, std::vector<ArrayBound> bounds) {
  return std::shared_ptr<SafeArray>(new SafeArray(elementType, std::move(bounds), Fill::kZero));
}

std::shared_ptr<SafeArray> SafeArray::CreateForFill(VarType elementType,
                                                    std::vector<ArrayBound> bounds) {
  return std::shared_ptr<SafeArray>(
      new SafeArray(elementType, std::move(bounds), Fill::kUninitialised));
}

std::shared_ptr<SafeArray> SafeArray::FromBytes(const void* bytes, std::size_t count) {
  if (count > static_cast<std::size_t>(kMaxPlainBytes)) BadBounds();
  auto array = CreateForFill(VT_UI1, {{0, static_cast<std::int32_t>(count) - 1}});
  if (count) std::memcpy(array->Data(), bytes, count);
  return array;
}

std::shared_ptr<SafeArray> SafeArray::FromVector(std::vector<std::uint8_t>&& bytes) {
  const std::size_t count = bytes.size();
  if (count > static_cast<std::size_t>(kMaxPlainBytes)) BadBounds();
  std::shared_ptr<SafeArray> array(
      new SafeArray(VT_UI1, {{0, static_cast<std::int32_t>(count) - 1}}, Fill::kNone));
  auto owned = std::make_shared<std::vector<std::uint8_t>>(std::move(bytes));
  array->data_ = owned->data();
  array->storage_ = std::move(owned);
  return array;
}

std::size_t SafeArray::LinearIndex(std::span<const std::int32_t> indices) const {
  if (indices.size() != bounds_.size()) BadIndex();
  std::size_t linear = 0;
  for (std::size_t d = 0; d < bounds_.size(); ++d) {
    const ArrayBound& b = bounds_[d];
    if (indices[d] < b.low || indices[d] > b.high) BadIndex();
    const auto extent = static_cast<std::size_t>(std::int64_t{b.high} - b.low + 1);
    linear = linear * extent + static_cast<std::size_t>(std::int64_t{indices[d]} - b.low);
  }
  return linear;
}

Variant SafeArray::GetAt(std::size_t linear) const {
  if (linear >= count_) BadIndex();
  if (IsPlain())
    return Variant::FromPayload(elementType_, data_ + linear * elementSize_, elementSize_);
  return items_[linear];
}

void SafeArray::PutAt(std::size_t linear, Variant value) {
  if (linear >= count_) BadIndex();
  if (elementType_ != VT_VARIANT && value.Type() != elementType_)
    throw EOleSysError(HResultText(DISP_E_TYPEMISMATCH), DISP_E_TYPEMISMATCH);
  if (IsPlain()) {
    std::memcpy(data_ + linear * elementSize_, value.Payload(), elementSize_);
  } else {
    items_[linear] = std::move(value);
  }
}

void SafeArray::RedimLast(std::int32_t newHigh) {
  std::vector<ArrayBound> bounds = bounds_;
  bounds.back().high = newHigh;
  SafeArray grown(elementType_, bounds, Fill::kZero);
  // Elements keep their index vectors: copy row by row of the last dimension.
  const std::size_t oldExtent =
      static_cast<std::size_t>(std::int64_t{bounds_.back().high} - bounds_.back().low + 1);
  const std::size_t newExtent =
      static_cast<std::size_t>(std::int64_t{bounds.back().high} - bounds.back().low + 1);
  const std::size_t keep = oldExtent < newExtent ? oldExtent : newExtent;
  const std::size_t rows = oldExtent ? count_ / oldExtent : 0;
  for (std::size_t r = 0; r < rows; ++r) {
    if (IsPlain()) {
      std::memcpy(grown.data_ + r * newExtent * elementSize_, data_ + r * oldExtent * elementSize_,
                  keep * elementSize_);
    } else {
      for (std::size_t i = 0; i < keep; ++i)
        grown.items_[r * newExtent + i] = std::move(items_[r * oldExtent + i]);
    }
  }
  bounds_ = std::move(bounds);
  count_ = grown.count_;
  data_ = grown.data_;
  storage_ = std::move(grown.storage_);
  items_ = std::move(grown.items_);
}

std::shared_ptr<SafeArray> SafeArray::Clone() const {
  std::shared_ptr<SafeArray> copy(new SafeArray(elementType_, bounds_, Fill::kUninitialised));
  if (IsPlain()) {
    if (ByteCount()) std::memcpy(copy->data_, data_, ByteCount());
  } else {
    copy->items_ = items_;
  }
  return copy;
}

}  // namespace quor::remote
