#include "platform/EngineRegistry.h"

#include <mutex>

namespace quor::platform {
namespace {
// Guarded by EngineMutex().
std::string& EnginePathSlot() {
  static std::string path;
  return path;
}
std::mutex& EngineMutex() {
  static std::mutex m;
  return m;
}
}  // namespace

void RecordEnginePath(const std::string& path) {
  const std::lock_guard lock(EngineMutex());
  EnginePathSlot() = path;
}

std::string RecordedEnginePath() {
  const std::lock_guard lock(EngineMutex());
  return EnginePathSlot();
}

}  // namespace quor::platform
