#include "ui/SelectedSongs.h"

#include "ui/QueueRules.h"

namespace quor::ui {

SelectedSongs::SelectedSongs(SharedState& state, ControlGroups& groups, SongList& songList)
    : state_(state), groups_(groups), songList_(songList) {}

void SelectedSongs::selectBitBtn6Click() {
  state_.PageNo = 1;
  state_.QueueCursor = 0;
  state_.QueueView = true;
  songList_.ResetRowColours();
  for (const char* group : {"singerBitBtn", "photocontrol", "LanguageBitBtn", "JSControl",
                            "songtypeBitBtn", "pyselectcontrol"})
    groups_.ShowControlGroup(group, 0);
  groups_.ShowControlGroup("selectedcontrol", 1);
  songList_.ClearSongRows();
  // An empty queue leaves the rows as they were shown or hidden, emptied.
  if (state_.SelectedSongs.empty()) return;
  songList_.SetSongRowsVisible(true);
  for (std::size_t i = 0; i < state_.SelectedSongs.size() && i < kQueuePageSize; ++i)
    FillQueueRow(i);
}

void SelectedSongs::FillQueueRow(std::size_t i) {
  if (i >= state_.SelectedSongs.size()) return;
  songList_.Row(static_cast<int>(i % kQueuePageSize) + 1).SetGbkText(state_.SelectedSongs[i]);
}

void SelectedSongs::PreviousSongPage() {
  if (state_.PageNo <= 1) return;
  songList_.ResetRowColours();
  state_.QueueCursor = 0;
  songList_.ClearSongRows();
  const auto first = static_cast<std::size_t>(FirstIndexOfPage(state_.PageNo - 1));
  for (std::size_t i = first; i < first + kQueuePageSize; ++i) FillQueueRow(i);
  state_.PageNo -= 1;
}

void SelectedSongs::NextSongPage() {
  const auto end = static_cast<std::size_t>(FirstIndexOfPage(state_.PageNo + 1));
  if (state_.SelectedSongs.size() <= end) return;
  songList_.ResetRowColours();
  state_.QueueCursor = 0;
  songList_.ClearSongRows();
  for (std::size_t i = end; i < state_.SelectedSongs.size() && i < end + kQueuePageSize; ++i)
    FillQueueRow(i);
  state_.PageNo += 1;
}

void SelectedSongs::RedrawQueuePage() {
  if (state_.PageNo > 1) {
    PreviousSongPage();
    NextSongPage();
  }
  if (state_.PageNo == 1) selectBitBtn6Click();
}

void SelectedSongs::selectedsongBitBtn1Click() {
  const std::optional<std::size_t> picked =
      PickedEntry(state_.SelectedSongs.size(), state_.PageNo, state_.QueueCursor);
  // No pick, an empty queue, or a pick on a row that holds no entry.
  if (!picked) return;
  songList_.ResetRowColours();
  MoveToFront(state_.SelectedSongs, *picked);
  RedrawQueuePage();
  state_.QueueCursor = 0;
}

void SelectedSongs::selectedsongBitBtn2Click() {
  const std::optional<std::size_t> picked =
      PickedEntry(state_.SelectedSongs.size(), state_.PageNo, state_.QueueCursor);
  if (!picked) return;
  songList_.ResetRowColours();
  state_.SelectedSongs.erase(state_.SelectedSongs.begin() + static_cast<std::ptrdiff_t>(*picked));
  state_.PageNo = PageAfterDelete(state_.PageNo, state_.QueueCursor, state_.SelectedSongs.size());
  RedrawQueuePage();
  state_.QueueCursor = 0;
}

}  // namespace quor::ui
