#pragma once
// The module-level state of the main window: set to its start values by the
// window's creation event and living for the whole run. Only the GUI thread
// touches it, so it has no lock.
//
// The player's part (PlayerState, StreamHandle, StreamLength,
// AudioChannelInfo, PlayPosition, ChannelStep, MarqueeText) is the player's
// own struct, embedded as the base so that every member keeps its name here
// and the player works on it without knowing the window.

#include <cstdint>
#include <string>
#include <vector>

#include "player/PlayerStatus.h"

namespace quor::ui {

struct SharedState : player::PlayerStatus {
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
};

// The status line's welcome text at start-up; it ends in two blanks so that
// the scrolled text keeps a gap between its end and its start.
inline constexpr char16_t kWelcomeText[] = u"欢迎使用QuorKTV视频点播系统  ";

}  // namespace quor::ui
