// RunImport: the order of a run (see Import.h) and the singers with their
// photos.

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "Import.h"
#include "Probe.h"
#include "Reconcile.h"
#include "Sources.h"
#include "Ticker.h"
#include "server/SqlBackend.h"

namespace quor::tools::catalogue {
namespace {

namespace fs = std::filesystem;

void CheckCancel(const std::atomic<bool>* cancel) {
  if (cancel != nullptr && cancel->load()) throw ImportInterrupted();
}

std::string RealPath(const std::string& path) {
  char buffer[PATH_MAX];
  if (realpath(path.c_str(), buffer) == nullptr) return {};
  return buffer;
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// \\SERVER\share[\more]: at least a server and a share name.
std::string CheckShare(std::string share) {
  while (share.size() > 2 && share.back() == '\\') share.pop_back();
  const auto server = share.find('\\', 2);
  if (share.rfind("\\\\", 0) != 0 || server == std::string::npos || server == 2 ||
      server + 1 >= share.size())
    throw std::invalid_argument("--share must be a UNC name like \\\\SERVER\\quorvod, not " +
                                share);
  if (share.find('/') != std::string::npos)
    throw std::invalid_argument("--share uses backslashes: \\\\SERVER\\quorvod");
  return share;
}

std::string DefaultShareRoot(const ImportOptions& o) {
  if (!o.shareRoot.empty()) return o.shareRoot;
  for (const std::string& s : o.sources)
    if (IsFolder(s)) return s;
  // Lists only: their files lie beside or below the first list.
  const std::string& first = o.sources.front();
  const auto slash = first.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : first.substr(0, slash);
}

// The first bytes of a picture the terminal can show: JPEG or BMP.
bool IsTerminalPicture(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char head[3] = {};
  in.read(head, 3);
  if (in.gcount() < 2) return false;
  return (head[0] == '\xFF' && head[1] == '\xD8' && head[2] == '\xFF') ||
         (head[0] == 'B' && head[1] == 'M');
}

bool SameContent(const std::string& a, const std::string& b) {
  std::error_code ec;
  if (!fs::exists(b, ec) || fs::file_size(a, ec) != fs::file_size(b, ec)) return false;
  std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
  return std::equal(std::istreambuf_iterator<char>(x), std::istreambuf_iterator<char>(),
                    std::istreambuf_iterator<char>(y), std::istreambuf_iterator<char>());
}

// Photos of a folder by the normalised stem of their file name.
class PhotoFolders {
 public:
  explicit PhotoFolders(Normaliser& normaliser) : normaliser_(normaliser) {}
  std::string Find(const std::string& folder, const std::string& singer) {
    auto it = folders_.find(folder);
    if (it == folders_.end()) it = folders_.emplace(folder, Index(folder)).first;
    const auto found = it->second.find(normaliser_.Key(singer));
    return found == it->second.end() ? std::string() : folder + "/" + found->second;
  }

 private:
  std::map<std::string, std::string> Index(const std::string& folder) {
    std::map<std::string, std::string> byStem;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return byStem;
    while (const dirent* e = readdir(dir)) {
      const std::string name = e->d_name;
      const auto dot = name.rfind('.');
      if (name[0] == '.' || dot == std::string::npos) continue;
      std::string ext = name.substr(dot + 1);
      for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (ext != "jpg" && ext != "jpeg" && ext != "bmp") continue;
      std::string stem;
      DecodeName(name.substr(0, dot), stem, nullptr);
      byStem.emplace(normaliser_.Key(stem), name);
    }
    closedir(dir);
    return byStem;
  }
  Normaliser& normaliser_;
  std::map<std::string, std::map<std::string, std::string>> folders_;
};

struct PhotoCopy {
  std::string from, to;
};

// The singer rows the lists ask for, and the photos to copy for them.
std::vector<PhotoCopy> PlanSingers(const std::vector<SingerEntry>& entries,
                                   const CatalogueSnapshot& snap, const std::string& photoDir,
                                   Normaliser& normaliser, CatalogueChanges& changes,
                                   ImportReport& report) {
  std::unordered_map<std::string, const SingerRow*> existing;
  for (const SingerRow& r : snap.singers) existing.emplace(normaliser.Key(r.name), &r);
  PhotoFolders folders(normaliser);
  std::set<std::string> done;
  std::map<std::string, std::string> copiedTo;  // target file -> source
  std::vector<PhotoCopy> copies;
  for (const SingerEntry& e : entries) {
    const std::string key = normaliser.Key(e.name);
    if (!done.insert(key).second) {
      report.warnings.push_back({e.where, e.name + " is listed twice: the first row counts"});
      continue;
    }
    const auto old = existing.find(key);
    SingerRow row{e.sex, e.name, old != existing.end() ? old->second->path : std::string()};
    std::string photo;
    if (!e.photo.empty()) {
      std::string p = e.photo;
      std::replace(p.begin(), p.end(), '\\', '/');
      photo = p.front() == '/' ? p : e.photoFolder + "/" + p;
      if (!fs::is_regular_file(photo)) {
        report.warnings.push_back({e.where, "photo " + photo + " not found"});
        photo.clear();
      }
    } else {
      photo = folders.Find(e.photoFolder, e.name);
      if (photo.empty() && row.path.empty())
        report.warnings.push_back({e.where, "no photo of " + e.name + " in " + e.photoFolder});
    }
    if (!photo.empty() && !IsTerminalPicture(photo)) {
      report.warnings.push_back({e.where, photo + " is not a JPEG or BMP picture"});
      photo.clear();
    }
    if (!photo.empty()) {
      const std::string name = photo.substr(photo.rfind('/') + 1);
      const std::string target = photoDir + "/" + name;
      const auto [it, fresh] = copiedTo.emplace(target, photo);
      if (!fresh && it->second != photo) {
        report.warnings.push_back({e.where, "another singer's photo is named " + name});
      } else {
        std::string utf8;
        DecodeName(name, utf8, nullptr);
        row.path = "Photo\\" + utf8;
        if (fresh && !SameContent(photo, target)) copies.push_back({photo, target});
      }
    }
    if (old == existing.end()) {
      changes.singerInserts.push_back(row);
      ++report.singersAdded;
    } else if (old->second->sex != row.sex || old->second->name != row.name ||
               old->second->path != row.path) {
      changes.singerUpdates.emplace_back(old->second->name, row);
      ++report.singersUpdated;
    }
  }
  return copies;
}

// Opens the songs that need it (new files, changed files, files never
// opened) and adds what was learnt to `probes`, by PATH1.
void ProbeSongs(const ImportOptions& o, const std::vector<Candidate>& songs,
                const CatalogueSnapshot& snap, const PathIndex& byPath, unsigned threads,
                const ImportProgress& progress, const std::atomic<bool>* cancel,
                std::unordered_map<std::string, ProbeInfo>& probes) {
  std::vector<const Candidate*> which;
  for (const Candidate& c : songs) {
    if (probes.count(c.path1)) continue;
    const auto it = byPath.find(c.path1);
    const SongRow* row = it == byPath.end() ? nullptr : &snap.songs[it->second];
    if (row == nullptr || row->size != c.size || row->mtime != c.mtime || row->durationMs < 0)
      which.push_back(&c);
  }
  if (which.empty()) return;
  std::vector<std::string> paths;
  paths.reserve(which.size());
  for (const Candidate* c : which) paths.push_back(c->local);
  std::atomic<std::uint64_t> done{0};
  std::vector<ProbeResult> results;
  {
    Ticker ticker([&] {
      if (progress) progress("probing", done.load(), paths.size());
    });
    results = ProbeFiles(paths, ProbeControl{threads, o.probeSeconds, &done, cancel});
  }
  if (progress) progress("probing", paths.size(), paths.size());
  for (std::size_t k = 0; k < which.size(); ++k)
    probes[which[k]->path1] =
        ProbeInfo{true, results[k].ok, results[k].error, results[k].durationMs, results[k].vocal};
}

// Which walked files need parsing. A file whose row has the same path, size
// and time, is not missing (and was probed, when probing) is unchanged while
// the parse signature is the same: its row stands as it is.
struct Split {
  std::vector<std::size_t> unchangedRows;   // rows of the snapshot
  std::vector<std::size_t> unchangedFiles;  // their files (indexes into gathered.files)
  std::vector<std::size_t> toParse;
  std::uint64_t gbkNames = 0;
};

Split SplitFiles(const Gathered& gathered, const std::vector<std::size_t>& files,
                 const CatalogueSnapshot& snap, const PathIndex& byPath, bool sameSignature,
                 bool probe, unsigned threads) {
  Split out;
  if (!sameSignature) {
    out.toParse = files;
    return out;
  }
  // Each file's unchanged row, or none, looked up by several threads; then
  // one pass in order (two files with one PATH1, from a folder named twice,
  // take the row once).
  constexpr std::size_t kNoRow = static_cast<std::size_t>(-1);
  std::vector<std::size_t> rowOf(files.size(), kNoRow);
  std::vector<char> gbkOf(files.size(), 0);
  auto work = [&](std::size_t from, std::size_t to) {
    for (std::size_t k = from; k < to; ++k) {
      const RawFile& raw = gathered.files[files[k]];
      bool gbk = false;
      const std::string path1 = PathOf(gathered.folders[raw.folder], raw.file, &gbk);
      gbkOf[k] = gbk ? 1 : 0;
      const auto it = byPath.find(path1);
      if (it == byPath.end()) continue;
      const SongRow& row = snap.songs[it->second];
      if (row.size == raw.file.size && row.mtime == raw.file.mtime && row.missing == 0 &&
          (!probe || row.durationMs >= 0))
        rowOf[k] = it->second;
    }
  };
  threads =
      std::max(1u, std::min<unsigned>(threads, static_cast<unsigned>(files.size() / 4096 + 1)));
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < threads; ++t)
    pool.emplace_back(work, files.size() * t / threads, files.size() * (t + 1) / threads);
  work(0, files.size() / threads);
  for (std::thread& t : pool) t.join();

  std::vector<bool> taken(snap.songs.size(), false);
  for (std::size_t k = 0; k < files.size(); ++k) {
    if (rowOf[k] != kNoRow && !taken[rowOf[k]]) {
      taken[rowOf[k]] = true;
      out.unchangedRows.push_back(rowOf[k]);
      out.unchangedFiles.push_back(files[k]);
      out.gbkNames += static_cast<std::uint64_t>(gbkOf[k]);
    } else {
      out.toParse.push_back(files[k]);
    }
  }
  return out;
}

// The songs in the order of their paths (numbers are given in that order):
// indexes are sorted, then each song is moved once.
void SortByPath(std::vector<Candidate>& songs) {
  std::vector<std::size_t> order(songs.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(),
            [&](std::size_t a, std::size_t b) { return songs[a].path1 < songs[b].path1; });
  std::vector<Candidate> sorted;
  sorted.reserve(songs.size());
  for (const std::size_t i : order) sorted.push_back(std::move(songs[i]));
  songs = std::move(sorted);
}

// Singers of the catalogue's songs that the singer table lacks.
std::vector<std::string> WithoutSingerRow(const std::vector<Candidate>& songs,
                                          const CatalogueSnapshot& snap,
                                          const CatalogueChanges& changes, Normaliser& normaliser) {
  std::unordered_set<std::string_view> distinct;
  for (const SongRow& r : snap.songs)
    if (!r.singer.empty()) distinct.insert(r.singer);
  for (const Candidate& c : songs)
    if (!c.singer.empty()) distinct.insert(c.singer);
  std::set<std::string> keys;
  for (const SingerRow& r : snap.singers) keys.insert(normaliser.Key(r.name));
  for (const SingerRow& r : changes.singerInserts) keys.insert(normaliser.Key(r.name));
  std::set<std::string> missing;
  for (const std::string_view name : distinct)
    if (!keys.count(normaliser.Key(name))) missing.emplace(name);
  return {missing.begin(), missing.end()};
}

}  // namespace

ImportReport RunImport(const ImportOptions& o, const ImportProgress& progress,
                       const std::atomic<bool>* cancel) {
  const auto started = std::chrono::steady_clock::now();
  if (o.sources.empty())
    throw std::invalid_argument("no source given: name song folders, song lists or singers lists");
  if (o.firstNumber < 1 || o.firstNumber > 99999)
    throw std::invalid_argument("the first song number must lie between 1 and 99999");
  const NameProfile profile = NameProfile::Make(o.profile);
  const std::string share = CheckShare(o.share);
  const std::string rootArg = DefaultShareRoot(o);
  const std::string shareRoot = RealPath(rootArg);
  if (shareRoot.empty() || !IsFolder(shareRoot))
    throw std::invalid_argument("the share root " + rootArg + " is not a folder");
  for (const std::string& source : o.sources) {
    struct stat st {};
    if (stat(source.c_str(), &st) != 0)
      throw std::runtime_error(source + ": " + std::strerror(errno));
  }
  const unsigned threads = o.jobs == 0 ? std::max(2u, std::thread::hardware_concurrency()) : o.jobs;

  // A SQLite catalogue that does not exist yet is only made once everything
  // is read: a run that fails before must not leave an empty one behind.
  const bool sqlite = o.mariadb.empty();
  const bool existed = !sqlite || fs::exists(o.db);
  auto open = [&o, sqlite](bool create) {
    return sqlite ? OpenSqliteStore(o.db, create)
                  : OpenMariaDbStore(server::ParseMariaDbUri(o.mariadb));
  };
  std::unique_ptr<CatalogueStore> store = open(false);
  ImportReport report;
  report.database = store->Describe();
  report.dryRun = o.dryRun;

  // Everything is read and parsed before the catalogue is locked: on a big
  // share the walk is the long part, and the server goes on storing room
  // requests meanwhile. The catalogue is read first, in a transaction of its
  // own: the singers' names, and the rows the walk is compared with.
  Normaliser normaliser;
  SingerNames names;
  for (const SingerRow& r : store->Load(false).singers)
    names.emplace(normaliser.Key(r.name), r.name);
  ParseSetup setup{o, profile, names, shareRoot, share};
  // The songs are read while the folders are walked: the one waits on the
  // database, the other on the file system.
  CatalogueSnapshot snap;
  PathIndex byPath;
  std::exception_ptr loadFailed;
  std::thread loader([&] {
    try {
      snap = store->Load(true);
      byPath = IndexByPath(snap);
    } catch (...) {
      loadFailed = std::current_exception();
    }
  });
  Gathered gathered;
  try {
    gathered = GatherSources(setup, progress, cancel);
  } catch (...) {
    loader.join();
    throw;
  }
  loader.join();
  if (loadFailed) std::rethrow_exception(loadFailed);
  CheckCancel(cancel);
  const std::string signature = ParseSignature(setup);
  std::vector<std::size_t> allFiles(gathered.files.size());
  for (std::size_t i = 0; i < allFiles.size(); ++i) allFiles[i] = i;
  Split split =
      SplitFiles(gathered, allFiles, snap, byPath, snap.signature == signature, o.probe, threads);
  std::vector<Candidate> songs =
      ParseFiles(setup, gathered, split.toParse, threads, progress, cancel);
  CheckCancel(cancel);
  songs.insert(songs.end(), std::make_move_iterator(gathered.listSongs.begin()),
               std::make_move_iterator(gathered.listSongs.end()));
  SortByPath(songs);
  std::unordered_map<std::string, ProbeInfo> probes;
  if (o.probe) ProbeSongs(o, songs, snap, byPath, threads, progress, cancel, probes);
  CheckCancel(cancel);

  const std::string photoDir = !o.photoDir.empty() ? o.photoDir
                               : sqlite ? (fs::path(o.db).parent_path() / "Photo").string()
                                        : std::string("Photo");
  if (sqlite && !existed && !o.dryRun) store = open(true);
  try {
    store->Begin(!o.dryRun);
    if (!existed || store->ChangedSince(snap)) {
      // Someone wrote between the first read and the lock: read again, and
      // parse the files taken as unchanged that are not unchanged any more.
      snap = store->Load(true);
      byPath = IndexByPath(snap);
      Split again = SplitFiles(gathered, split.unchangedFiles, snap, byPath,
                               snap.signature == signature, o.probe, threads);
      if (!again.toParse.empty()) {
        std::vector<Candidate> more =
            ParseFiles(setup, gathered, again.toParse, threads, nullptr, cancel);
        if (o.probe) ProbeSongs(o, more, snap, byPath, threads, nullptr, cancel, probes);
        songs.insert(songs.end(), std::make_move_iterator(more.begin()),
                     std::make_move_iterator(more.end()));
        SortByPath(songs);
      }
      split = std::move(again);
    }
    report.sources = std::move(gathered.sources);
    report.notImported = std::move(gathered.notImported);
    report.warnings = std::move(gathered.warnings);
    report.unparsed = std::move(gathered.unparsed);
    report.gbkNames = gathered.gbkNames + split.gbkNames;
    std::vector<std::string> scope;
    for (const FolderSource& f : gathered.folders) scope.push_back(f.uncPrefix);

    const ReconcileInput in{snap,
                            byPath,
                            split.unchangedRows,
                            songs,
                            probes,
                            scope,
                            gathered.listedMissing,
                            o,
                            static_cast<std::int64_t>(std::time(nullptr))};
    CatalogueChanges changes = Reconcile(in, report, normaliser);
    changes.signature = signature;
    const std::vector<PhotoCopy> copies =
        PlanSingers(gathered.singers, snap, photoDir, normaliser, changes, report);
    report.singersWithoutRow = WithoutSingerRow(songs, snap, changes, normaliser);
    CheckCancel(cancel);
    if (o.dryRun) {
      store->Rollback();
    } else {
      // Photos first: a committed Path always names a file that is there.
      if (!copies.empty()) fs::create_directories(photoDir);
      for (const PhotoCopy& c : copies) {
        fs::copy_file(c.from, c.to, fs::copy_options::overwrite_existing);
        ++report.photosCopied;
      }
      store->Apply(changes, [&](std::size_t done, std::size_t total) {
        CheckCancel(cancel);
        if (progress) progress("writing", done, total);
      });
      CheckCancel(cancel);
      store->Commit();
      report.indexes = store->Indexes();
    }
  } catch (...) {
    store->Rollback();
    throw;
  }
  report.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  return report;
}

}  // namespace quor::tools::catalogue
