#include "ui/QueueRules.h"

#include <algorithm>

namespace quor::ui {

std::optional<std::size_t> PickedEntry(std::size_t queueSize, int pageNo, int queueCursor) {
  if (queueCursor < 1 || queueCursor > kQueuePageSize || pageNo < 1) return std::nullopt;
  const auto index = static_cast<std::size_t>(FirstIndexOfPage(pageNo) + queueCursor - 1);
  if (index >= queueSize) return std::nullopt;
  return index;
}

void MoveToFront(std::vector<std::string>& queue, std::size_t index) {
  if (index >= queue.size()) return;
  std::rotate(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(index),
              queue.begin() + static_cast<std::ptrdiff_t>(index) + 1);
}

int PageAfterDelete(int pageNo, int queueCursor, std::size_t newSize) {
  const std::ptrdiff_t pageEnd = static_cast<std::ptrdiff_t>(pageNo) * kQueuePageSize;
  // Never below page 1: row 1 of a full first page deleted (7 entries to 6)
  // also ends the queue one short, and a page 0 would leave the view
  // undrawn with the deleted song still on it.
  if (pageEnd - static_cast<std::ptrdiff_t>(newSize) == 1 && queueCursor == 1 && pageNo > 1)
    return pageNo - 1;
  return pageNo;
}

}  // namespace quor::ui
