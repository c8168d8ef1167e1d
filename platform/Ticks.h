#pragma once
// A 32-bit millisecond tick counter, as room PCs have always counted time.
// It wraps after about 49.7 days; waits compare the unsigned difference
// (now - start), so the wrap does no harm. Any thread may call it.

#include <cstdint>

namespace quor::platform {

std::uint32_t TickCount();

// Milliseconds elapsed since start, correct across one wrap of the counter.
inline std::uint32_t TicksSince(std::uint32_t start) {
  return TickCount() - start;
}

}  // namespace quor::platform
