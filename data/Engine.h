#pragma once
// Loading the dataset engine and creating its objects.
//
// The engine library is loaded once per process, on the first object any
// dataset asks for, under one process-wide lock: from the path start-up
// recorded (platform::RecordEnginePath), else libdsengine.so beside the
// executable. Objects come from the library's class factories. Any thread may
// call; the objects themselves belong to the thread that uses them.

#include <stdexcept>
#include <string>

#include "engine/api/DSEngine.h"
#include "platform/Guid.h"

namespace quor::data {

// The engine library could not be loaded or could not create an object.
// what() is the system's text "Error loading libdsengine.so"; Detail() says
// why (the loader's message, the missing entry, the failing status), for logs.
class EngineLoadError : public std::runtime_error {
 public:
  explicit EngineLoadError(std::string detail);
  const std::string& Detail() const { return detail_; }

 private:
  std::string detail_;
};

// A new engine object of class clsid, asked for interface iid; the caller owns
// the one reference it holds. Loads the library first if needed. Throws
// EngineLoadError.
void* CreateEngineObject(const platform::Guid& clsid, const platform::Guid& iid);

// A new store / a new cursor, each holding one reference.
engine::Ref<engine::IDSBase> CreateDSBase();
engine::Ref<engine::IDSCursor> CreateDSCursor();

// The path of the loaded library; empty while none is loaded.
std::string LoadedEnginePath();

}  // namespace quor::data
