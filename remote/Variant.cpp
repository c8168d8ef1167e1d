#include "remote/Variant.h"

#include <cstdio>

#include "platform/Codepage.h"
#include "remote/Dispatch.h"
#include "remote/Errors.h"
#include "remote/SafeArray.h"

namespace quor::remote {
namespace {
[[noreturn]] void BadType() {
  throw EInterpreterError("Invalid variant type");
}
}  // namespace

Variant::Variant(const Variant& other) : vt_(other.vt_), u_(other.u_), heavy_(other.heavy_) {
  if (HoldsObject()) u_.object->AddRef();
}

Variant::Variant(Variant&& other) noexcept
    : vt_(other.vt_), u_(other.u_), heavy_(std::move(other.heavy_)) {
  other.vt_ = VT_EMPTY;
  other.u_.raw = 0;
}

Variant& Variant::operator=(const Variant& other) {
  if (this != &other) {
    Variant copy(other);
    *this = std::move(copy);
  }
  return *this;
}

Variant& Variant::operator=(Variant&& other) noexcept {
  if (this != &other) {
    Clear();
    vt_ = other.vt_;
    u_ = other.u_;
    heavy_ = std::move(other.heavy_);
    other.vt_ = VT_EMPTY;
    other.u_.raw = 0;
  }
  return *this;
}

Variant::~Variant() {
  Clear();
}

void Variant::Clear() noexcept {
  if (HoldsObject()) u_.object->Release();
  vt_ = VT_EMPTY;
  u_.raw = 0;
  heavy_.reset();
}

Variant Variant::Null() {
  Variant v;
  v.vt_ = VT_NULL;
  return v;
}
Variant Variant::I2(std::int16_t v) {
  return Make(VT_I2, v);
}
Variant Variant::I4(std::int32_t v) {
  return Make(VT_I4, v);
}
Variant Variant::R4(float v) {
  return Make(VT_R4, v);
}
Variant Variant::R8(double v) {
  return Make(VT_R8, v);
}
Variant Variant::Currency(std::int64_t v) {
  return Make(VT_CY, v);
}
Variant Variant::Date(double v) {
  return Make(VT_DATE, v);
}
Variant Variant::Error(std::int32_t scode) {
  return Make(VT_ERROR, scode);
}
Variant Variant::Bool(bool v) {
  return Make(VT_BOOL, v ? VARIANT_TRUE : VARIANT_FALSE);
}
Variant Variant::I1(std::int8_t v) {
  return Make(VT_I1, v);
}
Variant Variant::UI1(std::uint8_t v) {
  return Make(VT_UI1, v);
}
Variant Variant::UI2(std::uint16_t v) {
  return Make(VT_UI2, v);
}
Variant Variant::UI4(std::uint32_t v) {
  return Make(VT_UI4, v);
}

Variant Variant::Str(std::u16string text) {
  Variant v;
  v.vt_ = VT_BSTR;
  v.heavy_ = std::make_shared<std::u16string>(std::move(text));
  return v;
}

Variant Variant::Dispatch(Ref<IDispatch> object) {
  Variant v;
  v.vt_ = VT_DISPATCH;
  v.u_.object = object.Detach();
  return v;
}

Variant Variant::Unknown(Ref<IUnknown> object) {
  Variant v;
  v.vt_ = VT_UNKNOWN;
  v.u_.object = object.Detach();
  return v;
}

Variant Variant::Array(std::shared_ptr<SafeArray> array) {
  if (!array) throw EInterpreterError("Invalid variant type");
  Variant v;
  v.vt_ = static_cast<VarType>(VT_ARRAY | array->ElementType());
  v.heavy_ = std::move(array);
  return v;
}

Variant Variant::FromPayload(VarType type, const void* payload, std::size_t count) {
  const int size = VariantSize(type);
  if (size < 0 || type == VT_BSTR || type == VT_DISPATCH || type == VT_UNKNOWN ||
      type == VT_VARIANT || count < static_cast<std::size_t>(size))
    BadType();
  Variant v;
  v.vt_ = type;
  if (size > 0) std::memcpy(&v.u_.raw, payload, static_cast<std::size_t>(size));
  return v;
}

Variant Variant::ByRef(VarType type, Variant& target) {
  Variant v;
  v.vt_ = static_cast<VarType>(type | VT_BYREF);
  v.u_.ref = &target;
  return v;
}

std::int16_t Variant::AsI2() const {
  if (vt_ != VT_I2) BadType();
  return Get<std::int16_t>();
}

std::int32_t Variant::AsI4() const {
  if (vt_ != VT_I4 && vt_ != VT_ERROR) BadType();
  return Get<std::int32_t>();
}

double Variant::AsR8() const {
  if (vt_ != VT_R8 && vt_ != VT_DATE) BadType();
  return Get<double>();
}

bool Variant::AsBool() const {
  if (vt_ != VT_BOOL) BadType();
  return Get<std::int16_t>() != 0;
}

std::uint8_t Variant::AsUI1() const {
  if (vt_ != VT_UI1) BadType();
  return Get<std::uint8_t>();
}

const std::u16string& Variant::AsString() const {
  if (vt_ != VT_BSTR) BadType();
  return *static_cast<const std::u16string*>(heavy_.get());
}

Ref<IDispatch> Variant::AsDispatch() const {
  if (vt_ != VT_DISPATCH) BadType();
  return Ref<IDispatch>(static_cast<IDispatch*>(u_.object));
}

const SafeArray& Variant::AsArray() const {
  if (!IsArray() || IsByRef()) BadType();
  return *static_cast<const SafeArray*>(heavy_.get());
}

SafeArray& Variant::MutableArray() {
  if (!IsArray() || IsByRef()) BadType();
  if (heavy_.use_count() > 1) heavy_ = static_cast<const SafeArray*>(heavy_.get())->Clone();
  return *static_cast<SafeArray*>(heavy_.get());
}

std::shared_ptr<const SafeArray> Variant::SharedArray() const {
  if (!IsArray() || IsByRef()) BadType();
  return std::static_pointer_cast<const SafeArray>(heavy_);
}

Variant& Variant::RefTarget() const {
  if (!IsByRef() || u_.ref == nullptr) BadType();
  return *u_.ref;
}

std::string Variant::ToText() const {
  if (IsByRef()) return RefTarget().ToText();
  char buf[64];
  switch (vt_) {
    case VT_EMPTY:
    case VT_NULL:
      return "";
    case VT_BSTR:
      return platform::Utf16ToUtf8(AsString());
    case VT_I2:
      return std::to_string(Get<std::int16_t>());
    case VT_I4:
    case VT_ERROR:
      return std::to_string(Get<std::int32_t>());
    case VT_I1:
      return std::to_string(Get<std::int8_t>());
    case VT_UI1:
      return std::to_string(Get<std::uint8_t>());
    case VT_UI2:
      return std::to_string(Get<std::uint16_t>());
    case VT_UI4:
      return std::to_string(Get<std::uint32_t>());
    case VT_BOOL:
      return Get<std::int16_t>() != 0 ? "True" : "False";
    case VT_R4:
      std::snprintf(buf, sizeof buf, "%.7g", static_cast<double>(Get<float>()));
      return buf;
    case VT_R8:
    case VT_DATE:
      std::snprintf(buf, sizeof buf, "%.15g", Get<double>());
      return buf;
    case VT_CY:
      std::snprintf(buf, sizeof buf, "%.4f", static_cast<double>(Get<std::int64_t>()) / 10000.0);
      return buf;
    default:
      throw EInterpreterError("Invalid variant type conversion");
  }
}

bool operator==(const Variant& a, const Variant& b) {
  if (a.vt_ != b.vt_) return false;
  if (a.IsByRef()) return a.u_.ref == b.u_.ref;
  if (a.IsArray()) {
    const SafeArray& x = a.AsArray();
    const SafeArray& y = b.AsArray();
    if (x.Bounds() != y.Bounds()) return false;
    if (x.IsPlain()) return std::memcmp(x.Data(), y.Data(), x.ByteCount()) == 0;
    for (std::size_t i = 0; i < x.ElementCount(); ++i)
      if (!(x.ItemAt(i) == y.ItemAt(i))) return false;
    return true;
  }
  switch (a.vt_) {
    case VT_BSTR:
      return a.AsString() == b.AsString();
    case VT_DISPATCH:
    case VT_UNKNOWN:
      return a.u_.object == b.u_.object;
    default: {
      const int size = VariantSize(a.vt_);
      return size <= 0 || std::memcmp(&a.u_.raw, &b.u_.raw, static_cast<std::size_t>(size)) == 0;
    }
  }
}

}  // namespace quor::remote
