#include "platform/Ticks.h"

#include <chrono>

namespace quor::platform {

std::uint32_t TickCount() {
  using namespace std::chrono;
  const auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  return static_cast<std::uint32_t>(ms);  // keeps the low 32 bits: the counter wraps
}

}  // namespace quor::platform
