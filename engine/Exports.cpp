// The two entries libdsengine.so exports, with C linkage so that the loader
// finds them by name. Everything else in the library is hidden (dsengine.map).

#include "engine/Store.h"

extern "C" {

__attribute__((visibility("default"))) quor::engine::Status DllGetClassObject(
    const quor::platform::Guid* clsid, const quor::platform::Guid* iid, void** out) {
  if (clsid == nullptr || iid == nullptr) return quor::engine::kErrorInvalidArgument;
  return quor::engine::GetClassObject(*clsid, *iid, out);
}

__attribute__((visibility("default"))) quor::engine::Status DllCanUnloadNow() {
  return quor::engine::CanUnloadNow();
}
}
