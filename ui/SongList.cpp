#include "ui/SongList.h"

#include "data/ClientDataSet.h"
#include "ui/Paging.h"
#include "ui/SongEntry.h"

namespace quor::ui {

SongList::SongList(SongRowControls controls, SharedState& state, ControlGroups& groups,
                   data::ClientDataSet& songs)
    : controls_(controls), state_(state), groups_(groups), songs_(songs) {}

void SongList::SetSongRowsVisible(bool show) {
  for (std::size_t n = 1; n <= kSongPageSize; ++n) controls_.rows[n]->setVisible(show);
  controls_.prev->setVisible(show);
  controls_.next->setVisible(show);
}

void SongList::ClearSongRows() {
  for (std::size_t n = 1; n <= kSongPageSize; ++n) controls_.rows[n]->SetGbkText({});
}

void SongList::ResetRowColours() {
  for (std::size_t n = 1; n <= kSongPageSize; ++n) controls_.rows[n]->SetFontColour(kColourWhite);
}

void SongList::MarkSongRow(int n) {
  if (n < 1 || n > kSongPageSize) return;
  controls_.rows[static_cast<std::size_t>(n)]->SetFontColour(kColourBlue);
}

void SongList::FillSongRow(int n) {
  if (n < 1 || n > kSongPageSize) return;
  const std::string entry = MakeSongEntry(songs_.FieldByName("SINGID").AsString(),
                                          songs_.FieldByName("SINGER").AsString(),
                                          songs_.FieldByName("SINGNAME").AsString());
  const bool queued = IsQueued(state_.SelectedSongs, entry);
  controls_.rows[static_cast<std::size_t>(n)]->SetGbkText(entry);
  if (queued) MarkSongRow(n);
}

int SongList::FillSongPage() {
  int filled = 0;
  for (int n = 1; n <= kSongPageSize; ++n) {
    if (songs_.Eof()) break;
    FillSongRow(n);
    songs_.Next();
    filled = n;
  }
  return filled;
}

void SongList::ShowSongResults() {
  if (songs_.RecordCount() == 0) return;
  SetSongRowsVisible(true);
  ClearSongRows();
  groups_.ShowControlGroup("photocontrol", 0);
  FillSongPage();
}

void SongList::PreviousSongPage() {
  songs_.MoveBy(PreviousPageMove(kSongPageSize));
  ResetRowColours();
  ShowSongResults();
}

void SongList::NextSongPage() {
  if (songs_.Eof()) return;
  ResetRowColours();
  ShowSongResults();
}

void SongList::songlistprevBitBtn1Click() {
  if (!state_.QueueView)
    PreviousSongPage();
  else if (queue_ != nullptr)
    queue_->PreviousSongPage();
}

void SongList::songlistnextBitBtn2Click() {
  if (!state_.QueueView)
    NextSongPage();
  else if (queue_ != nullptr)
    queue_->NextSongPage();
}

void SongList::songlistLabelClick(int n) {
  if (n < 1 || n > kSongPageSize) return;
  Label& row = Row(n);
  if (row.FontColour() == kColourWhite && !state_.QueueView && !row.GbkText().empty())
    state_.SelectedSongs.push_back(row.GbkText());
  if (state_.QueueView) {
    ResetRowColours();
    state_.QueueCursor = n;
  }
  MarkSongRow(n);
}

}  // namespace quor::ui
