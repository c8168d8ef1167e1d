#include "Reconcile.h"

#include <algorithm>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>

namespace quor::tools::catalogue {
namespace {

constexpr std::int64_t kLastFiveDigits = 99999;
constexpr std::int64_t kLargestNumber = 2147483647;  // SINGID is a 32-bit column on MariaDB
constexpr std::size_t kNone = static_cast<std::size_t>(-1);

std::string_view FileNameOf(std::string_view path1) {
  const auto slash = path1.rfind('\\');
  return slash == std::string_view::npos ? path1 : path1.substr(slash + 1);
}

bool SameRow(const SongRow& a, const SongRow& b) {
  return a.number == b.number && a.title == b.title && a.singer == b.singer && a.type == b.type &&
         a.language == b.language && a.letters == b.letters && a.path1 == b.path1 &&
         a.size == b.size && a.mtime == b.mtime && a.durationMs == b.durationMs &&
         a.vocal == b.vocal && a.missing == b.missing;
}

// Song numbers: taken ones (in the catalogue, retired, given in this run) are
// never given again.
class Numbers {
 public:
  Numbers(const CatalogueSnapshot& snap, std::int64_t first)
      : counter_(std::max(snap.nextNumber, first)), gap_(first) {
    taken_.reserve(snap.songs.size() + snap.retired.size());
    for (const SongRow& r : snap.songs) taken_.insert(r.number);
    for (const std::int64_t n : snap.retired) taken_.insert(n);
  }
  bool Take(std::int64_t n) { return n >= 1 && n <= kLargestNumber && taken_.insert(n).second; }
  std::int64_t Next() {
    while (counter_ <= kLastFiveDigits && taken_.count(counter_)) ++counter_;
    if (counter_ <= kLastFiveDigits) return Given(counter_++);
    while (gap_ <= kLastFiveDigits && taken_.count(gap_)) ++gap_;
    if (gap_ <= kLastFiveDigits) return Given(gap_++);
    while (taken_.count(counter_)) ++counter_;
    if (counter_ > kLargestNumber) throw std::runtime_error("no song number is left");
    return Given(counter_++);
  }
  std::int64_t Counter() const { return counter_; }

