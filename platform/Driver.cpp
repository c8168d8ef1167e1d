#include "platform/Driver.h"

#include <ini.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "platform/AsciiCase.h"
#include "platform/Codepage.h"
#include "platform/ProgramFolder.h"
#include "platform/SharedLibrary.h"
#include "platform/driver_api.h"

namespace quor::platform {

struct DriverInstance {
  QuorDriverProc proc = nullptr;
  std::uintptr_t id = 0;
};

namespace {

constexpr const char* kSystemDriversIni = "/etc/quorvod/drivers.ini";

// Guards the test override of the drivers.ini path.
std::mutex iniPathMutex;
std::string iniPathOverride;

bool FileExists(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::vector<std::string> CandidateInis() {
  const char* env = std::getenv("QUORVOD_DRIVERS_INI");
  if (env != nullptr && *env != '\0') return {env};
  std::vector<std::string> result;
  {
    std::lock_guard<std::mutex> guard(iniPathMutex);
    if (!iniPathOverride.empty()) result.push_back(iniPathOverride);
  }
  result.push_back(ProgramFolder() + "drivers.ini");
  result.push_back(kSystemDriversIni);
  return result;
}

struct Lookup {
  std::string_view section;
  std::string_view key;
  std::string value;
  bool found = false;
};

int LookupHandler(void* user, const char* section, const char* name, const char* value) {
  auto* lookup = static_cast<Lookup*>(user);
  // The first entry wins, as with a private-profile read.
  if (!lookup->found && EqualsNoCase(section, lookup->section) && EqualsNoCase(name, lookup->key)) {
    lookup->value = value;
    lookup->found = true;
  }
  return 1;  // keep going: a bad line elsewhere must not hide a good entry
}

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

std::string Narrow(std::u16string_view text) {
  try {
    return Utf16ToUtf8(text);
  } catch (const std::exception&) {
    return {};
  }
}

}  // namespace

void SetDriversIniPath(std::string path) {
  std::lock_guard<std::mutex> guard(iniPathMutex);
  iniPathOverride = std::move(path);
}

std::string FindDriverLibrary(std::string_view driverName, std::string_view section,
                              std::string* iniPath) {
  if (driverName.empty()) return {};
  for (const std::string& ini : CandidateInis()) {
    if (!FileExists(ini)) continue;
    Lookup lookup{section, driverName, {}, false};
    const int error = ini_parse(ini.c_str(), &LookupHandler, &lookup);
    if (error != 0) {
      std::fprintf(stderr, "%s: cannot read line %d\n", ini.c_str(), error);
    }
    if (!lookup.found || lookup.value.empty()) continue;
    if (iniPath != nullptr) *iniPath = ini;
    if (lookup.value.find('/') != std::string::npos) return lookup.value;
    return FolderOf(ini) + lookup.value;
  }
  return {};
}

DriverHandle OpenDriver(std::u16string_view driverName, std::u16string_view sectionName,
                        std::intptr_t lParam2) {
  const std::string name = Narrow(driverName);
  const std::string section = Narrow(sectionName);
  std::string ini;
  const std::string library = FindDriverLibrary(name, section, &ini);
  if (library.empty()) {
    std::fprintf(stderr, "driver %s: not named in [%s] of any drivers.ini\n", name.c_str(),
                 section.c_str());
    return nullptr;
  }
  // Resident: the library is never unmapped (see CloseDriver).
  SharedLibrary module;
  if (!module.Open(library, SharedLibrary::Lifetime::kResident)) {
    std::fprintf(stderr, "driver %s: %s\n", name.c_str(), module.Error().c_str());
    return nullptr;
  }
  auto proc = module.Function<QuorDriverProc>(QUOR_DRIVER_PROC_SYMBOL);
  if (proc == nullptr) {
    std::fprintf(stderr, "driver %s: %s exports no %s\n", name.c_str(), library.c_str(),
                 QUOR_DRIVER_PROC_SYMBOL);
    return nullptr;
  }
  QuorDriverOpenInfo info{};
  info.size = sizeof info;
  info.iniPath = ini.c_str();
  info.driverName = name.c_str();
  info.sectionName = section.c_str();
  info.libraryPath = library.c_str();
  const std::intptr_t id = proc(0, kDrvOpen, reinterpret_cast<std::intptr_t>(&info), lParam2);
  // The reference of this load is dropped; being resident keeps the code
  // mapped for the instance.
  module.Close();
  if (id == 0) {
    std::fprintf(stderr, "driver %s: %s refused to open\n", name.c_str(), library.c_str());
    return nullptr;
  }
  auto* instance = new (std::nothrow) DriverInstance{proc, static_cast<std::uintptr_t>(id)};
  if (instance == nullptr) proc(static_cast<std::uintptr_t>(id), kDrvClose, 0, 0);
  return instance;
}

std::intptr_t SendDriverMessage(DriverHandle driver, std::uint32_t message, std::intptr_t lParam1,
                                std::intptr_t lParam2) {
  if (driver == nullptr) return 0;
  // Open and close belong to OpenDriver and CloseDriver alone: sent as
  // messages they would make a second instance nobody closes, or free this
  // one under its handle.
  if (message == kDrvOpen || message == kDrvClose) return 0;
  return driver->proc(driver->id, message, lParam1, lParam2);
}

std::intptr_t CloseDriver(DriverHandle driver, std::intptr_t lParam1, std::intptr_t lParam2) {
  if (driver == nullptr) return 0;
  const std::intptr_t result = driver->proc(driver->id, kDrvClose, lParam1, lParam2);
  delete driver;
  return result;
}

}  // namespace quor::platform
