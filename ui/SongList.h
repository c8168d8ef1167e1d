#pragma once
// The seven song rows under the select buttons: one page of a catalogue
// result (a singer's songs, a type, a language, a number, initial letters)
// or of the queue. A row holds one SongEntry; its font colour is its state:
// white is a song that can be picked, blue a song already queued (catalogue)
// or the picked row (queue view). This class owns the row operations every
// screen uses, catalogue paging and the row touches. GUI thread only.

#include <array>
#include <cstdint>

#include "ui/BitBtn.h"
#include "ui/ControlGroups.h"
#include "ui/Label.h"
#include "ui/SharedState.h"

namespace quor::data {
class ClientDataSet;
}

namespace quor::ui {

// The queue view's own paging, which the page buttons run while the rows
// show the queue.
class QueuePaging {
 public:
  virtual ~QueuePaging() = default;
  virtual void PreviousSongPage() = 0;
  virtual void NextSongPage() = 0;
};

// The controls of the song list: rows[1] to rows[7] (rows[0] unused) and
// the two page buttons.
struct SongRowControls {
  std::array<Label*, 8> rows{};
  BitBtn* prev = nullptr;  // songlistprevBitBtn1
  BitBtn* next = nullptr;  // songlistnextBitBtn2
};

class SongList {
 public:
  // songs is songClientDataSet: its row cursor is the catalogue page state.
  SongList(SongRowControls controls, SharedState& state, ControlGroups& groups,
           data::ClientDataSet& songs);

  // The queue view whose pages the page buttons turn while QueueView is
  // set (it is built after this class: the two call each other).
  void AttachQueue(QueuePaging& queue) { queue_ = &queue; }

  // Shows or hides the seven rows together with the two page buttons.
  void SetSongRowsVisible(bool show);
  // Empty text in all seven rows.
  void ClearSongRows();
  // White font in all seven rows.
  void ResetRowColours();
  // Blue font in row n; n outside 1..7 does nothing.
  void MarkSongRow(int n);
  // Row n := the SongEntry of the dataset's current row, blue when queued
  // (it never sets white); n outside 1..7 does nothing.
  void FillSongRow(int n);
  // Up to seven rows from the cursor on, stopping at the end of the result;
  // the number of rows filled.
  int FillSongPage();
  // The first page of a song result: nothing when it has no rows; else the
  // rows and page buttons shown, emptied, the photo page hidden, one page
  // filled.
  void ShowSongResults();

  // Catalogue paging: back two pages and fill one; forward unless the end
  // of the result was reached. Both reset the colours first.
  void PreviousSongPage();
  void NextSongPage();

  // The page buttons (queue or catalogue paging by QueueView) and the row
  // touches (n = 1..7).
  void songlistprevBitBtn1Click();
  void songlistnextBitBtn2Click();
  void songlistLabelClick(int n);

  // The row's text and colour, for whoever shows a page of its own (the
  // queue view).
  Label& Row(int n) { return *controls_.rows.at(static_cast<std::size_t>(n)); }

 private:
  SongRowControls controls_;
  SharedState& state_;
  ControlGroups& groups_;
  data::ClientDataSet& songs_;
  QueuePaging* queue_ = nullptr;
};

}  // namespace quor::ui
