#include "Sources.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "Initials.h"
#include "ListFile.h"
#include "Ticker.h"
#include "Words.h"

namespace quor::tools::catalogue {
namespace {

std::string RealPath(const std::string& path) {
  char buffer[PATH_MAX];
  if (realpath(path.c_str(), buffer) == nullptr) return {};
  return buffer;
}

std::string Dirname(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// A relative path whose parts may each be UTF-8 or GBK (folders copied from
// different machines), as UTF-8 with backslashes; `gbk` tells whether any
// part was GBK.
std::string DecodePath(std::string_view rel, bool* gbk) {
  std::string out, part;
  while (true) {
    const auto slash = rel.find('/');
    Encoding how = Encoding::Utf8;
    DecodeName(rel.substr(0, slash), part, &how);
    if (how != Encoding::Utf8 && gbk != nullptr) *gbk = true;
    out += part;
    if (slash == std::string_view::npos) return out;
    out += '\\';
    rel.remove_prefix(slash + 1);
  }
}

// Language and category hints from the folders a file lies in, the nearest
// folder first.
struct Hints {
  std::string language, type;
};

// One parsing thread's tools: ICU objects are not shared between threads.
class Parser {
 public:
  explicit Parser(const ParseSetup& setup) : setup_(setup) {}

  // A song from its PATH1 (its parts give the name and the folder hints).
  Candidate FromPath(std::string path1, std::string local, std::int64_t size, std::int64_t mtime,
                     std::vector<Noted>& warnings) {
    Candidate c;
    c.path1 = std::move(path1);
    c.local = std::move(local);
    c.size = size;
    c.mtime = mtime;
    const auto slash = c.path1.rfind('\\');
    c.fileName = c.path1.substr(slash + 1);
    const std::string folder = c.path1.substr(0, slash);
    const auto dot = c.fileName.rfind('.');
    const std::string base =
        dot == std::string::npos || dot == 0 ? c.fileName : c.fileName.substr(0, dot);
    std::u32string base32;
    DecodeUtf8(base, base32);
    const ParsedName parsed =
        setup_.profile.Parse(base32, normaliser_, [this](std::u32string_view s) {
          return setup_.singers.count(ToUtf8(normaliser_.Key(s))) != 0;
        });
    c.unparsed = !parsed.parsed;
    c.title = parsed.title.empty() ? std::string(Trim(base)) : parsed.title;
    if (c.title.empty()) c.title = c.fileName;
    c.singer = parsed.singer;
    const Hints& hints = HintsOf(folder);
    c.language = !parsed.language.empty()  ? parsed.language
                 : !hints.language.empty() ? hints.language
                                           : kOtherWord;
    c.type = !parsed.type.empty() ? parsed.type : !hints.type.empty() ? hints.type : kOtherWord;
    if (parsed.number) c.wantedNumber = *parsed.number;
    Finish(c, warnings);
    return c;
  }

  // Canonical singer spelling, cut texts, initials.
  void Finish(Candidate& c, std::vector<Noted>& warnings) {
    if (!c.singer.empty()) {
      const auto it = setup_.singers.find(normaliser_.Key(c.singer));
      if (it != setup_.singers.end()) c.singer = it->second;
    }
    if (CutToChars(c.title, kMaxTitleChars))
      warnings.push_back(
          {c.path1, "title cut to " + std::to_string(kMaxTitleChars) + " characters"});
    if (CutToChars(c.singer, kMaxSingerChars))
      warnings.push_back(
          {c.path1, "singer cut to " + std::to_string(kMaxSingerChars) + " characters"});
    c.letters = initials_.Of(c.title);
  }

  Normaliser& normaliser() { return normaliser_; }

 private:
  const Hints& HintsOf(const std::string& folder) {
    if (folder == lastFolder_) return lastHints_;
    lastFolder_ = folder;
    lastHints_ = Hints{};
    // The share's own name parts (\\SERVER\share) give no hints.
    std::string_view rest(folder);
    rest.remove_prefix(std::min(rest.size(), setup_.share.size()));
    while (!rest.empty() && (lastHints_.language.empty() || lastHints_.type.empty())) {
      const auto slash = rest.rfind('\\');
      const std::string_view part = slash == std::string_view::npos ? rest : rest.substr(slash + 1);
      rest = slash == std::string_view::npos ? std::string_view() : rest.substr(0, slash);
      const std::string key = normaliser_.Key(part);
      if (lastHints_.language.empty())
        if (auto w = LanguageOf(key)) lastHints_.language = *w;
      if (lastHints_.type.empty())
        if (auto w = TypeOf(key)) lastHints_.type = *w;
    }
    return lastHints_;
  }

  const ParseSetup& setup_;
  Normaliser normaliser_;
  Initials initials_;
  std::string lastFolder_;
  Hints lastHints_;
};

const char* SeparatorName(char c) {
  return c == '\t' ? "tab" : c == ';' ? "semicolon" : "comma";
}

// A list's file cell as a local path: UNC paths on our share map under the
// share root; other paths are relative to the list's folder.
bool ListFileLocal(const ParseSetup& setup, const std::string& listFolder, std::string cell,
                   std::string& local, std::string& why) {
  if (cell.rfind("\\\\", 0) == 0) {
    const std::string prefix = setup.share + "\\";
    if (cell.size() <= prefix.size() ||
        strncasecmp(cell.c_str(), prefix.c_str(), prefix.size()) != 0) {
      why = "not on the share " + setup.share;
      return false;
    }
    cell = cell.substr(prefix.size());
    std::replace(cell.begin(), cell.end(), '\\', '/');
    local = setup.shareRoot + "/" + cell;
    return true;
  }
  if (cell.size() >= 2 && cell[1] == ':') {
    why = "a drive letter path; give paths relative to the list or on the share";
    return false;
  }
  std::replace(cell.begin(), cell.end(), '\\', '/');
  local = cell.front() == '/' ? cell : listFolder + "/" + cell;
  return true;
}

void ReadSongList(const ParseSetup& setup, const std::string& path, const ListTable& table,
                  const ListColumns& cols, Parser& parser, Gathered& out) {
  const std::string folder = Dirname(path);
  auto cell = [&](const std::vector<std::string>& row, int col) -> std::string {
    return col >= 0 && static_cast<std::size_t>(col) < row.size() ? row[col] : std::string();
  };
  for (std::size_t r = 0; r < table.rows.size(); ++r) {
    const auto& row = table.rows[r];
    const std::string where = path + " line " + std::to_string(table.lines[r]);
    const std::string fileCell = cell(row, cols.file);
    if (fileCell.empty()) {
      out.notImported.push_back({where, "no file given"});
      continue;
    }
    std::string local, why;
    if (!ListFileLocal(setup, folder, fileCell, local, why)) {
      out.notImported.push_back({where + " (" + fileCell + ")", why});
      continue;
    }
    struct stat st {};
    const std::string real = RealPath(local);
    if (real.empty() || stat(real.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
      std::string path1;
      if (SharePath(setup, local, path1)) out.listedMissing.push_back(path1);
      out.notImported.push_back({where + " (" + fileCell + ")", "file not found"});
      continue;
    }
    std::string path1;
    if (!SharePath(setup, real, path1)) {
      out.notImported.push_back(
          {where + " (" + fileCell + ")", "outside the share root " + setup.shareRoot});
      continue;
    }
    Candidate c = parser.FromPath(path1, real, static_cast<std::int64_t>(st.st_size),
                                  static_cast<std::int64_t>(st.st_mtim.tv_sec), out.warnings);
    // The list's cells win over what the file name says.
    if (const std::string v = cell(row, cols.title); !v.empty()) {
      c.title = v;
      c.unparsed = false;
    }
    if (const std::string v = cell(row, cols.singer); !v.empty()) c.singer = v;
    if (const std::string v = cell(row, cols.language); !v.empty()) {
      const auto w = LanguageOf(parser.normaliser().Key(v));
      c.language = w ? *w : kOtherWord;
      if (!w) out.warnings.push_back({where, "language \"" + v + "\" unknown: 其他"});
    }
    if (const std::string v = cell(row, cols.type); !v.empty()) {
      const auto w = TypeOf(parser.normaliser().Key(v));
      c.type = w ? *w : kOtherWord;
      if (!w) out.warnings.push_back({where, "category \"" + v + "\" unknown: 其他"});
    }
    if (const std::string v = cell(row, cols.number); !v.empty()) {
      char* end = nullptr;
      const long long n = std::strtoll(v.c_str(), &end, 10);
      if (*end == '\0' && n >= 1 && n <= 999999999) {
        c.wantedNumber = n;
      } else {
        out.warnings.push_back({where, "number \"" + v + "\" is not a song number"});
      }
    }
    if (c.unparsed) out.unparsed.push_back(where + " (" + fileCell + ")");
    parser.Finish(c, out.warnings);
    out.listSongs.push_back(std::move(c));
  }
}

void ReadSingersList(const ParseSetup& setup, const std::string& path, const ListTable& table,
                     const ListColumns& cols, Parser& parser, Gathered& out) {
  const std::string photoFolder =
      setup.options.photos.empty() ? Dirname(path) : setup.options.photos;
  for (std::size_t r = 0; r < table.rows.size(); ++r) {
    const auto& row = table.rows[r];
    const std::string where = path + " line " + std::to_string(table.lines[r]);
    auto cell = [&](int col) {
      return col >= 0 && static_cast<std::size_t>(col) < row.size() ? row[col] : std::string();
    };
    SingerEntry e{cell(cols.name), {}, cell(cols.photo), where, photoFolder};
    if (e.name.empty()) {
      out.warnings.push_back({where, "no singer name: row left out"});
      continue;
    }
    const auto sex = SexOf(parser.normaliser().Key(cell(cols.sex)));
    if (!sex) {
      out.warnings.push_back(
          {where, "sex \"" + cell(cols.sex) + "\" is not 男, 女 or 组合: row left out"});
      continue;
    }
    e.sex = *sex;
    CutToChars(e.name, kMaxSingerChars);
    out.singers.push_back(std::move(e));
  }
}

}  // namespace

bool SharePath(const ParseSetup& setup, const std::string& local, std::string& path1) {
  const std::string& root = setup.shareRoot;
  if (local.size() <= root.size() + 1 || local.compare(0, root.size(), root) != 0 ||
      (local[root.size()] != '/' && root != "/"))
    return false;
  path1 = setup.share + "\\" + DecodePath(local.substr(root == "/" ? 1 : root.size() + 1), nullptr);
  return CountChars(path1) <= kMaxPathChars;
}

Gathered GatherSources(const ParseSetup& setup, const ImportProgress& progress,
                       const std::atomic<bool>* cancel) {
  Gathered out;
  Parser parser(setup);
  const auto& extensions =
      setup.options.extensions.empty() ? DefaultExtensions() : setup.options.extensions;
  // Singers lists first: their names are the spellings songs are matched to.
  std::vector<std::pair<std::string, ListTable>> songLists;
  for (const std::string& source : setup.options.sources) {
    struct stat st {};
    if (stat(source.c_str(), &st) != 0)
      throw std::runtime_error(source + ": " + std::strerror(errno));
    if (S_ISDIR(st.st_mode)) continue;
    if (progress) progress("reading lists", out.sources.size(), 0);
    ListTable table = ReadListFile(source);
    ListColumns cols;
    try {
      cols = MapColumns(table.header, parser.normaliser());
    } catch (const std::exception& e) {
      throw std::runtime_error(source + ": " + e.what());
    }
    SourceReport report{source, cols.kind == ListKind::Singers ? "singers list" : "song list",
                        EncodingName(table.encoding), SeparatorName(table.separator),
                        table.rows.size()};
    for (const std::string& name : cols.ignored)
      out.warnings.push_back({source, "column \"" + name + "\" is not used"});
    if (cols.kind == ListKind::Singers) {
      ReadSingersList(setup, source, table, cols, parser, out);
    } else {
      if (cols.file < 0) throw std::runtime_error(source + ": the song list has no file column");
      songLists.emplace_back(source, std::move(table));
    }
    out.sources.push_back(std::move(report));
  }
  for (const SingerEntry& e : out.singers) setup.singers[parser.normaliser().Key(e.name)] = e.name;
  for (auto& [source, table] : songLists)
    ReadSongList(setup, source, table, MapColumns(table.header, parser.normaliser()), parser, out);

  const unsigned threads = setup.options.jobs == 0
                               ? std::max(2u, std::thread::hardware_concurrency())
                               : setup.options.jobs;
  for (const std::string& source : setup.options.sources) {
    struct stat st {};
    if (stat(source.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
    FolderSource folder{RealPath(source), {}};
    if (folder.root == setup.shareRoot) {
      folder.uncPrefix = setup.share + "\\";
    } else if (SharePath(setup, folder.root, folder.uncPrefix)) {
      folder.uncPrefix += "\\";
    } else {
      throw std::invalid_argument("the folder " + source + " is not under the share root " +
                                  setup.shareRoot + " (see --share-root)");
    }
    std::atomic<std::uint64_t> seen{0};
    ScanControl control{extensions, threads, &seen, cancel};
    ScanResult scan;
    {
      const std::uint64_t before = out.files.size();
      Ticker ticker([&] {
        if (progress) progress("scanning", before + seen.load(), 0);
      });
      scan = ScanFolder(folder.root, control);
    }
    const auto index = static_cast<std::uint32_t>(out.folders.size());
    out.sources.push_back({source, "folder", "", "", scan.files.size()});
    for (const std::string& u : scan.unreadable)
      out.warnings.push_back({source + "/" + u, "unreadable"});
    for (const std::string& l : scan.skippedFolderLinks)
      out.warnings.push_back({source + "/" + l, "link to a folder, not followed"});
    out.files.reserve(out.files.size() + scan.files.size());
    for (FoundFile& f : scan.files) out.files.push_back(RawFile{index, std::move(f)});
    out.folders.push_back(std::move(folder));
  }
  return out;
}

std::string PathOf(const FolderSource& folder, const FoundFile& file, bool* gbk) {
  // The common case, a UTF-8 path, in one allocation.
  if (IsUtf8(file.rel)) {
    std::string path1;
    path1.reserve(folder.uncPrefix.size() + file.rel.size());
    path1 = folder.uncPrefix;
    path1 += file.rel;
    std::replace(path1.begin() + static_cast<std::ptrdiff_t>(folder.uncPrefix.size()), path1.end(),
                 '/', '\\');
    return path1;
  }
  return folder.uncPrefix + DecodePath(file.rel, gbk);
}

std::vector<Candidate> ParseFiles(const ParseSetup& setup, Gathered& gathered,
                                  const std::vector<std::size_t>& which, unsigned threads,
                                  const ImportProgress& progress, const std::atomic<bool>* cancel) {
  const std::size_t n = which.size();
  std::vector<Candidate> out(n);
  if (n == 0) return out;
  threads = std::max(1u, std::min<unsigned>(threads, static_cast<unsigned>(n / 1000 + 1)));
  std::vector<std::vector<Noted>> warnings(threads);
  std::vector<std::vector<std::size_t>> unparsed(threads);
  std::vector<std::uint64_t> gbk(threads, 0);
  std::atomic<std::uint64_t> done{0};
  auto work = [&](unsigned t) {
    Parser parser(setup);
    const std::size_t from = n * t / threads, to = n * (t + 1) / threads;
    for (std::size_t k = from; k < to; ++k) {
      if (cancel != nullptr && (k & 1023) == 0 && cancel->load()) return;
      const RawFile& raw = gathered.files[which[k]];
      const FolderSource& folder = gathered.folders[raw.folder];
      bool isGbk = false;
      std::string path1 = PathOf(folder, raw.file, &isGbk);
      if (isGbk) ++gbk[t];
      out[k] = parser.FromPath(std::move(path1), folder.root + "/" + raw.file.rel, raw.file.size,
                               raw.file.mtime, warnings[t]);
      if (out[k].unparsed) unparsed[t].push_back(k);
      if ((k & 255) == 0) done.fetch_add(256, std::memory_order_relaxed);
    }
  };
  {
    Ticker ticker([&] {
      if (progress) progress("parsing", std::min<std::uint64_t>(done.load(), n), n);
    });
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads; ++t) pool.emplace_back(work, t);
    work(0);
    for (std::thread& t : pool) t.join();
  }
  if (progress) progress("parsing", n, n);
  for (unsigned t = 0; t < threads; ++t) {
    gathered.warnings.insert(gathered.warnings.end(), warnings[t].begin(), warnings[t].end());
    for (const std::size_t k : unparsed[t]) gathered.unparsed.push_back(out[k].path1);
    gathered.gbkNames += gbk[t];
  }
  std::sort(gathered.unparsed.begin(), gathered.unparsed.end());
  return out;
}

std::string ParseSignature(const ParseSetup& setup) {
  // Bump when the parsing, the dictionaries or the initials change what they
  // give for a name, so that the next run parses every file again.
  constexpr const char* kParseVersion = "1";
  std::vector<std::string> singers;
  singers.reserve(setup.singers.size());
  for (const auto& [key, name] : setup.singers) singers.push_back(key + '\t' + name);
  std::sort(singers.begin(), singers.end());
  // FNV-1a over everything, 64 bits: a change anywhere gives another value.
  std::uint64_t h = 1469598103934665603ull;
  auto mix = [&h](std::string_view text) {
    for (const char c : text) {
      h ^= static_cast<unsigned char>(c);
      h *= 1099511628211ull;
    }
    h ^= 0xFF;
    h *= 1099511628211ull;
  };
  mix(kParseVersion);
  mix(setup.profile.Pattern());
  for (const std::string& s : singers) mix(s);
  char text[24];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
  return text;
}

}  // namespace quor::tools::catalogue
