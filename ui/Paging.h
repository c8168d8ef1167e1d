#pragma once
// How the singer photo pages and the song list pages walk a catalogue
// result. A result has no page number: the dataset's row cursor is the whole
// paging state. A page fill reads the row under the cursor into the first
// slot, steps on, and so on; after a full page the cursor stands on the first
// row of the next page, after a fill that ran into the end it stands on the
// last row (a step past the last row does not move it). Going back moves the
// cursor by two pages and fills one: the move stops at the first row, so from
// the first or second page it always shows the first page. Pure, any thread.

namespace quor::ui {

inline constexpr int kPhotoPageSize = 6;
inline constexpr int kSongPageSize = 7;

// The cursor move of a previous-page button: -12 for photos, -14 for songs.
constexpr int PreviousPageMove(int pageSize) {
  return -2 * pageSize;
}

}  // namespace quor::ui
