#pragma once
// The one body of every driver's C entry point DriverProc. The terminal calls
// it through a C function pointer, so nothing may unwind out of it: every
// failure, of whatever type, ends here as one line on standard error and the
// result 0 (for an open: the driver refused).
//
// A driver class offers:
//   static constexpr const char* kName;      prefix of its error lines
//   explicit Driver(const QuorDriverOpenInfo* info);   may throw; info may be null
//   std::intptr_t Handle(std::uint32_t message, std::intptr_t lParam1,
//                        std::intptr_t lParam2);        every message after the
//                                                       open, the close included
//                                                       (the instance is deleted
//                                                       after it)
// and may offer
//   void Opened(std::intptr_t lParam1, std::intptr_t lParam2, std::intptr_t id);
// called once the instance id is known.

#include <cstdint>
#include <cstdio>
#include <exception>
#include <memory>

#include "platform/driver_api.h"

namespace quor::drivers {

template <class Driver>
std::intptr_t DriverEntry(std::uintptr_t driverId, std::uint32_t message, std::intptr_t lParam1,
                          std::intptr_t lParam2) noexcept {
  try {
    if (message == kDrvOpen) {
      if (driverId != 0) return 0;  // an open is never sent to an instance
      const auto* info = reinterpret_cast<const QuorDriverOpenInfo*>(lParam1);
      if (info != nullptr && info->size < sizeof(QuorDriverOpenInfo)) info = nullptr;
      auto driver = std::make_unique<Driver>(info);
      const auto id = reinterpret_cast<std::intptr_t>(driver.get());
      if constexpr (requires { driver->Opened(lParam1, lParam2, id); })
        driver->Opened(lParam1, lParam2, id);
      driver.release();
      return id;
    }
    auto* driver = reinterpret_cast<Driver*>(driverId);
    if (driver == nullptr) return 0;
    if (message == kDrvClose) {
      const std::unique_ptr<Driver> closing(driver);
      return closing->Handle(message, lParam1, lParam2);
    }
    return driver->Handle(message, lParam1, lParam2);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "%s: %s\n", Driver::kName, failure.what());
  } catch (...) {
    std::fprintf(stderr, "%s: unexpected failure\n", Driver::kName);
  }
  return 0;
}

}  // namespace quor::drivers

// Defines the exported C entry point of a driver library over DriverEntry.
#define QUOR_DRIVER_ENTRY(DriverClass)                                                   \
  extern "C" __attribute__((visibility("default"))) std::intptr_t DriverProc(            \
      std::uintptr_t driverId, std::uint32_t message, std::intptr_t lParam1,             \
      std::intptr_t lParam2) {                                                           \
    return quor::drivers::DriverEntry<DriverClass>(driverId, message, lParam1, lParam2); \
  }
