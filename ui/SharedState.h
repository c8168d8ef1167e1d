#pragma once
// The module-level state of the main window: set to its start values by the
// window's creation event and living for the whole run. Only the GUI thread
// touches it, so it has no lock.

#include <cstdint>
#include <string>
#include <vector>

namespace quor::ui {

struct SharedState {
  // The play queue of SongEntry texts (GBK); entry 0 plays next.
  std::vector<std::string> SelectedSongs;
  // True while the seven song rows show the queue.
  bool QueueView = false;
  // 1-based page of the queue view, seven entries a page.
  std::int32_t PageNo = 1;
  // Picked row 1..7 of the queue page shown; 0 = none.
  std::int32_t QueueCursor = 0;
  // The keypad's "next letter" key was pressed: the next letter key appends.
  bool NextLetterPending = false;
  // 0 started or resumed, 1 paused, 2 idle with an empty queue, 3 idle with
  // songs waiting, 4 nothing started since start-up.
  std::uint8_t PlayerState = 4;
  // Step 0..2 of the channel button's cycle.
  std::int32_t ChannelStep = 0;
  // Decoder value 1538 of the song playing.
  std::int32_t AudioChannelInfo = 0;
  // Decoder position of the song playing (treated as unsigned when winding).
  std::int32_t PlayPosition = 0;
  // Decoder length of the song playing; set by the player only.
  std::int32_t StreamLength = 0;
  // Stream of the song last started; only its low 8 bits travel.
  std::uint16_t StreamHandle = 0;
  // The status line, scrolled one character every timer tick.
  std::u16string MarqueeText;
};

// The status line's welcome text at start-up; it ends in two blanks so that
// the scrolled text keeps a gap between its end and its start.
inline constexpr char16_t kWelcomeText[] = u"欢迎使用QuorKTV视频点播系统  ";

}  // namespace quor::ui
