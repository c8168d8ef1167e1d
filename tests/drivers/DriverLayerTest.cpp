// OpenDriver / SendDriverMessage / CloseDriver: the drivers.ini lookup, the
// library load and the failures that must give a null handle.

#include <gtest/gtest.h>

#include <filesystem>

#include "drivers/DriverTestSupport.h"
#include "platform/Driver.h"

namespace quor::platform {
namespace {

using testing::ScopedEnv;
using testing::TempDir;

std::string SimLibrary() {
  return testing::BinDir() + "/libreeldrv-sim.so";
}

class DriverLayer : public ::testing::Test {
 protected:
  ~DriverLayer() override { SetDriversIniPath({}); }
  TempDir dir_;
  ScopedEnv noEnv_{"QUORVOD_DRIVERS_INI", std::nullopt};
};

TEST_F(DriverLayer, FindsTheLibraryWithoutRegardToCase) {
  const std::string ini =
      dir_.Write("drivers.ini",
                 "; comment\n[other]\nreeldrv=wrong.so\n[drivers32]\nREELDRV = libx.so \n"
                 "reeldrv=second.so\nmidi=/abs/midi.so\n");
  SetDriversIniPath(ini);
  std::string found;
  EXPECT_EQ(FindDriverLibrary("reeldrv", "Drivers32", &found), dir_.File("libx.so"));
  EXPECT_EQ(found, ini);
  EXPECT_EQ(FindDriverLibrary("midi", "DRIVERS32"), "/abs/midi.so");
  EXPECT_EQ(FindDriverLibrary("absent", "Drivers32"), "");
  EXPECT_EQ(FindDriverLibrary("", "Drivers32"), "");
}

TEST_F(DriverLayer, EnvironmentOverridesEverythingElse) {
  SetDriversIniPath(dir_.Write("a.ini", testing::DriversIni("/from/a.so")));
  EXPECT_EQ(FindDriverLibrary("reeldrv", "Drivers32"), "/from/a.so");
  {
    ScopedEnv env("QUORVOD_DRIVERS_INI", dir_.Write("b.ini", "[Drivers32]\nmidi=m.so\n"));
    // The variable names the only file: no fallback to the override.
    EXPECT_EQ(FindDriverLibrary("reeldrv", "Drivers32"), "");
    EXPECT_EQ(FindDriverLibrary("midi", "Drivers32"), dir_.File("m.so"));
  }
  {
    ScopedEnv empty("QUORVOD_DRIVERS_INI", "");  // empty counts as not set
    EXPECT_EQ(FindDriverLibrary("reeldrv", "Drivers32"), "/from/a.so");
  }
}

TEST_F(DriverLayer, AFileThatDoesNotNameTheDriverGivesWayToTheNext) {
  // The override names another driver: the program folder's drivers.ini (the
  // test folder has none) and /etc/quorvod are tried after it.
  SetDriversIniPath(dir_.Write("a.ini", "[Drivers32]\nmidi=m.so\n"));
  const bool haveSystemIni = std::filesystem::exists("/etc/quorvod/drivers.ini");
  if (!haveSystemIni) {
    EXPECT_EQ(FindDriverLibrary("reeldrv", "Drivers32"), "");
  }
  EXPECT_EQ(FindDriverLibrary("midi", "Drivers32"), dir_.File("m.so"));
}

TEST_F(DriverLayer, TheShippedFilesNameTheDriversBesideThem) {
  const std::string bin = testing::BinDir();
  SetDriversIniPath(bin + "/drivers.ini");
  EXPECT_EQ(FindDriverLibrary("reeldrv", "Drivers32"), bin + "/libreeldrv-mpv.so");
  EXPECT_TRUE(std::filesystem::exists(bin + "/libreeldrv-mpv.so"));
  ScopedEnv env("QUORVOD_DRIVERS_INI", bin + "/drivers-sim.ini");
  DriverHandle driver = OpenDriver(u"reeldrv", u"Drivers32", 0);
  EXPECT_NE(driver, nullptr);
  EXPECT_EQ(CloseDriver(driver, 0, 0), 1);
}

TEST_F(DriverLayer, OpensSendsAndClosesARealDriver) {
  SetDriversIniPath(dir_.Write("drivers.ini", testing::DriversIni(SimLibrary())));
  ScopedEnv log("QUORVOD_DRIVER_LOG", dir_.File("sim.log"));
  DriverHandle first = OpenDriver(u"reeldrv", u"Drivers32", 7);
  DriverHandle second = OpenDriver(u"REELDRV", u"drivers32", 0);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  // Two instances of one library keep their own state.
  const std::string path = "/m/a-9s.mpg";
  EXPECT_EQ(SendDriverMessage(first, 0x4001, 1 | 1 << 16, reinterpret_cast<intptr_t>(path.c_str())),
            1);
  EXPECT_EQ(SendDriverMessage(first, 0x4001, 10 | 1 << 8 | 531 << 16, 0), 9000);
  EXPECT_EQ(SendDriverMessage(second, 0x4001, 10 | 1 << 8 | 531 << 16, 0), 0);
  EXPECT_EQ(SendDriverMessage(first, 0x1234, 0, 0), 0);  // unknown message
  // Open and close are not messages: the instance stays as it is.
  EXPECT_EQ(SendDriverMessage(first, 3, 0, 0), 0);
  EXPECT_EQ(SendDriverMessage(first, 4, 0, 0), 0);
  EXPECT_EQ(SendDriverMessage(first, 0x4001, 10 | 1 << 8 | 531 << 16, 0), 9000);
  EXPECT_EQ(CloseDriver(first, 0, 0), 1);
  EXPECT_EQ(CloseDriver(second, 0, 0), 1);
  const auto lines = testing::ReadLog(dir_.File("sim.log"));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0].message, 3u);
  EXPECT_EQ(lines[0].lParam2, 7u);  // OpenDriver's parameter reaches the driver's open
}

