#pragma once
// Walks a song folder: every regular file under it whose extension is a
// video extension, with its size and modification time. Hidden entries
// (".name") are passed over; links to files count, links to folders are not
// followed (a loop could never end). Folders are read by several threads at
// once: on a big share the walk waits on the disk, not on the CPU.

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace quor::tools::catalogue {

// The extensions taken by default (compared without case).
const std::vector<std::string>& DefaultExtensions();

struct FoundFile {
  std::string rel;  // path below the walked folder, '/' between parts (bytes as on disk)
  std::int64_t size = 0;
  std::int64_t mtime = 0;  // seconds since 1970
};

struct ScanResult {
  std::vector<FoundFile> files;  // in no particular order (threads)
  std::uint64_t folders = 0;
  std::uint64_t otherFiles = 0;         // files with other extensions
  std::vector<std::string> unreadable;  // rel paths of folders or files that failed, with why
  std::vector<std::string> skippedFolderLinks;  // rel paths
};

struct ScanControl {
  std::vector<std::string> extensions;  // lower case, without the dot
  unsigned threads = 2;
  std::atomic<std::uint64_t>* filesSeen = nullptr;  // progress, may be null
  const std::atomic<bool>* cancel = nullptr;        // stops the walk early, may be null
};

// std::runtime_error when the folder itself cannot be read.
ScanResult ScanFolder(const std::string& root, const ScanControl& control);

// Whether a file name's extension is one of `extensions` (lower case).
bool HasExtension(std::string_view name, const std::vector<std::string>& extensions);

}  // namespace quor::tools::catalogue
