#pragma once
// The index arithmetic of the queue view: seven entries a page, PageNo
// 1-based, QueueCursor the picked row 1..7 of the page shown (0: none).
// Every function stays inside the queue: a pick that names no entry (an
// empty row of the last page) changes nothing. Pure, any thread.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace quor::ui {

inline constexpr int kQueuePageSize = 7;

// The index of the first entry of page pageNo.
constexpr std::ptrdiff_t FirstIndexOfPage(int pageNo) {
  return static_cast<std::ptrdiff_t>(pageNo - 1) * kQueuePageSize;
}

// The index of the picked entry, or nothing when no row is picked or the
// row holds no entry.
std::optional<std::size_t> PickedEntry(std::size_t queueSize, int pageNo, int queueCursor);

// Moves entry index to the front; the entries before it move one place on.
void MoveToFront(std::vector<std::string>& queue, std::size_t index);

// The page shown after a delete: one page back when the deleted entry was
// row 1 and the queue now ends exactly one short of the page's end; never
// below page 1.
int PageAfterDelete(int pageNo, int queueCursor, std::size_t newSize);

}  // namespace quor::ui
