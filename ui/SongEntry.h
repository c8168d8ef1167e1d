#pragma once
// The text of one song as the guests see it in a song row and as the queue
// holds it: SINGID, one blank, SINGER, a full stop, SINGNAME, nothing before,
// between or after them. The player takes the song number back as the text
// up to the first blank. Entries are Chinese code page bytes and compare byte
// for byte. Pure functions, any thread.

#include <string>
#include <string_view>
#include <vector>

namespace quor::ui {

// An empty value leaves its place empty but keeps the blank and the stop.
std::string MakeSongEntry(std::string_view singId, std::string_view singer,
                          std::string_view singName);

// Whether the queue holds an entry equal to entry: such a row is marked blue
// and a touch on it queues nothing more.
bool IsQueued(const std::vector<std::string>& queue, std::string_view entry);

}  // namespace quor::ui
