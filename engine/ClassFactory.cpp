// Creation of engine objects: one class factory per engine class.

#include <new>

#include "engine/Store.h"

namespace quor::engine {
namespace {

constexpr Status kErrorNoAggregation = 0x80040110;
constexpr Status kStatusFalse = 1;

std::atomic<std::int32_t>& ServerLocks() {
  static std::atomic<std::int32_t> locks{0};
  return locks;
}

// The factories are static objects: their reference count has no effect.
class Factory final : public IEngineClassFactory {
 public:
  explicit Factory(bool cursor) : cursor_(cursor) {}
  Status QueryInterface(const platform::Guid& iid, void** out) override {
    if (out == nullptr) return kErrorInvalidArgument;
    if (iid == kIidClassFactory || iid == kIidUnknown) {
      *out = this;
      return kStatusOk;
    }
    *out = nullptr;
    return kErrorNoInterface;
  }
  std::uint32_t AddRef() override { return 2; }
  std::uint32_t Release() override { return 1; }
  Status CreateInstance(IEngineUnknown* outer, const platform::Guid& iid, void** out) override {
    if (out == nullptr) return kErrorInvalidArgument;
    *out = nullptr;
    if (outer != nullptr) return kErrorNoAggregation;
    IEngineUnknown* object = nullptr;
    if (cursor_) {
      object = new (std::nothrow) Cursor;
    } else {
      object = new (std::nothrow) Store;
    }
    if (object == nullptr) return kErrorOutOfMemory;
    const Status s = object->QueryInterface(iid, out);
    object->Release();  // the creation reference; QueryInterface took its own
    return s;
  }
  Status LockServer(std::int32_t lock) override {
    ServerLocks().fetch_add(lock != 0 ? 1 : -1);
    return kStatusOk;
  }

 private:
  bool cursor_;
};

Factory& StoreFactory() {
  static Factory f(false);
  return f;
}
Factory& CursorFactory() {
  static Factory f(true);
  return f;
}

}  // namespace

Status GetClassObject(const platform::Guid& clsid, const platform::Guid& iid, void** out) {
  if (out == nullptr) return kErrorInvalidArgument;
  *out = nullptr;
  Factory* f = clsid == kClsidDSBase     ? &StoreFactory()
               : clsid == kClsidDSCursor ? &CursorFactory()
                                         : nullptr;
  if (f == nullptr) return kErrorClassNotAvailable;
  return f->QueryInterface(iid, out);
}

Status CreateEngineObject(const platform::Guid& clsid, const platform::Guid& iid, void** out) {
  void* factory = nullptr;
  if (const Status s = GetClassObject(clsid, kIidClassFactory, &factory)) return s;
  return static_cast<IEngineClassFactory*>(factory)->CreateInstance(nullptr, iid, out);
}

Status CanUnloadNow() {
  return LiveObjects().load() == 0 && ServerLocks().load() <= 0 ? kStatusOk : kStatusFalse;
}

}  // namespace quor::engine
