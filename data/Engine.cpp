#include "data/Engine.h"

#include <cstdio>
#include <mutex>

#include "platform/EngineRegistry.h"
#include "platform/ProgramFolder.h"
#include "platform/SharedLibrary.h"

namespace quor::data {
namespace {

std::string LoadFailedText() {
  return std::string("Error loading ") + platform::kEngineLibraryName;
}

std::string Hex(engine::Status s) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(s));
  return buf;
}

// The loaded library. At process end it is unloaded, but only when no engine
// object is alive any more (an object released after the unload would run
// code that is gone).
class Library {
 public:
  ~Library() {
    const std::lock_guard lock(mutex_);
    if (!library_.IsOpen()) return;
    auto canUnload = library_.Function<engine::DllCanUnloadNowFn>(engine::kCanUnloadNowEntry);
    if (canUnload != nullptr && canUnload() == engine::kStatusOk) {
      library_.Close();
    } else {
      library_.Release();
    }
  }

  engine::DllGetClassObjectFn Entry() {
    const std::lock_guard lock(mutex_);
    if (entry_ != nullptr) return entry_;
    std::string path = platform::RecordedEnginePath();
    if (path.empty()) {
      // Nothing recorded: take the library beside the executable and record
      // it, as registering it would.
      path = platform::ProgramFolder() + platform::kEngineLibraryName;
      platform::RecordEnginePath(path);
    }
    platform::SharedLibrary library;
    if (!library.Open(path)) throw EngineLoadError(path + ": " + library.Error());
    auto entry = library.Function<engine::DllGetClassObjectFn>(engine::kGetClassObjectEntry);
    if (entry == nullptr)
      throw EngineLoadError(path + ": no entry " + engine::kGetClassObjectEntry);
    library_ = std::move(library);
    entry_ = entry;
    path_ = path;
    return entry_;
  }

  std::string Path() {
    const std::lock_guard lock(mutex_);
    return path_;
  }

 private:
  // Guarded by mutex_: the process-wide engine loading lock.
  std::mutex mutex_;
  platform::SharedLibrary library_;
  engine::DllGetClassObjectFn entry_ = nullptr;
  std::string path_;
};

Library& TheLibrary() {
  static Library library;
  return library;
}

}  // namespace

EngineLoadError::EngineLoadError(std::string detail)
    : std::runtime_error(LoadFailedText()), detail_(std::move(detail)) {}

void* CreateEngineObject(const platform::Guid& clsid, const platform::Guid& iid) {
  const engine::DllGetClassObjectFn entry = TheLibrary().Entry();
  void* factory = nullptr;
  const engine::Status fs = entry(&clsid, &engine::kIidClassFactory, &factory);
  // A failing factory or instance request would leave nothing to call: it is
  // reported like a library that cannot be loaded, never dereferenced.
  if (fs != engine::kStatusOk || factory == nullptr)
    throw EngineLoadError("no class factory for " + clsid.ToString() + " (" + Hex(fs) + ")");
  auto* f = static_cast<engine::IEngineClassFactory*>(factory);
  void* object = nullptr;
  const engine::Status cs = f->CreateInstance(nullptr, iid, &object);
  f->Release();
  if (cs != engine::kStatusOk || object == nullptr)
    throw EngineLoadError("no instance of " + clsid.ToString() + " with interface " +
                          iid.ToString() + " (" + Hex(cs) + ")");
  return object;
}

engine::Ref<engine::IDSBase> CreateDSBase() {
  return engine::Ref<engine::IDSBase>::Adopt(
      static_cast<engine::IDSBase*>(CreateEngineObject(engine::kClsidDSBase, engine::kIidDSBase)));
}

engine::Ref<engine::IDSCursor> CreateDSCursor() {
  return engine::Ref<engine::IDSCursor>::Adopt(static_cast<engine::IDSCursor*>(
      CreateEngineObject(engine::kClsidDSCursor, engine::kIidDSCursor)));
}

std::string LoadedEnginePath() {
  return TheLibrary().Path();
}

}  // namespace quor::data
