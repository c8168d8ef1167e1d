// Fuzzes what the driver layer reads from outside: the drivers.ini text (the
// [Drivers32] lookup and the mpv driver's options) and a sequence of decoder
// requests with path texts, run against the sim driver's code.
//
// Input: ini text, a 0xFF byte, then 9-byte requests:
//   byte 0      0 = decoder request, 1 = open file with the path that follows,
//               else an unknown message
//   bytes 1-4   lParam1 (little-endian)
//   bytes 5-8   lParam2 (little-endian)
// An open-file request is followed by its path text up to a zero byte.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "drivers/mpv/MpvDriver.h"
#include "platform/Driver.h"
#include "platform/driver_api.h"

extern "C" std::intptr_t DriverProc(std::uintptr_t driverId, std::uint32_t message,
                                    std::intptr_t lParam1, std::intptr_t lParam2);

namespace {

// The scratch drivers.ini of this process, removed at exit.
struct ScratchIni {
  std::string path = "/tmp/quor-drivers-fuzz-" + std::to_string(::getpid()) + ".ini";
  ~ScratchIni() { std::remove(path.c_str()); }
};

const std::string& IniPath() {
  static const ScratchIni scratch;
  return scratch.path;
}

std::uint32_t Read32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto* end = data + size;
  const auto* split = static_cast<const std::uint8_t*>(std::memchr(data, 0xFF, size));
  const std::uint8_t* requests = split != nullptr ? split + 1 : end;
  const std::size_t iniSize = static_cast<std::size_t>((split != nullptr ? split : end) - data);

  if (std::FILE* ini = std::fopen(IniPath().c_str(), "wb")) {
    std::fwrite(data, 1, iniSize, ini);
    std::fclose(ini);
    quor::platform::SetDriversIniPath(IniPath());
    // The library is never loaded here: only the lookup runs.
    (void)quor::platform::FindDriverLibrary("reeldrv", "Drivers32");
    // The options the driver reads itself, as the driver would (the screen
    // against the ini text's first line as a display name).
    const auto options = quor::drivers::ReadMpvOptions(IniPath().c_str());
    if (const auto screen = options.find("x11-screen"); screen != options.end()) {
      const std::string text(reinterpret_cast<const char*>(data), iniSize);
      (void)quor::drivers::DisplayOnScreen(text.substr(0, text.find('\n')), screen->second);
    }
  }

  const std::intptr_t id = DriverProc(0, kDrvOpen, 0, 0);
  if (id == 0) return 0;
  const auto driver = static_cast<std::uintptr_t>(id);
  for (const std::uint8_t* p = requests; end - p >= 9;) {
    const std::uint8_t kind = p[0];
    const std::uint32_t first = Read32(p + 1);
    const std::uint32_t second = Read32(p + 5);
    p += 9;
    if (kind == 0) {
      // Never open-file here: its argument would be read as an address.
      const std::uint32_t packed = (first & 0xFF) == 1 ? first + 1 : first;
      DriverProc(driver, kDrvUser + 1, packed, second);
    } else if (kind == 1) {
      std::string path;
      while (p < end && *p != 0) path.push_back(static_cast<char>(*p++));
      if (p < end) ++p;
      DriverProc(driver, kDrvUser + 1, static_cast<std::intptr_t>(first & 0xFFFF0000u) | 1,
                 reinterpret_cast<std::intptr_t>(path.c_str()));
    } else if (kind != kDrvClose) {
      // The driver layer never passes a close on (see SendDriverMessage); an
      // open sent to an instance must be refused.
      DriverProc(driver, kind, first, second);
    }
  }
  DriverProc(driver, kDrvClose, 0, 0);
  quor::platform::SetDriversIniPath({});
  return 0;
}
