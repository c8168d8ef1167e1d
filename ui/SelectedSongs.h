#pragma once
// The queue view: the room's play queue (the shared SelectedSongs list of
// SongEntry byte strings, entry 0 plays next) shown seven entries a page in
// the song rows, with the picked row moved to the front or deleted. The
// queue itself stays in the shared state; this class owns its view: PageNo
// and QueueCursor. The player redraws the view through QueuePageView when
// its buttons take an entry off the queue. GUI thread only.

#include "player/Player.h"
#include "ui/ControlGroups.h"
#include "ui/SharedState.h"
#include "ui/SongList.h"

namespace quor::ui {

class SelectedSongs final : public QueuePaging, public player::QueuePageView {
 public:
  SelectedSongs(SharedState& state, ControlGroups& groups, SongList& songList);

  // Opens the view on page 1.
  void selectBitBtn6Click();
  // Writes entry i into row (i mod 7) + 1; an index outside the queue
  // writes nothing.
  void FillQueueRow(std::size_t i);
  // Queue paging (the song page buttons while the view is open).
  void PreviousSongPage() override;
  void NextSongPage() override;
  // Draws the view again after the queue changed: the current page when the
  // queue still reaches it, else the one before; page 1 afresh. The player
  // calls it when its buttons change the queue.
  void RedrawQueuePage() override;
  // The picked entry to the front; delete the picked entry.
  void selectedsongBitBtn1Click();
  void selectedsongBitBtn2Click();

 private:
  SharedState& state_;
  ControlGroups& groups_;
  SongList& songList_;
};

}  // namespace quor::ui