 private:
  std::int64_t Given(std::int64_t n) {
    taken_.insert(n);
    return n;
  }
  std::int64_t counter_;  // where the search for the next number starts
  std::int64_t gap_;      // free five-digit numbers below the counter, once it is past them
  std::unordered_set<std::int64_t> taken_;
};

template <class T>
void Sample(std::vector<T>& v, const T& item, std::size_t limit) {
  if (v.size() < limit) v.push_back(item);
}

// The row of a song as its file says now; what a probe learnt is kept while
// the file is unchanged.
void Fill(const ReconcileInput& in, SongRow& row, std::size_t c) {
  const Candidate& song = in.songs[c];
  const bool fileChanged = row.size != song.size || row.mtime != song.mtime;
  row.title = song.title;
  row.singer = song.singer;
  row.type = song.type;
  row.language = song.language;
  row.letters = song.letters;
  row.path1 = song.path1;
  row.size = song.size;
  row.mtime = song.mtime;
  row.missing = 0;
  const auto probe = in.probes.find(song.path1);
  if (probe != in.probes.end() && probe->second.ok) {
    row.durationMs = probe->second.durationMs;
    row.vocal = probe->second.vocal;
  } else if (fileChanged) {
    row.durationMs = -1;
    row.vocal.clear();
  }
}

void AssignNumbers(const ReconcileInput& in, const std::vector<std::size_t>& fresh,
                   CatalogueChanges& changes, ImportReport& report) {
  const std::vector<Candidate>& songs = in.songs;
  Numbers numbers(in.snapshot, in.options.firstNumber);
  std::vector<std::int64_t> given(songs.size(), 0);
  changes.inserts.reserve(fresh.size());
  for (const std::size_t c : fresh) {
    const std::int64_t want = songs[c].wantedNumber;
    if (want == 0) continue;
    if (numbers.Take(want)) {
      given[c] = want;
    } else {
      report.warnings.push_back(
          {songs[c].path1, "number " + std::to_string(want) + " is taken: another one is given"});
    }
  }
  for (const std::size_t c : fresh) {
    SongRow row;
    row.number = given[c] != 0 ? given[c] : numbers.Next();
    Fill(in, row, c);
    if (report.firstAssigned == 0 || row.number < report.firstAssigned)
      report.firstAssigned = row.number;
    report.lastAssigned = std::max(report.lastAssigned, row.number);
    ++report.added;
    Sample(report.addedSample, row, in.options.sampleSize);
    changes.inserts.push_back(std::move(row));
  }
  auto byNumber = [](const SongRow& a, const SongRow& b) { return a.number < b.number; };
  if (!std::is_sorted(changes.inserts.begin(), changes.inserts.end(), byNumber))
    std::sort(changes.inserts.begin(), changes.inserts.end(), byNumber);
  changes.nextNumber = numbers.Counter();
}

}  // namespace

PathIndex IndexByPath(const CatalogueSnapshot& snapshot) {
  PathIndex byPath;
  byPath.reserve(snapshot.songs.size());
  for (std::size_t i = 0; i < snapshot.songs.size(); ++i)
    byPath.emplace(snapshot.songs[i].path1, i);
  return byPath;
}

CatalogueChanges Reconcile(const ReconcileInput& in, ImportReport& report, Normaliser& normaliser) {
  const std::vector<SongRow>& rows = in.snapshot.songs;
  const std::vector<Candidate>& songs = in.songs;
  const std::size_t limit = in.options.sampleSize;
  CatalogueChanges changes;

  const PathIndex& byPath = in.byPath;
  std::vector<bool> claimed(rows.size(), false);
  for (const std::size_t i : in.unchangedRows) claimed[i] = true;
  report.unchanged += in.unchangedRows.size();
  report.songsSeen += in.unchangedRows.size();
  std::vector<std::size_t> rowOf(songs.size(), kNone);
  std::vector<bool> accepted(songs.size(), false);
  std::vector<std::size_t> fresh;

  for (std::size_t c = 0; c < songs.size(); ++c) {
    const Candidate& song = songs[c];
    if (c > 0 && song.path1 == songs[c - 1].path1) {  // sorted: the same path side by side
      report.warnings.push_back({song.path1, "named twice in the sources: taken once"});
      continue;
    }
    const auto it = byPath.find(song.path1);
    const bool known = it != byPath.end() && !claimed[it->second];
    const auto probe = in.probes.find(song.path1);
    if (probe != in.probes.end() && !probe->second.ok) {
      report.notImported.push_back(
          {song.path1, "cannot be opened (" + probe->second.error + ")" +
                           (known ? "; the catalogue keeps its row as it was" : "")});
      if (known) claimed[it->second] = true;  // neither changed nor missing
      continue;
    }
    accepted[c] = true;
    if (known) {
      claimed[it->second] = true;
      rowOf[c] = it->second;
    } else {
      fresh.push_back(c);
    }
  }

  // Catalogue songs this run answers for: under a scanned folder, or named
  // by a list.
  const std::unordered_set<std::string_view> listed(in.listedMissing.begin(),
                                                    in.listedMissing.end());
  auto inScope = [&](const SongRow& r) {
    for (const std::string& prefix : in.scopePrefixes)
      if (r.path1.compare(0, prefix.size(), prefix) == 0) return true;
    return listed.count(r.path1) != 0;
  };
  std::vector<std::size_t> vanished;
  std::uint64_t scope = 0;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (claimed[i]) {
      ++scope;
    } else if (inScope(rows[i])) {
      ++scope;
      vanished.push_back(i);
    }
  }

  // Moved or renamed files: a vanished song and a new file that agree on
  // file name and size, or on singer, title and size.
  auto songKey = [&](const std::string& singer, const std::string& title, std::int64_t size) {
    return normaliser.Key(singer) + '\t' + normaliser.Key(title) + '\t' + std::to_string(size);
  };
  if (!fresh.empty() && !vanished.empty()) {
    std::unordered_multimap<std::string, std::size_t> byName, bySong;
    for (const std::size_t i : vanished) {
      const SongRow& r = rows[i];
      byName.emplace(std::string(FileNameOf(r.path1)) + '\t' + std::to_string(r.size), i);
      bySong.emplace(songKey(r.singer, r.title, r.size), i);
    }
    auto claim = [&](std::unordered_multimap<std::string, std::size_t>& map,
                     const std::string& key) -> std::size_t {
      auto [from, to] = map.equal_range(key);
      std::size_t best = kNone;
      for (auto it = from; it != to; ++it)
        if (!claimed[it->second] && (best == kNone || it->second < best)) best = it->second;
      return best;
    };
    std::vector<std::size_t> stillFresh;
    for (const std::size_t c : fresh) {
      const Candidate& song = songs[c];
      std::size_t row = claim(byName, song.fileName + '\t' + std::to_string(song.size));
      if (row == kNone) row = claim(bySong, songKey(song.singer, song.title, song.size));
      if (row == kNone) {
        stillFresh.push_back(c);
        continue;
      }
      claimed[row] = true;
      rowOf[c] = row;
    }
    fresh = std::move(stillFresh);
    vanished.erase(
        std::remove_if(vanished.begin(), vanished.end(), [&](std::size_t i) { return claimed[i]; }),
        vanished.end());
  }