TEST_F(DriverLayer, FailuresGiveANullHandleThatIgnoresEverything) {
  const std::string notADriver = std::filesystem::exists("/lib/x86_64-linux-gnu/libm.so.6")
                                     ? "/lib/x86_64-linux-gnu/libm.so.6"
                                     : "/nonexistent/libm.so";
  const std::string inis[] = {
      testing::DriversIni("libmissing.so"),  // no such file beside the ini
      testing::DriversIni(notADriver),       // a library without DriverProc
      testing::DriversIni(dir_.Write("junk.so", "not an ELF file")),
      "[Drivers32]\nreeldrv=\n",                                  // empty value
      std::string("[Drivers32\nreeldrv=") + SimLibrary() + "\n",  // broken section line
      std::string(5000, 'x') + "\n[Drivers32]\n" + std::string(3000, '=') + "\n",
      std::string("\0\0\xFF\xFE[Drivers32]\nreeldrv=\n", 25),
  };
  for (const std::string& text : inis) {
    SetDriversIniPath(dir_.Write("drivers.ini", text));
    DriverHandle driver = OpenDriver(u"reeldrv", u"Drivers32", 0);
    EXPECT_EQ(driver, nullptr) << text.substr(0, 60);
    EXPECT_EQ(SendDriverMessage(driver, 0x4001, 0x0206030A, 0), 0);
    EXPECT_EQ(CloseDriver(driver, 0, 0), 0);
  }
  SetDriversIniPath(dir_.File("absent.ini"));
  EXPECT_EQ(OpenDriver(u"reeldrv", u"Drivers32", 0), nullptr);
  EXPECT_EQ(SendDriverMessage(nullptr, 0x4001, 1, 1), 0);
  EXPECT_EQ(CloseDriver(nullptr, 0, 0), 0);
}

}  // namespace
}  // namespace quor::platform
