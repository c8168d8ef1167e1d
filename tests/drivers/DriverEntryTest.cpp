// The one entry of both drivers: nothing unwinds through it, whatever a
// driver throws, and an instance lives from its open to its close.

#include <gtest/gtest.h>

#include <stdexcept>

#include "drivers/DriverEntry.h"

namespace quor::drivers {
namespace {

struct Counted {
  static inline int alive = 0;
  static inline bool failOpen = false;
  static constexpr const char* kName = "test-driver";
  explicit Counted(const QuorDriverOpenInfo* info) {
    if (failOpen) throw 42;  // not even a std::exception
    ++alive;
    sawInfo = info != nullptr;
  }
  ~Counted() { --alive; }
  void Opened(std::intptr_t, std::intptr_t lParam2, std::intptr_t id) {
    openParam = lParam2;
    self = id;
  }
  std::intptr_t Handle(std::uint32_t message, std::intptr_t lParam1, std::intptr_t) {
    if (lParam1 == 1) throw std::runtime_error("a std failure");
    if (lParam1 == 2) throw "a text";
    return message == kDrvClose ? 1 : 7;
  }
  bool sawInfo = false;
  std::intptr_t openParam = 0;
  std::intptr_t self = 0;
};

TEST(DriverEntry, NothingUnwindsAndAnInstanceLivesFromOpenToClose) {
  QuorDriverOpenInfo info{sizeof info, "x.ini", "reeldrv", "Drivers32", "lib.so"};
  const std::intptr_t id =
      DriverEntry<Counted>(0, kDrvOpen, reinterpret_cast<std::intptr_t>(&info), 5);
  ASSERT_NE(id, 0);
  const auto* driver = reinterpret_cast<const Counted*>(id);
  EXPECT_EQ(Counted::alive, 1);
  EXPECT_TRUE(driver->sawInfo);
  EXPECT_EQ(driver->openParam, 5);
  EXPECT_EQ(driver->self, id);
  const auto instance = static_cast<std::uintptr_t>(id);
  EXPECT_EQ(DriverEntry<Counted>(instance, kDecoderMessage, 0, 0), 7);
  EXPECT_EQ(DriverEntry<Counted>(instance, kDecoderMessage, 1, 0), 0);
  EXPECT_EQ(DriverEntry<Counted>(instance, kDecoderMessage, 2, 0), 0);
  // An open sent to an instance, and a message without one: refused.
  EXPECT_EQ(DriverEntry<Counted>(instance, kDrvOpen, 0, 0), 0);
  EXPECT_EQ(DriverEntry<Counted>(0, kDecoderMessage, 0, 0), 0);
  EXPECT_EQ(DriverEntry<Counted>(instance, kDrvClose, 0, 0), 1);
  EXPECT_EQ(Counted::alive, 0);

  // A short open info is not read; a constructor that throws refuses the open.
  info.size = 4;
  const std::intptr_t other =
      DriverEntry<Counted>(0, kDrvOpen, reinterpret_cast<std::intptr_t>(&info), 0);
  ASSERT_NE(other, 0);
  EXPECT_FALSE(reinterpret_cast<const Counted*>(other)->sawInfo);
  // Closed even when its close throws.
  EXPECT_EQ(DriverEntry<Counted>(static_cast<std::uintptr_t>(other), kDrvClose, 1, 0), 0);
  EXPECT_EQ(Counted::alive, 0);
  Counted::failOpen = true;
  EXPECT_EQ(DriverEntry<Counted>(0, kDrvOpen, 0, 0), 0);
  EXPECT_EQ(Counted::alive, 0);
}

}  // namespace
}  // namespace quor::drivers
