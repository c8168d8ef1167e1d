#include "ui/SongEntry.h"

#include <algorithm>

namespace quor::ui {

std::string MakeSongEntry(std::string_view singId, std::string_view singer,
                          std::string_view singName) {
  std::string entry;
  entry.reserve(singId.size() + singer.size() + singName.size() + 2);
  entry.append(singId).append(1, ' ').append(singer).append(1, '.').append(singName);
  return entry;
}

bool IsQueued(const std::vector<std::string>& queue, std::string_view entry) {
  return std::any_of(queue.begin(), queue.end(),
                     [entry](const std::string& queued) { return queued == entry; });
}

}  // namespace quor::ui
