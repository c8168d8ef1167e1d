#include "Report.h"

#include <nlohmann/json.hpp>

#include <cinttypes>

namespace quor::tools::catalogue {
namespace {

std::string Count(std::uint64_t n) {
  std::string digits = std::to_string(n);
  for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) digits.insert(i, ",");
  return digits;
}

std::string SongLine(const SongRow& r) {
  char number[24];
  std::snprintf(number, sizeof number, "%5" PRId64, r.number);
  std::string line = std::string("  ") + number + "  " + (r.singer.empty() ? "?" : r.singer) +
                     " - " + r.title + "  [" + r.language + "/" + r.type + "]  " + r.letters +
                     "  " + r.path1;
  if (r.durationMs >= 0)
    line += "  " + std::to_string(r.durationMs / 1000) + " s " + (r.vocal.empty() ? "" : r.vocal);
  return line;
}

template <class T, class F>
void List(std::string& out, const std::string& title, const std::vector<T>& items,
          std::size_t limit, F line) {
  if (items.empty()) return;
  out += title + "\n";
  for (std::size_t i = 0; i < items.size() && i < limit; ++i) out += line(items[i]) + "\n";
  if (items.size() > limit) out += "  ... and " + Count(items.size() - limit) + " more\n";
}

nlohmann::json SongJson(const SongRow& r) {
  nlohmann::json j = {{"number", r.number}, {"title", r.title},         {"singer", r.singer},
                      {"type", r.type},     {"language", r.language},   {"letters", r.letters},
                      {"path", r.path1},    {"missing", r.missing != 0}};
  if (r.durationMs >= 0) j["durationMs"] = r.durationMs;
  if (!r.vocal.empty()) j["vocal"] = r.vocal;
  return j;
}

nlohmann::json NotedJson(const std::vector<Noted>& v, const char* what, const char* why) {
  nlohmann::json a = nlohmann::json::array();
  for (const Noted& n : v) a.push_back({{what, n.what}, {why, n.why}});
  return a;
}

}  // namespace

std::string TextReport(const ImportReport& r, std::size_t limit) {
  std::string out =
      "catalogue: " + r.database + (r.dryRun ? "  (dry run: nothing was written)" : "") + "\n";
  for (const SourceReport& s : r.sources) {
    out += "  " + s.kind + " " + s.path + ": " + Count(s.entries) +
           (s.kind == "folder" ? " song files" : " rows");
    if (!s.encoding.empty()) out += " (" + s.encoding + ", " + s.separator + ")";
    out += "\n";
  }
  const char* would = r.dryRun ? "would be " : "";
  out += "songs: " + Count(r.songsSeen) + " found; " + Count(r.added) + " " + would + "added";
  if (r.added > 0)
    out += " (numbers " + std::to_string(r.firstAssigned) + " to " +
           std::to_string(r.lastAssigned) + ")";
  out += ", " + Count(r.updated) + " " + would + "updated, " + Count(r.moved) + " moved, " +
         Count(r.returned) + " back again, " + Count(r.unchanged) + " unchanged\n";
  if (r.missingGuard) {
    out += "missing: " + Count(r.lookMissing) + " of the " + Count(r.inScope) +
           " songs under the scanned folders look missing: more than half, so the share is "
           "probably not mounted. Nothing was marked missing (--force-missing marks them "
           "anyway).\n";
  } else if (r.markedMissing + r.stillMissing + r.pruned > 0) {
    out += "missing: " + Count(r.markedMissing) + " " + would + "marked missing, " +
           Count(r.stillMissing) + " still missing" +
           (r.pruned > 0 ? ", " + Count(r.pruned) + " " + would + "deleted (--prune)" : "") +
           (r.pruned == 0 ? " (kept; --prune deletes them)" : "") + "\n";
  }
  if (r.singersAdded + r.singersUpdated + r.photosCopied > 0)
    out += "singers: " + Count(r.singersAdded) + " " + would + "added, " + Count(r.singersUpdated) +
           " " + would + "updated, " + Count(r.photosCopied) + " photos copied\n";
  if (r.gbkNames > 0)
    out += "names: " + Count(r.gbkNames) + " file names are written in GBK, not UTF-8\n";
  if (!r.indexes.empty()) {
    out += "indexes:";
    for (const std::string& i : r.indexes) out += " " + i;
    out += "\n";
  }
  auto noted = [](const Noted& n) { return "  " + n.what + ": " + n.why; };
  List(out, "not imported (" + Count(r.notImported.size()) + "):", r.notImported, limit, noted);
  List(out,
       "names that do not fit the profile (" + Count(r.unparsed.size()) +
           "): imported with the file name as the title",
       r.unparsed, limit, [](const std::string& s) { return "  " + s; });
  List(out,
       "the same song in more than one file (" + Count(r.duplicates.size()) + "):", r.duplicates,
       limit, noted);
  List(out,
       "singers with no row in the singer table (" + Count(r.singersWithoutRow.size()) +
           "): their songs are found by category, language, letters and number, not on the "
           "singer pages",
       r.singersWithoutRow, limit, [](const std::string& s) { return "  " + s; });
  List(out, "warnings (" + Count(r.warnings.size()) + "):", r.warnings, limit, noted);
  List(out, r.dryRun ? "would add:" : "added:", r.addedSample, limit, SongLine);
  List(out, r.dryRun ? "would update:" : "updated:", r.updatedSample, limit, SongLine);
  List(out, "moved:", r.movedSample, limit, [](const Moved& m) {
    return "  " + std::to_string(m.number) + "  " + m.from + " -> " + m.to;
  });
  List(out, r.pruned > 0 ? "deleted:" : "missing:", r.missingSample, limit, SongLine);
  if (r.dryRun) List(out, "parsed rows (sample):", r.parsedSample, limit, SongLine);
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f", r.seconds);
  out += std::string(r.dryRun ? "dry run" : "done") + " in " + seconds + " s\n";
  return out;
}

