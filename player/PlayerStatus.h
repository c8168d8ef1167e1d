#pragma once
// The player's part of the window's shared state: what the timer, the player
// buttons and PlayNextSong read and write. The window's shared state embeds
// it and sets it to its start values when the window is created. GUI thread
// only, so it has no lock.

#include <cstdint>
#include <string>

namespace quor::player {

// The play state, one byte.
enum class PlayerState : std::uint8_t {
  kStarted = 0,      // a song was started or resumed
  kPaused = 1,       // the pause button
  kIdleEmpty = 2,    // the decoder reported position 0 and the queue is empty
  kIdleWaiting = 3,  // position 0 while songs wait: the next such tick moves on
  kNotStarted = 4,   // no song started since start-up
};

// The members carry the system's names so that the window's state can embed
// this struct without renaming anything.
struct PlayerStatus {
  player::PlayerState PlayerState = player::PlayerState::kNotStarted;
  // Stream of the song last started; 0 until the first start. Only its low 8
  // bits travel in decoder requests.
  std::uint16_t StreamHandle = 0;
  // Decoder value 531 of the song last started.
  std::int32_t StreamLength = 0;
  // Decoder value 1538 of the song last started: above 2, the channel button
  // selects channels; else it sets the channel mix.
  std::int32_t AudioChannelInfo = 0;
  // Decoder value 518, read every tick; 0 = nothing plays. Unsigned, as
  // winding treats it.
  std::uint32_t PlayPosition = 0;
  // Step 0..2 of the channel button's cycle; 0 when a song starts.
  std::int32_t ChannelStep = 0;
  // The status line, scrolled one UTF-16 unit every tick.
  std::u16string MarqueeText;
};

}  // namespace quor::player
