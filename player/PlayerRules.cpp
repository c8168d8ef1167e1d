#include "player/PlayerRules.h"

#include <limits>

#include "platform/driver_api.h"

namespace quor::player {

namespace {

// Both wind targets lie within (-2^31 x 0.05, 2^32 + 2^31 x 0.05): an int64
// holds every truncated value.
std::int64_t Truncate(long double value) {
  return static_cast<std::int64_t>(value);
}

}  // namespace

std::optional<std::uint32_t> WindForwardTarget(std::int32_t streamLength,
                                               std::uint32_t playPosition) {
  const std::int64_t target =
      Truncate(static_cast<long double>(streamLength) * kWindFactor + playPosition);
  // Below the length means within [0, length): a 32-bit value.
  if (target >= streamLength) return std::nullopt;
  return static_cast<std::uint32_t>(target);
}

std::optional<std::uint32_t> WindBackwardTarget(std::int32_t streamLength,
                                                std::uint32_t playPosition) {
  const std::int64_t target =
      Truncate(playPosition - static_cast<long double>(streamLength) * kWindFactor);
  if (target <= 0 || target > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  return static_cast<std::uint32_t>(target);
}

std::optional<std::uint32_t> VolumeUpLevel(std::uint32_t decoderValue) {
  const std::uint32_t level = (decoderValue >> 16) + kVolumeStep;
  if (level >= 255) return std::nullopt;
  return level;
}

std::optional<std::uint32_t> VolumeDownLevel(std::uint32_t decoderValue) {
  const std::int64_t level = static_cast<std::int64_t>(decoderValue >> 16) - kVolumeStep;
  if (level <= 0) return std::nullopt;
  return static_cast<std::uint32_t>(level);
}

ChannelRequests ChannelCycle(std::int32_t audioChannelInfo, std::int32_t channelStep) {
  using Kind = ChannelRequests::Kind;
  constexpr std::uint32_t kLeft = kDecoderMixTakeLeft;
  constexpr std::uint32_t kRight = kDecoderMixTakeRight;
  if (channelStep < 0 || channelStep > 2) return {Kind::kNone, 0, 0, 0, channelStep};
  const std::int32_t next = (channelStep + 1) % 3;
  if (audioChannelInfo > 2) {
    static constexpr std::uint32_t kTracks[] = {2, 3, 1};
    return {Kind::kSelect, kTracks[channelStep], 0, 0, next};
  }
  static constexpr std::uint32_t kMixes[][2] = {{kLeft, kLeft}, {kRight, kRight}, {kLeft, kRight}};
  return {Kind::kMix, 0, kMixes[channelStep][0], kMixes[channelStep][1], next};
}

}  // namespace quor::player