std::string JsonReport(const ImportReport& r) {
  nlohmann::json j;
  j["database"] = r.database;
  j["dryRun"] = r.dryRun;
  j["seconds"] = r.seconds;
  j["sources"] = nlohmann::json::array();
  for (const SourceReport& s : r.sources) {
    nlohmann::json o = {{"path", s.path}, {"kind", s.kind}, {"entries", s.entries}};
    if (!s.encoding.empty()) {
      o["encoding"] = s.encoding;
      o["separator"] = s.separator;
    }
    j["sources"].push_back(o);
  }
  j["songs"] = {{"found", r.songsSeen},
                {"added", r.added},
                {"updated", r.updated},
                {"moved", r.moved},
                {"returned", r.returned},
                {"unchanged", r.unchanged},
                {"markedMissing", r.markedMissing},
                {"stillMissing", r.stillMissing},
                {"pruned", r.pruned},
                {"firstNumber", r.firstAssigned},
                {"lastNumber", r.lastAssigned}};
  j["missingGuard"] = {{"tripped", r.missingGuard},
                       {"lookMissing", r.lookMissing},
                       {"underScannedFolders", r.inScope}};
  j["singers"] = {{"added", r.singersAdded},
                  {"updated", r.singersUpdated},
                  {"photosCopied", r.photosCopied},
                  {"withoutRow", r.singersWithoutRow}};
  j["gbkNames"] = r.gbkNames;
  j["indexes"] = r.indexes;
  j["notImported"] = NotedJson(r.notImported, "path", "reason");
  j["unparsed"] = r.unparsed;
  j["duplicates"] = NotedJson(r.duplicates, "song", "paths");
  j["warnings"] = NotedJson(r.warnings, "where", "warning");
  auto rows = [](const std::vector<SongRow>& v) {
    nlohmann::json a = nlohmann::json::array();
    for (const SongRow& s : v) a.push_back(SongJson(s));
    return a;
  };
  j["added"] = rows(r.addedSample);
  j["updated"] = rows(r.updatedSample);
  j["missing"] = rows(r.missingSample);
  j["sample"] = rows(r.parsedSample);
  j["moved"] = nlohmann::json::array();
  for (const Moved& m : r.movedSample)
    j["moved"].push_back({{"number", m.number}, {"from", m.from}, {"to", m.to}});
  // Texts from file names may hold bytes that are not UTF-8 only where GBK
  // could not read them either; they are shown replaced, never refused.
  return j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

void ProgressLine::Update(const std::string& stage, std::uint64_t done, std::uint64_t total) {
  std::lock_guard lock(mutex_);
  const auto now = Clock::now();
  if (stage != stage_) {
    if (open_) std::fputc('\n', out_);
    stage_ = stage;
    since_ = now;
  } else if (now - shown_ < std::chrono::milliseconds(100) && done != total) {
    return;
  }
  shown_ = now;
  const double seconds = std::chrono::duration<double>(now - since_).count();
  const double rate = seconds > 0.05 ? static_cast<double>(done) / seconds : 0;
  char line[200];
  if (total > 0) {
    const double part = std::min(1.0, static_cast<double>(done) / static_cast<double>(total));
    constexpr int kWidth = 24;
    std::string bar(static_cast<std::size_t>(part * kWidth), '#');
    bar.resize(kWidth, '.');
    const double left = rate > 0 ? static_cast<double>(total - std::min(done, total)) / rate : 0;
    std::snprintf(line, sizeof line, "\r%-14s [%s] %3d%% %s/%s  %.0f/s  %d:%02d left   ",
                  stage.c_str(), bar.c_str(), static_cast<int>(part * 100), Count(done).c_str(),
                  Count(total).c_str(), rate, static_cast<int>(left) / 60,
                  static_cast<int>(left) % 60);
  } else {
    std::snprintf(line, sizeof line, "\r%-14s %s  %.0f/s   ", stage.c_str(), Count(done).c_str(),
                  rate);
  }
  std::fputs(line, out_);
  std::fflush(out_);
  open_ = true;
}

void ProgressLine::Finish() {
  std::lock_guard lock(mutex_);
  if (open_) std::fputc('\n', out_);
  open_ = false;
  stage_.clear();
}

}  // namespace quor::tools::catalogue
