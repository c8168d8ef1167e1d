#pragma once
// Internal to data/: what the two halves of ClientDataSet share.

#include "remote/SafeArray.h"
#include "remote/Variant.h"

namespace quor::data::internal {

inline constexpr char kMissingProvider[] = "Missing data provider or data packet";
inline constexpr char kInvalidPacket[] = "Invalid data packet";
inline constexpr char kClosedDataSet[] = "Cannot perform this operation on a closed dataset";

// A packet's outer form: a one-dimensional byte array of at least 22 bytes
// (upper bound above 20). Anything else the engine is never shown.
inline bool IsPacketForm(const remote::Variant& v) {
  if (!v.IsArray() || v.IsByRef() || v.BaseType() != remote::VT_UI1) return false;
  const remote::SafeArray& a = v.AsArray();
  return a.DimCount() == 1 && a.Bounds()[0].high > 20;
}

}  // namespace quor::data::internal
