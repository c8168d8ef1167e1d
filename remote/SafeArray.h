#pragma once
// An automation array: an element type, one or more dimensions with their
// low and high bounds, and one contiguous buffer of elements.
//
// Elements are addressed by an index vector (dimension 1 first) and lie in
// the buffer with the last dimension varying fastest, which is also the order
// in which the wire walks them. Plain element types (the numeric ones, VT_BOOL,
// VT_DATE, VT_CY) are stored as raw bytes, ElementSize() each; other element
// types (VT_BSTR, VT_DISPATCH, VT_ERROR, VT_VARIANT, VT_DECIMAL) as Variants.
//
// Sizes are checked: the element count must fit the 256 MiB block cap, else
// EInterpreterError "Invalid variant array bounds" is raised before anything
// is allocated.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "remote/Variant.h"

namespace quor::remote {

struct ArrayBound {
  std::int32_t low = 0;
  std::int32_t high = -1;  // high = low - 1: an empty dimension
  friend bool operator==(const ArrayBound&, const ArrayBound&) = default;
};

class SafeArray {
 public:
  // A new array with zeroed (plain) or empty (Variant) elements.
  static std::shared_ptr<SafeArray> Create(VarType elementType, std::vector<ArrayBound> bounds);
  // A one-dimensional VT_UI1 array holding a copy of `bytes` (bounds 0..n-1).
  static std::shared_ptr<SafeArray> FromBytes(const void* bytes, std::size_t count);
  // The same holding `bytes` themselves: a packet of megabytes becomes an
  // array without a copy.
  static std::shared_ptr<SafeArray> FromVector(std::vector<std::uint8_t>&& bytes);
  // Like Create, but plain elements are left uninitialised: the caller
  // overwrites every byte (the wire decoder's fast path).
  static std::shared_ptr<SafeArray> CreateForFill(VarType elementType,
                                                  std::vector<ArrayBound> bounds);

  // Whether arrays of this element type travel as raw bytes.
  static bool IsPlainType(VarType elementType);
  // Whether an array may hold this element type at all.
  static bool IsElementType(VarType elementType);
  // Bytes per element of a plain type.
  static std::size_t PlainSize(VarType elementType);

  VarType ElementType() const { return elementType_; }
  bool IsPlain() const { return IsPlainType(elementType_); }
  std::size_t ElementSize() const { return elementSize_; }
  std::size_t DimCount() const { return bounds_.size(); }
  const std::vector<ArrayBound>& Bounds() const { return bounds_; }
  std::size_t ElementCount() const { return count_; }

  // Plain arrays: the element bytes (ElementCount() * ElementSize()).
  std::uint8_t* Data() { return data_; }
  const std::uint8_t* Data() const { return data_; }
  std::size_t ByteCount() const { return count_ * elementSize_; }

  // Linear position of an index vector; EInterpreterError "Variant or safe
  // array index out of bounds" when it lies outside the bounds.
  std::size_t LinearIndex(std::span<const std::int32_t> indices) const;
  // Element by linear position, as a Variant of the element type (or the
  // element itself in a VT_VARIANT array).
  Variant GetAt(std::size_t linear) const;
  // Stores by linear position; a plain or non-variant array takes a value of
  // exactly its element type (else "Type mismatch").
  void PutAt(std::size_t linear, Variant value);
  Variant Get(std::span<const std::int32_t> indices) const { return GetAt(LinearIndex(indices)); }
  void Put(std::span<const std::int32_t> indices, Variant value) {
    PutAt(LinearIndex(indices), std::move(value));
  }
  // Direct access to an element of a non-plain array.
  Variant& ItemAt(std::size_t linear) { return items_[linear]; }
  const Variant& ItemAt(std::size_t linear) const { return items_[linear]; }

  // Changes the high bound of the last dimension, keeping the elements that
  // remain (a one-dimensional array grows or shrinks at its end).
  void RedimLast(std::int32_t newHigh);

  std::shared_ptr<SafeArray> Clone() const;

 private:
  // How a new plain array's memory starts: cleared, as it comes, or not made
  // at all (the caller gives it).
  enum class Fill { kZero, kUninitialised, kNone };
  SafeArray(VarType elementType, std::vector<ArrayBound> bounds, Fill fill);

  VarType elementType_;
  std::size_t elementSize_;
  std::vector<ArrayBound> bounds_;
  std::size_t count_ = 0;
  // Plain types: the element bytes, in memory that `storage_` owns (an array
  // made here, or a vector taken over).
  std::uint8_t* data_ = nullptr;
  std::shared_ptr<void> storage_;
  std::vector<Variant> items_;  // other types
};

// Element count of a bounds vector, or -1 when a dimension is negative in
// size or the product passes `limit`.
std::int64_t CountElements(std::span<const ArrayBound> bounds, std::int64_t limit);

}  // namespace quor::remote
