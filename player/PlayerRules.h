#pragma once
// The arithmetic of the player buttons, as pure functions: winding, volume
// steps and the channel button's cycle. Any thread.

#include <cstdint>
#include <optional>

namespace quor::player {

// A wind moves by this share of the stream length. Extended precision, and
// the products are taken in floating point before they are truncated toward
// zero, so that a target lands where the decoder's own arithmetic puts it.
inline constexpr long double kWindFactor = 0.05L;

// Wind forwards: length x 0.05 + position, truncated; a target at or beyond
// the length gives nothing (there is nothing to wind to).
std::optional<std::uint32_t> WindForwardTarget(std::int32_t streamLength,
                                               std::uint32_t playPosition);

// Wind backwards: position - length x 0.05, truncated; a target of 0 or less
// gives nothing. A target that does not fit in 32 bits (only a decoder that
// reports a negative length can make one) gives nothing either.
std::optional<std::uint32_t> WindBackwardTarget(std::int32_t streamLength,
                                                std::uint32_t playPosition);

// Volume levels step by 20; a request carries one level in each 16-bit half
// and the decoder's answer is read from its high half.
inline constexpr std::uint32_t kVolumeStep = 20;

// The level after volume up from the decoder's value; nothing when it would
// reach 255.
std::optional<std::uint32_t> VolumeUpLevel(std::uint32_t decoderValue);

// The level after volume down; nothing when it would fall to 0 or below (a
// level under 20 must not wrap round to a huge one).
std::optional<std::uint32_t> VolumeDownLevel(std::uint32_t decoderValue);

// The value that sets both levels: level x 65536 + level.
constexpr std::uint32_t VolumeValue(std::uint32_t level) {
  return level * 65536u + level;
}

// What one press of the channel button sends.
struct ChannelRequests {
  enum class Kind {
    kNone,    // a ChannelStep outside 0..2: nothing
    kSelect,  // DecoderSelect code 36 with `track`
    kMix,     // DecoderSetValue 1297 with `mixLeft`, then 1298 with `mixRight`
  };
  Kind kind = Kind::kNone;
  std::uint32_t track = 0;
  std::uint32_t mixLeft = 0;
  std::uint32_t mixRight = 0;
  std::int32_t nextStep = 0;  // the ChannelStep afterwards
};

// The cycle: with more than two channels, channel 2, 3, 1; else the mixes
// (left, left), (right, right), (left, right), the last being the plain mix.
ChannelRequests ChannelCycle(std::int32_t audioChannelInfo, std::int32_t channelStep);

}  // namespace quor::player
