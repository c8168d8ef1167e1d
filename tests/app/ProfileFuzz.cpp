// Fuzz target: arbitrary bytes as an INI file. Parsing must never crash,
// hang or allocate without bound, and every value read back is bounded by
// the line length.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/Profile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const quor::platform::Profile p = quor::platform::Profile::Parse(text);
  for (const char* key : {"RoomName", "ServerName", "ServerIP", "Volup", "up"}) {
    const std::string v = p.ReadString("LyraboxSet", key, "");
    const std::string k = p.ReadString("KeyMap", key, "0");
    if (v.size() > quor::platform::Profile::kMaxLineLength ||
        k.size() > quor::platform::Profile::kMaxLineLength)
      __builtin_trap();
  }
  return 0;
}
