#pragma once
// What the console serves from memory: the page's files (compiled in from
// server/console/page, so that the desk needs no internet and no files
// beside the server) and the alert sound, made at start.

#include <span>
#include <string>
#include <string_view>

namespace quor::server::console {

struct EmbeddedFile {
  std::string_view name;  // "console.js"
  std::string_view bytes;
};

// Every file of the page folder, as it was at build time.
std::span<const EmbeddedFile> EmbeddedFiles();

// A short two-tone chime as a WAV file (16-bit mono PCM).
std::string AlertSoundWav();

}  // namespace quor::server::console