  for (std::size_t c = 0; c < songs.size(); ++c) {
    if (!accepted[c]) continue;
    ++report.songsSeen;
    if (rowOf[c] == kNone) continue;
    const SongRow& old = rows[rowOf[c]];
    SongRow row = old;
    Fill(in, row, c);
    if (SameRow(row, old)) {
      ++report.unchanged;
      continue;
    }
    if (row.path1 != old.path1) {
      ++report.moved;
      Sample(report.movedSample, Moved{row.number, old.path1, row.path1}, limit);
    } else if (old.missing != 0) {
      ++report.returned;
    } else {
      ++report.updated;
      Sample(report.updatedSample, row, limit);
    }
    changes.updates.push_back(std::move(row));
  }

  // New songs: the numbers they ask for first, so that a counted number never
  // takes one a later file names.
  changes.nextNumber = std::max(in.snapshot.nextNumber, in.options.firstNumber);
  if (!fresh.empty()) AssignNumbers(in, fresh, changes, report);

  // A sample of the rows as parsed, with the numbers they keep or get.
  for (std::size_t c = 0; c < songs.size() && report.parsedSample.size() < limit; ++c) {
    if (!accepted[c]) continue;
    SongRow row;
    if (rowOf[c] != kNone) {
      row.number = rows[rowOf[c]].number;
    } else {
      for (const SongRow& r : changes.inserts)
        if (r.path1 == songs[c].path1) row.number = r.number;
    }
    Fill(in, row, c);
    report.parsedSample.push_back(std::move(row));
  }

  // Songs whose files are gone.
  std::uint64_t newlyGone = 0;
  for (const std::size_t i : vanished)
    if (rows[i].missing == 0) ++newlyGone;
  report.lookMissing = vanished.size();
  report.inScope = scope;
  const bool tooMany = vanished.size() * 2 > scope;
  if (!vanished.empty() && tooMany && (newlyGone > 0 || in.options.prune) &&
      !in.options.forceMissing) {
    report.missingGuard = true;
  } else {
    for (const std::size_t i : vanished) {
      if (in.options.prune) {
        changes.deletes.push_back(rows[i].number);
        ++report.pruned;
        Sample(report.missingSample, rows[i], limit);
      } else if (rows[i].missing == 0) {
        SongRow row = rows[i];
        row.missing = in.now;
        Sample(report.missingSample, row, limit);
        changes.updates.push_back(std::move(row));
        ++report.markedMissing;
      } else {
        ++report.stillMissing;
      }
    }
    changes.retiredAt = in.now;
  }

  // The same song in more than one file: the songs parsed in this run against
  // each other and against the catalogue's other rows.
  if (!songs.empty()) {
    // Hashes of singer and title, sorted: equal songs lie side by side, and
    // their texts are compared there. The catalogue's other rows count only
    // when they share a hash with a song of this run.
    struct Entry {
      std::size_t hash;
      const std::string* singer;
      const std::string* title;
      std::string_view path;
    };
    auto hashOf = [](const std::string& singer, const std::string& title) {
      return std::hash<std::string_view>()(singer) * 1000003u ^
             std::hash<std::string_view>()(title);
    };
    std::vector<Entry> entries;
    entries.reserve(songs.size());
    std::unordered_set<std::string_view> parsed;
    for (std::size_t c = 0; c < songs.size(); ++c) {
      if (!accepted[c] || songs[c].singer.empty()) continue;
      entries.push_back({hashOf(songs[c].singer, songs[c].title), &songs[c].singer, &songs[c].title,
                         songs[c].path1});
    }
    if (!rows.empty()) {
      std::unordered_set<std::size_t> hashes;
      for (const Entry& e : entries) hashes.insert(e.hash);
      for (const Entry& e : entries) parsed.insert(e.path);
      for (const SongRow& r : rows) {
        if (r.singer.empty()) continue;
        const std::size_t h = hashOf(r.singer, r.title);
        if (hashes.count(h) && !parsed.count(r.path1))
          entries.push_back({h, &r.singer, &r.title, r.path1});
      }
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
      return a.hash != b.hash ? a.hash < b.hash : a.path < b.path;
    });
    for (std::size_t i = 0; i < entries.size();) {
      std::size_t j = i + 1;
      while (j < entries.size() && entries[j].hash == entries[i].hash) ++j;
      // Within one hash, the paths of each distinct song.
      std::vector<bool> done(j - i, false);
      for (std::size_t a = i; a < j; ++a) {
        if (done[a - i]) continue;
        std::string list(entries[a].path);
        std::size_t count = 1;
        for (std::size_t b = a + 1; b < j; ++b) {
          if (done[b - i] || *entries[b].singer != *entries[a].singer ||
              *entries[b].title != *entries[a].title)
            continue;
          done[b - i] = true;
          list += ", ";
          list += entries[b].path;
          ++count;
        }
        if (count > 1)
          report.duplicates.push_back({*entries[a].singer + " - " + *entries[a].title, list});
      }
      i = j;
    }
    std::sort(report.duplicates.begin(), report.duplicates.end(),
              [](const Noted& a, const Noted& b) { return a.what < b.what; });
  }
  return changes;
}

}  // namespace quor::tools::catalogue
