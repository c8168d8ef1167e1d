// The player buttons' arithmetic: wind targets, volume steps, channel cycle.

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>

#include "player/PlayerRules.h"

namespace quor::player {
namespace {

using Kind = ChannelRequests::Kind;

TEST(PlayerRules, WindTargetsAreTruncatedAndStayWithinTheSong) {
  struct Case {
    std::int32_t length;
    std::uint32_t position;
    std::optional<std::uint32_t> forwards;
    std::optional<std::uint32_t> backwards;
  };
  constexpr auto kNone = std::nullopt;
  const Case cases[] = {
      {1000, 960, kNone, 910},  // forwards 1010 is not below 1000
      {1000, 900, 950, 850},
      {1000, 30, 80, kNone},  // backwards -20
      {1000, 100, 150, 50},
      {1000, 50, 100, kNone},  // backwards exactly 0
      {1000, 0, 50, kNone},    // nothing plays
      {999, 0, 49, kNone},     // 49.95 truncated toward zero
      {999, 100, 149, 50},     // 50.05 truncated
      {19, 5, 5, 4},           // 5.95 and 4.05, truncated
      {0, 0, kNone, kNone},    // no length: nothing either way
      {180000, 60000, 69000, 51000},
      // A position read as a huge unsigned number is no negative one.
      {1000, 0xFFFFFF00u, kNone, 0xFFFFFF00u - 50},
      // A length the decoder reports as negative: forwards never, backwards
      // only while the target fits in 32 bits.
      {-1000, 500, kNone, 550},
      {std::numeric_limits<std::int32_t>::min(), 0xFFFFFFFFu, kNone, kNone},
      {std::numeric_limits<std::int32_t>::max(), 0, 107374182, kNone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.length << " / " << c.position);
    EXPECT_EQ(WindForwardTarget(c.length, c.position), c.forwards);
    EXPECT_EQ(WindBackwardTarget(c.length, c.position), c.backwards);
  }
  // The factor is the extended-precision 0.05, not a rounded double product.
  EXPECT_EQ(kWindFactor, 0.05L);
}

TEST(PlayerRules, VolumeLevelsStepByTwentyAndNeverWrap) {
  struct Case {
    std::uint32_t value;  // as the decoder answers: two 16-bit levels
    std::optional<std::uint32_t> up;
    std::optional<std::uint32_t> down;
  };
  const Case cases[] = {
      {200u << 16 | 200, 220, 180},
      {240u << 16 | 240, std::nullopt, 220},  // 260 is not below 255
      {234u << 16, 254, 214},                 // the high level alone counts
      {235u << 16 | 7, std::nullopt, 215},
      {20u << 16 | 20, 40, std::nullopt},  // 0 is not above 0
      {21u << 16, 41, 1},
      {10u << 16 | 10, 30, std::nullopt},  // -10: nothing (no wrap round)
      {0, 20, std::nullopt},
      {0x0000FFFF, 20, std::nullopt},  // the low level does not count
      {0xFFFF0000u, std::nullopt, 65515},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(VolumeUpLevel(c.value), c.up);
    EXPECT_EQ(VolumeDownLevel(c.value), c.down);
  }
  EXPECT_EQ(VolumeValue(220), 14418140u);  // 220 in both halves
  EXPECT_EQ(VolumeValue(1), 0x00010001u);
}

TEST(PlayerRules, TheChannelCycle) {
  struct Case {
    std::int32_t info;
    std::int32_t step;
    Kind kind;
    std::uint32_t track, left, right;
    std::int32_t next;
  };
  const Case cases[] = {
      {3, 0, Kind::kSelect, 2, 0, 0, 1},       {3, 1, Kind::kSelect, 3, 0, 0, 2},
      {3, 2, Kind::kSelect, 1, 0, 0, 0},       {7, 0, Kind::kSelect, 2, 0, 0, 1},
      {2, 0, Kind::kMix, 0, 100, 100, 1},      {2, 1, Kind::kMix, 0, 6553600, 6553600, 2},
      {2, 2, Kind::kMix, 0, 100, 6553600, 0},  {0, 1, Kind::kMix, 0, 6553600, 6553600, 2},
      {-5, 2, Kind::kMix, 0, 100, 6553600, 0}, {2, 3, Kind::kNone, 0, 0, 0, 3},
      {3, -1, Kind::kNone, 0, 0, 0, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.info << " / " << c.step);
    const ChannelRequests r = ChannelCycle(c.info, c.step);
    EXPECT_EQ(r.kind, c.kind);
    EXPECT_EQ(r.track, c.track);
    EXPECT_EQ(r.mixLeft, c.left);
    EXPECT_EQ(r.mixRight, c.right);
    EXPECT_EQ(r.nextStep, c.next);
  }
}

}  // namespace
}  // namespace quor::player
