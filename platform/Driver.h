#pragma once
// Installable decoder drivers: OpenDriver / SendDriverMessage / CloseDriver.
//
// OpenDriver finds the library named for the driver in the given section
// (normally [Drivers32]) of drivers.ini, loads it and opens one instance
// through its exported DriverProc (see platform/driver_api.h). drivers.ini is
// looked up in this order, the first file that names the driver winning:
//   1. $QUORVOD_DRIVERS_INI, when set and not empty (then it is the only one);
//   2. the path given to SetDriversIniPath, when not empty (tests);
//   3. ProgramFolder() + "drivers.ini";
//   4. /etc/quorvod/drivers.ini.
// A library name without a '/' is taken relative to the folder of the
// drivers.ini that named it. Section and key names compare without case.
//
// A driver that cannot be found, loaded or opened gives a null handle; every
// call on a null handle returns 0 and touches nothing. Handles are owned by
// the caller until CloseDriver. Calls on one handle must not overlap; distinct
// handles may be used from distinct threads.

#include <cstdint>
#include <string>
#include <string_view>

namespace quor::platform {

struct DriverInstance;
using DriverHandle = DriverInstance*;

// Opens the driver; lParam2 is handed to the driver's open. Never throws.
DriverHandle OpenDriver(std::u16string_view driverName, std::u16string_view sectionName,
                        std::intptr_t lParam2);

// Sends one message to the driver and returns its result unchanged; 0 for a
// null handle, and 0 without sending for the open and close messages (those
// are OpenDriver's and CloseDriver's).
std::intptr_t SendDriverMessage(DriverHandle driver, std::uint32_t message, std::intptr_t lParam1,
                                std::intptr_t lParam2);

// Closes the instance (the driver's close gets lParam1 and lParam2) and frees
// the handle; returns the driver's result, 0 for a null handle. The library
// stays mapped for the life of the process: a driver may run threads of its
// own libraries that cannot be unloaded safely.
std::intptr_t CloseDriver(DriverHandle driver, std::intptr_t lParam1, std::intptr_t lParam2);

// The drivers.ini used when $QUORVOD_DRIVERS_INI is not set, ahead of the
// program folder's; empty restores the normal lookup. For tests.
void SetDriversIniPath(std::string path);

// The library file named for driverName in section of the first drivers.ini
// (in lookup order) that names it, resolved to a path; empty when none does.
// iniPath receives the file that named it.
std::string FindDriverLibrary(std::string_view driverName, std::string_view section,
                              std::string* iniPath = nullptr);

}  // namespace quor::platform
