#pragma once
// Helpers shared by the driver and binding tests: a scratch folder, a
// drivers.ini naming a driver of the build, environment variables set for one
// test, and the sim driver's log read back.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace quor::testing {

// The folder the build puts programs and drivers in.
inline std::string BinDir() {
  const char* dir = std::getenv("QUOR_BIN_DIR");
  return dir != nullptr ? std::string(dir) : std::string();
}

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quordrv-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string File(const std::string& name) const { return (path_ / name).string(); }
  std::string Write(const std::string& name, const std::string& text) const {
    std::ofstream(File(name), std::ios::binary) << text;
    return File(name);
  }

 private:
  std::filesystem::path path_;
};

// Sets (or with nullopt unsets) one variable until the end of the scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      ::setenv(name, value->c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// One line of the sim driver's log: "msg lParam1 lParam2 -> result[ path]".
struct LogLine {
  std::uint32_t message = 0;
  std::uint64_t lParam1 = 0;
  std::uint64_t lParam2 = 0;
  std::uint64_t result = 0;
  std::string text;
};

inline std::vector<LogLine> ReadLog(const std::string& path) {
  std::vector<LogLine> lines;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    LogLine entry;
    std::string arrow;
    fields >> entry.message >> entry.lParam1 >> entry.lParam2 >> arrow >> entry.result;
    EXPECT_EQ(arrow, "->") << line;
    EXPECT_FALSE(fields.fail()) << line;
    if (fields.peek() == ' ') {
      fields.get();
      std::getline(fields, entry.text);
    }
    lines.push_back(entry);
  }
  return lines;
}

// A drivers.ini naming library as "reeldrv", with extra text appended.
inline std::string DriversIni(const std::string& library, const std::string& extra = {}) {
  return "[Drivers32]\nreeldrv=" + library + "\n" + extra;
}

}  // namespace quor::testing
