#pragma once
// The second half of a run: the songs found on disk against the songs in the
// catalogue, in one pass over each. Internal to the import.
//
//   - a song is known by its PATH1;
//   - a file gone from its path and a new file with the same file name and
//     size (moved), or the same singer, title and size (renamed), are one
//     song: it keeps its number;
//   - a new song takes the number its name or list gives when that number is
//     free, else the next free number from a counter that only grows (a
//     number once given is never given to another song; pruned numbers are
//     retired); past 99999 the free five-digit numbers below the counter are
//     used first, then six digits;
//   - a catalogue song under a scanned folder (or named by a list) whose file
//     is gone is marked missing with the run's time, or deleted with prune;
//     when more than half of those songs look gone, nothing is marked.

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "CatalogueStore.h"
#include "Import.h"
#include "Sources.h"

namespace quor::tools::catalogue {

struct ProbeInfo {
  bool tried = false;
  bool ok = false;
  std::string error;
  std::int64_t durationMs = -1;
  std::string vocal;
};

// Rows of a snapshot by their PATH1.
using PathIndex = std::unordered_map<std::string_view, std::size_t>;
PathIndex IndexByPath(const CatalogueSnapshot& snapshot);

struct ReconcileInput {
  const CatalogueSnapshot& snapshot;
  const PathIndex& byPath;
  // Rows whose files were found unchanged and were not parsed again.
  const std::vector<std::size_t>& unchangedRows;
  const std::vector<Candidate>& songs;  // the files parsed in this run, sorted by PATH1
  const std::unordered_map<std::string, ProbeInfo>& probes;  // by PATH1, the files opened
  const std::vector<std::string>& scopePrefixes;  // PATH1 prefixes of the scanned folders
  const std::vector<std::string>& listedMissing;  // PATH1 of list rows whose file is gone
  const ImportOptions& options;
  std::int64_t now = 0;
};

// The song changes (singers are not touched) and the report's song figures.
CatalogueChanges Reconcile(const ReconcileInput& in, ImportReport& report, Normaliser& normaliser);

}  // namespace quor::tools::catalogue
