#pragma once
// The automation value of the wire: a 16-bit type code with its payload.
//
// Type codes 0..19 and the flags VT_ARRAY and VT_BYREF. A plain value keeps
// its payload in 8 bytes, exactly as it lies in memory (little-endian), so
// that the encoder copies VariantSizeTable[type] bytes of it. A string is
// UTF-16. An array is a SafeArray shared between copies and copied before
// it is changed through one of them. A by-reference value points at another
// Variant (not owned) that holds the referenced value: for VT_BYREF|VT_I4 a
// Variant of type VT_I4, for VT_BYREF|VT_VARIANT any Variant.
//
// A Variant is a value type for one thread at a time; copies may move to
// other threads (the shared parts are immutable or copied on write).

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "remote/Ref.h"

namespace quor::remote {

using VarType = std::uint16_t;

inline constexpr VarType VT_EMPTY = 0;
inline constexpr VarType VT_NULL = 1;
inline constexpr VarType VT_I2 = 2;
inline constexpr VarType VT_I4 = 3;
inline constexpr VarType VT_R4 = 4;
inline constexpr VarType VT_R8 = 5;
inline constexpr VarType VT_CY = 6;
inline constexpr VarType VT_DATE = 7;
inline constexpr VarType VT_BSTR = 8;
inline constexpr VarType VT_DISPATCH = 9;
inline constexpr VarType VT_ERROR = 10;
inline constexpr VarType VT_BOOL = 11;
inline constexpr VarType VT_VARIANT = 12;
inline constexpr VarType VT_UNKNOWN = 13;
inline constexpr VarType VT_DECIMAL = 14;
inline constexpr VarType VT_I1 = 16;
inline constexpr VarType VT_UI1 = 17;
inline constexpr VarType VT_UI2 = 18;
inline constexpr VarType VT_UI4 = 19;
inline constexpr VarType VT_ARRAY = 0x2000;
inline constexpr VarType VT_BYREF = 0x4000;
inline constexpr VarType VT_TYPEMASK = 0x0FFF;

// VARIANT_BOOL: true is all bits set.
inline constexpr std::int16_t VARIANT_TRUE = -1;
inline constexpr std::int16_t VARIANT_FALSE = 0;

// Payload bytes of a plain value by type code; exactly the codes 0..19.
inline constexpr int kVariantSizeTable[20] = {0, 0, 2, 4, 4, 8, 8, 8, 0, 0,
                                              4, 2, 0, 0, 0, 0, 1, 1, 2, 4};
// The payload size of a type code (without flags), or -1 outside the table.
inline int VariantSize(VarType type) {
  return type < 20 ? kVariantSizeTable[type] : -1;
}

class IDispatch;
class SafeArray;

class Variant {
 public:
  Variant() = default;
  Variant(const Variant& other);
  Variant(Variant&& other) noexcept;
  Variant& operator=(const Variant& other);
  Variant& operator=(Variant&& other) noexcept;
  ~Variant();

  static Variant Null();
  static Variant I2(std::int16_t v);
  static Variant I4(std::int32_t v);
  static Variant R4(float v);
  static Variant R8(double v);
  static Variant Currency(std::int64_t v);  // scaled by 10000
  static Variant Date(double v);
  static Variant Error(std::int32_t scode);
  static Variant Bool(bool v);
  static Variant I1(std::int8_t v);
  static Variant UI1(std::uint8_t v);
  static Variant UI2(std::uint16_t v);
  static Variant UI4(std::uint32_t v);
  static Variant Str(std::u16string text);
  static Variant Dispatch(Ref<IDispatch> object);
  static Variant Unknown(Ref<IUnknown> object);
  static Variant Array(std::shared_ptr<SafeArray> array);  // type VT_ARRAY | element type
  // A plain value of `type` (no flags; VariantSize(type) >= 0) from its payload bytes.
  static Variant FromPayload(VarType type, const void* payload, std::size_t count);
  // A by-reference value of type `type | VT_BYREF` whose value lives in `target`.
  // With type VT_VARIANT it is the variant-by-reference form.
  static Variant ByRef(VarType type, Variant& target);

  VarType Type() const { return vt_; }
  VarType BaseType() const { return vt_ & VT_TYPEMASK; }
  bool IsByRef() const { return (vt_ & VT_BYREF) != 0; }
  bool IsArray() const { return (vt_ & VT_ARRAY) != 0; }
  bool IsEmpty() const { return vt_ == VT_EMPTY; }
  bool IsNull() const { return vt_ == VT_NULL; }

  // Typed reads of a plain value; EInterpreterError "Invalid variant type"
  // when the type differs (no conversion).
  std::int16_t AsI2() const;
  std::int32_t AsI4() const;  // also reads VT_ERROR
  double AsR8() const;
  bool AsBool() const;
  std::uint8_t AsUI1() const;
  const std::u16string& AsString() const;
  Ref<IDispatch> AsDispatch() const;  // null for a null object
  const SafeArray& AsArray() const;
  // The array for changing it (copied first when another Variant shares it).
  SafeArray& MutableArray();
  std::shared_ptr<const SafeArray> SharedArray() const;
  // The referenced Variant of a by-reference value.
  Variant& RefTarget() const;

  // The 8 payload bytes of a plain value (the low VariantSize bytes count).
  const void* Payload() const { return &u_.raw; }
  void* MutablePayload() { return &u_.raw; }

  // The value as text, UTF-8 (strings as they are, numbers in decimal,
  // booleans "True"/"False", empty and null as ""); a by-reference value
  // converts its target.
  std::string ToText() const;

  // Deep equality of type and value (arrays element by element, objects by
  // identity). For tests and checks.
  friend bool operator==(const Variant& a, const Variant& b);

 private:
  void Clear() noexcept;
  bool HoldsObject() const {
    return (vt_ == VT_DISPATCH || vt_ == VT_UNKNOWN) && u_.object != nullptr;
  }
  template <class T>
  T Get() const {
    T v;
    std::memcpy(&v, &u_.raw, sizeof v);
    return v;
  }
  template <class T>
  static Variant Make(VarType type, T v) {
    Variant r;
    r.vt_ = type;
    std::memcpy(&r.u_.raw, &v, sizeof v);
    return r;
  }

  VarType vt_ = VT_EMPTY;
  union {
    std::uint64_t raw;  // plain payload
    Variant* ref;       // VT_BYREF target
    IUnknown* object;   // VT_DISPATCH / VT_UNKNOWN, one reference held
  } u_{0};
  // VT_BSTR: const std::u16string; VT_ARRAY: SafeArray.
  std::shared_ptr<void> heavy_;
};

}  // namespace quor::remote
