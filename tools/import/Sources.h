#pragma once
// The first half of a run: what the sources hold. Folders are walked, lists
// read, and every file becomes a Candidate, a song as the catalogue will hold
// it (PATH1, title, singer, words, initials) before it meets the catalogue.
// Internal to the import.

#include <atomic>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "Import.h"
#include "NameProfile.h"
#include "Scanner.h"

namespace quor::tools::catalogue {

// Column widths the catalogue holds (characters); longer texts are cut and
// reported, longer paths are not imported.
inline constexpr std::size_t kMaxTitleChars = 100;
inline constexpr std::size_t kMaxSingerChars = 100;
inline constexpr std::size_t kMaxPathChars = 512;

struct Candidate {
  std::string path1;     // \\SERVER\share\dir\file, the key of a song
  std::string local;     // the file on this machine
  std::string fileName;  // the last part of path1
  std::int64_t size = -1;
  std::int64_t mtime = -1;
  std::string title, singer, type, language, letters;
  std::int64_t wantedNumber = 0;  // from the name or the list; 0: none
  bool unparsed = false;
};

struct SingerEntry {
  std::string name, sex, photo;
  std::string where;        // "list.csv line 4", for reports
  std::string photoFolder;  // where its photo is looked for
};

// A file found in a folder, not yet parsed.
struct RawFile {
  std::uint32_t folder = 0;  // index into Gathered::folders
  FoundFile file;
};

struct FolderSource {
  std::string root;       // real path
  std::string uncPrefix;  // PATH1 of the folder, ending in a backslash
};

struct Gathered {
  std::vector<FolderSource> folders;
  std::vector<RawFile> files;
  std::vector<Candidate> listSongs;  // parsed already
  std::vector<SingerEntry> singers;
  std::vector<std::string> listedMissing;  // PATH1 of list rows whose file is gone
  std::vector<SourceReport> sources;
  std::vector<Noted> notImported, warnings;
  std::vector<std::string> unparsed;
  std::uint64_t gbkNames = 0;
};

// Canonical singer names by their normalised key: the catalogue's spelling
// wins over the file's, so that 劉德華 and 刘德华 are one singer.
using SingerNames = std::unordered_map<std::string, std::string>;

// What parsing needs; shared read-only by the parsing threads.
struct ParseSetup {
  const ImportOptions& options;
  const NameProfile& profile;
  SingerNames& singers;   // GatherSources adds the singers lists' names
  std::string shareRoot;  // real path
  std::string share;      // \\SERVER\share without a trailing backslash
};

// Reads every source: singers lists first (their names join setup.singers),
// then song lists (a list's cells win; a blank cell is taken from the file
// name), then the folders are walked.
// std::runtime_error for a source that cannot be read at all.
Gathered GatherSources(const ParseSetup& setup, const ImportProgress& progress,
                       const std::atomic<bool>* cancel);

// PATH1 of a local file under the share root; false when it lies outside.
bool SharePath(const ParseSetup& setup, const std::string& localReal, std::string& path1);

// PATH1 of a walked file; `gbk` set when a part of its path is written in GBK.
std::string PathOf(const FolderSource& folder, const FoundFile& file, bool* gbk);

// Parses some of the walked files (`which`: indexes into gathered.files) into
// candidates, on `threads` threads, in the order given.
std::vector<Candidate> ParseFiles(const ParseSetup& setup, Gathered& gathered,
                                  const std::vector<std::size_t>& which, unsigned threads,
                                  const ImportProgress& progress, const std::atomic<bool>* cancel);

// What parsing a name depends on besides the name: the profile, the
// dictionaries and initials of this program, and the singer names. Stored
// with the catalogue; while it stays the same, a file whose path, size and
// time are unchanged is not parsed again.
std::string ParseSignature(const ParseSetup& setup);

}  // namespace quor::tools::catalogue
