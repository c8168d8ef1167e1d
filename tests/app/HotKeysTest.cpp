// The platform layers of start-up without an X display: each is silent; the
// hot keys fall back to matching the window's own key events.

#include <X11/XF86keysym.h>
#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/Display.h"
#include "platform/HotKeys.h"
#include "platform/ScreenSaver.h"

namespace quor::platform {
namespace {

TEST(HotKeysTest, VirtualKeysMapToKeysyms) {
  EXPECT_EQ(KeysymForVirtualKey(107), static_cast<unsigned long>(XK_KP_Add));
  EXPECT_EQ(KeysymForVirtualKey('A'), static_cast<unsigned long>(XK_A));
  EXPECT_EQ(KeysymForVirtualKey('7'), static_cast<unsigned long>(XK_7));
  EXPECT_EQ(KeysymForVirtualKey(0x60), static_cast<unsigned long>(XK_KP_0));
  EXPECT_EQ(KeysymForVirtualKey(0x70), static_cast<unsigned long>(XK_F1));
  EXPECT_EQ(KeysymForVirtualKey(0x87), static_cast<unsigned long>(XK_F24));
  EXPECT_EQ(KeysymForVirtualKey(0x26), static_cast<unsigned long>(XK_Up));
  EXPECT_EQ(KeysymForVirtualKey(0xAF), static_cast<unsigned long>(XF86XK_AudioRaiseVolume));
  EXPECT_EQ(KeysymForVirtualKey(0), 0ul);
  EXPECT_EQ(KeysymForVirtualKey(0x07), 0ul);
  EXPECT_EQ(KeysymForVirtualKey(100000), 0ul);
}

TEST(HotKeysTest, WithoutADisplayEverythingIsSilentAndWindowKeysMatch) {
  ::unsetenv("DISPLAY");
  EXPECT_FALSE(SetDisplayMode(800, 600));
  EXPECT_FALSE(SuppressScreenSaver());
  const auto keys = CreateHotKeys();
  EXPECT_EQ(keys->EventDescriptor(), -1);
  EXPECT_TRUE(keys->Register(1006, 0, 107));
  EXPECT_FALSE(keys->Register(1006, 0, 108));  // id taken
  EXPECT_FALSE(keys->Register(1007, 0, 0));    // no such key
  EXPECT_TRUE(keys->Register(1029, 0, 'L'));
  // A code given to a second key is refused: the first keeps the key.
  EXPECT_FALSE(keys->Register(1007, 0, 107));
  EXPECT_TRUE(keys->Register(1007, kModControl, 107));  // with Ctrl it is another key
  EXPECT_EQ(keys->MatchWindowKey(XK_KP_Add, 0), 1006);
  EXPECT_EQ(keys->MatchWindowKey(XK_l, 0), 1029);  // either letter case
  // A modifier held with the key is another key.
  EXPECT_EQ(keys->MatchWindowKey(XK_KP_Add, kModShift), std::nullopt);
  EXPECT_TRUE(keys->Unregister(1006));
  EXPECT_FALSE(keys->Unregister(1006));
  EXPECT_EQ(keys->MatchWindowKey(XK_KP_Add, 0), std::nullopt);
  EXPECT_TRUE(keys->TakePressed().empty());
}

}  // namespace
}  // namespace quor::platform
