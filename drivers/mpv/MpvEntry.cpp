// The C entry point of libreeldrv-mpv.so.

#include <cstdio>
#include <exception>

#include "drivers/mpv/MpvDriver.h"

extern "C" __attribute__((visibility("default"))) std::intptr_t DriverProc(std::uintptr_t driverId,
                                                                           std::uint32_t message,
                                                                           std::intptr_t lParam1,
                                                                           std::intptr_t lParam2) {
  using quor::drivers::MpvDriver;
  // Nothing may unwind through this C entry point.
  try {
    if (message == kDrvOpen) {
      if (driverId != 0) return 0;  // an open is never sent to an instance
      const auto* info = reinterpret_cast<const QuorDriverOpenInfo*>(lParam1);
      const char* ini =
          info != nullptr && info->size >= sizeof(QuorDriverOpenInfo) ? info->iniPath : nullptr;
      auto* driver = new MpvDriver(quor::drivers::ReadMpvOptions(ini));
      return reinterpret_cast<std::intptr_t>(driver);
    }
    auto* driver = reinterpret_cast<MpvDriver*>(driverId);
    if (driver == nullptr) return 0;
    if (message == kDrvClose) {
      delete driver;
      return 1;
    }
    return driver->Handle(message, lParam1, lParam2);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "%s\n", failure.what());
  } catch (...) {
    std::fprintf(stderr, "reeldrv-mpv: unexpected failure\n");
  }
  return 0;
}
