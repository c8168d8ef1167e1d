// The catalogue in a SQLite file. Everything a run does, the schema included,
// happens in one BEGIN IMMEDIATE transaction: a run that is interrupted (or
// killed) leaves the file as it was, and a second import waits for the first
// instead of interleaving with it. Readers (the server) go on reading the
// old catalogue until the commit.
//
// FIRSTWORD's index uses the NOCASE collation: SQLite turns
// FIRSTWORD like "AB%" into a range on such an index while like is case
// insensitive, and only then.

#include <sqlite3.h>
#include <sys/stat.h>

#include <cstdio>
#include <set>
#include <stdexcept>

#include "CatalogueStore.h"

namespace quor::tools::catalogue {
namespace {

struct StmtCloser {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Stmt = std::unique_ptr<sqlite3_stmt, StmtCloser>;

constexpr const char* kSongColumns =
    "SINGID, SINGNAME, SINGER, TYPE, SONGLANGUAGE, FIRSTWORD, PATH1, FILESIZE, FILETIME, "
    "DURATION, VOCAL, MISSING";

constexpr const char* kCreateTables = R"(
CREATE TABLE IF NOT EXISTS singer (
  SEX VARCHAR(4) NOT NULL,
  SINGNAME VARCHAR(100) NOT NULL,
  Path VARCHAR(260) NOT NULL DEFAULT '');
CREATE TABLE IF NOT EXISTS vodinfo (
  SINGID INTEGER PRIMARY KEY,
  SINGNAME VARCHAR(100) NOT NULL,
  SINGER VARCHAR(100) NOT NULL,
  TYPE VARCHAR(8) NOT NULL,
  SONGLANGUAGE VARCHAR(8) NOT NULL,
  FIRSTWORD VARCHAR(100) NOT NULL,
  PATH1 VARCHAR(512) NOT NULL,
  FILESIZE INTEGER,
  FILETIME INTEGER,
  DURATION INTEGER,
  VOCAL VARCHAR(8),
  MISSING INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS catalogue_meta (
  NAME VARCHAR(40) PRIMARY KEY,
  VALUE VARCHAR(200) NOT NULL);
CREATE TABLE IF NOT EXISTS retired_numbers (
  SINGID INTEGER PRIMARY KEY,
  RETIRED INTEGER NOT NULL);
)";

// The import's columns, added to a catalogue made without them.
constexpr std::pair<const char*, const char*> kOwnColumns[] = {
    {"FILESIZE", "INTEGER"},
    {"FILETIME", "INTEGER"},
    {"DURATION", "INTEGER"},
    {"VOCAL", "VARCHAR(8)"},
    {"MISSING", "INTEGER NOT NULL DEFAULT 0"},
};
constexpr const char* kTerminalColumns[] = {"SINGID",       "SINGNAME",  "SINGER", "TYPE",
                                            "SONGLANGUAGE", "FIRSTWORD", "PATH1"};

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c -= 'a' - 'A';
  return s;
}

class SqliteStore final : public CatalogueStore {
 public:
  SqliteStore(std::string path, bool create) : path_(std::move(path)) {
    struct stat st {};
    const bool exists = stat(path_.c_str(), &st) == 0;
    made_ = !exists && create;
    // A dry run on a catalogue that does not exist yet must not make one.
    const std::string target = exists || create ? path_ : ":memory:";
    const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
    const int rc = sqlite3_open_v2(target.c_str(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
      const std::string why = db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
      sqlite3_close(db_);
      db_ = nullptr;
      throw std::runtime_error("cannot open the catalogue " + path_ + ": " + why);
    }
    sqlite3_busy_timeout(db_, 10000);
    sqlite3_extended_result_codes(db_, 1);
    // Room to sort the index keys of a big first import in memory, and a
    // second thread to sort them with.
    Exec("PRAGMA cache_size = -65536; PRAGMA temp_store = MEMORY; PRAGMA threads = 2");
  }
  ~SqliteStore() override {
    if (inTransaction_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db_);
    // A catalogue this run made and never committed is no catalogue.
    if (made_ && !committed_) {
      std::remove(path_.c_str());
      std::remove((path_ + "-journal").c_str());
    }
  }

  std::string Describe() const override { return "SQLite " + path_; }

  void Begin(bool write) override {
    Exec("BEGIN IMMEDIATE");
    inTransaction_ = true;
    if (write) {
      Exec(kCreateTables);
      std::set<std::string> have = Columns("vodinfo");
      for (const char* c : kTerminalColumns)
        if (!have.count(c))
          throw std::runtime_error("the table vodinfo of " + path_ + " has no column " + c);
      for (const auto& [name, type] : kOwnColumns)
        if (!have.count(name))
          Exec(std::string("ALTER TABLE vodinfo ADD COLUMN ") + name + " " + type);
    }
  }

  CatalogueSnapshot Load(bool songs) override {
    // Outside the run's transaction: one read transaction, so that what is
    // read belongs together and the change counter matches it.
    const bool own = !inTransaction_;
    if (own) Exec("BEGIN");
    try {
      CatalogueSnapshot snap = Read(songs);
      snap.version = DataVersion();
      if (own) Exec("COMMIT");
      return snap;
    } catch (...) {
      if (own) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
  }

  bool ChangedSince(const CatalogueSnapshot& snapshot) override {
    return snapshot.version < 0 || DataVersion() != snapshot.version;
  }

  CatalogueSnapshot Read(bool songs) {
    CatalogueSnapshot snap;
    const std::set<std::string> vodinfo = Columns("vodinfo");
    if (songs && !vodinfo.empty()) {
      std::string select = "SELECT SINGID, SINGNAME, SINGER, TYPE, SONGLANGUAGE, FIRSTWORD, PATH1";
      for (const auto& [name, type] : kOwnColumns)
        select += vodinfo.count(name) ? std::string(", ") + name : std::string(", NULL");
      select += " FROM vodinfo ORDER BY SINGID";
      {
        Stmt count = Prepare("SELECT count(*) FROM vodinfo");
        if (sqlite3_step(count.get()) == SQLITE_ROW)
          snap.songs.reserve(static_cast<std::size_t>(sqlite3_column_int64(count.get(), 0)));
      }
      Stmt s = Prepare(select);
      int rc;
      while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
        SongRow r;
        r.number = sqlite3_column_int64(s.get(), 0);
        r.title = Text(s.get(), 1);
        r.singer = Text(s.get(), 2);
        r.type = Text(s.get(), 3);
        r.language = Text(s.get(), 4);
        r.letters = Text(s.get(), 5);
        r.path1 = Text(s.get(), 6);
        r.size = Int(s.get(), 7);
        r.mtime = Int(s.get(), 8);
        r.durationMs = Int(s.get(), 9);
        r.vocal = Text(s.get(), 10);
        r.missing = sqlite3_column_int64(s.get(), 11);
        snap.songs.push_back(std::move(r));
      }
      Check(rc, "reading vodinfo");
    }
    if (!Columns("singer").empty()) {
      Stmt s = Prepare("SELECT SEX, SINGNAME, Path FROM singer");
      int rc;
      while ((rc = sqlite3_step(s.get())) == SQLITE_ROW)
        snap.singers.push_back(SingerRow{Text(s.get(), 0), Text(s.get(), 1), Text(s.get(), 2)});
      Check(rc, "reading singer");
    }
    if (!Columns("retired_numbers").empty()) {
      Stmt s = Prepare("SELECT SINGID FROM retired_numbers");
      while (sqlite3_step(s.get()) == SQLITE_ROW)
        snap.retired.push_back(sqlite3_column_int64(s.get(), 0));
    }
    if (!Columns("catalogue_meta").empty()) {
      Stmt s = Prepare("SELECT NAME, VALUE FROM catalogue_meta");
      while (sqlite3_step(s.get()) == SQLITE_ROW) {
        const std::string name = Text(s.get(), 0);
        if (name == "next number") snap.nextNumber = sqlite3_column_int64(s.get(), 1);
        if (name == "parse signature") snap.signature = Text(s.get(), 1);
      }
    }
    return snap;
  }

  // Changes when another connection commits to the file.
  std::int64_t DataVersion() {
    Stmt s = Prepare("PRAGMA data_version");
    return sqlite3_step(s.get()) == SQLITE_ROW ? sqlite3_column_int64(s.get(), 0) : -1;
  }

  void Apply(const CatalogueChanges& c, const ApplyProgress& progress) override {
    const std::size_t total = c.RowCount();
    std::size_t done = 0;
    auto tick = [&] {
      ++done;
      if (progress && (done % 2048 == 0 || done == total)) progress(done, total);
    };
    if (!c.inserts.empty()) {
      Stmt s = Prepare(std::string("INSERT INTO vodinfo (") + kSongColumns +
                       ") VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)");
      for (const SongRow& r : c.inserts) {
        BindSong(s.get(), r);
        Step(s.get(), "adding a song");
        tick();
      }
    }
    if (!c.updates.empty()) {
      Stmt s = Prepare(
          "UPDATE vodinfo SET SINGNAME = ?2, SINGER = ?3, TYPE = ?4, SONGLANGUAGE = ?5, "
          "FIRSTWORD = ?6, PATH1 = ?7, FILESIZE = ?8, FILETIME = ?9, DURATION = ?10, VOCAL = ?11, "
          "MISSING = ?12 WHERE SINGID = ?1");
      for (const SongRow& r : c.updates) {
        BindSong(s.get(), r);
        Step(s.get(), "updating a song");
        tick();
      }
    }
    if (!c.deletes.empty()) {
      Stmt del = Prepare("DELETE FROM vodinfo WHERE SINGID = ?1");
      Stmt retire =
          Prepare("INSERT OR REPLACE INTO retired_numbers (SINGID, RETIRED) VALUES (?1, ?2)");
      for (const std::int64_t n : c.deletes) {
        sqlite3_bind_int64(del.get(), 1, n);
        Step(del.get(), "deleting a song");
        sqlite3_bind_int64(retire.get(), 1, n);
        sqlite3_bind_int64(retire.get(), 2, c.retiredAt);
        Step(retire.get(), "retiring a number");
        tick();
      }
    }
    if (!c.singerInserts.empty()) {
      Stmt s = Prepare("INSERT INTO singer (SEX, SINGNAME, Path) VALUES (?1, ?2, ?3)");
      for (const SingerRow& r : c.singerInserts) {
        BindSinger(s.get(), r);
        Step(s.get(), "adding a singer");
        tick();
      }
    }
    if (!c.singerUpdates.empty()) {
      Stmt s = Prepare("UPDATE singer SET SEX = ?1, SINGNAME = ?2, Path = ?3 WHERE SINGNAME = ?4");
      for (const auto& [old, r] : c.singerUpdates) {
        BindSinger(s.get(), r);
        BindText(s.get(), 4, old);
        Step(s.get(), "updating a singer");
        tick();
      }
    }
    Stmt meta = Prepare("INSERT OR REPLACE INTO catalogue_meta (NAME, VALUE) VALUES (?1, ?2)");
    BindText(meta.get(), 1, "next number");
    BindText(meta.get(), 2, std::to_string(c.nextNumber));
    Step(meta.get(), "storing the next number");
    BindText(meta.get(), 1, "parse signature");
    BindText(meta.get(), 2, c.signature);
    Step(meta.get(), "storing the parse signature");
  }

  void Commit() override {
    EnsureIndexes();
    Exec("COMMIT");
    inTransaction_ = false;
    committed_ = true;
  }

  void Rollback() override {
    if (!inTransaction_) return;
    inTransaction_ = false;
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }

  std::vector<std::string> Indexes() override {
    std::vector<std::string> out;
    Stmt s = Prepare(
        "SELECT name FROM sqlite_master WHERE type = 'index' AND tbl_name IN ('singer', "
        "'vodinfo') AND name NOT LIKE 'sqlite_autoindex%' ORDER BY name");
    while (sqlite3_step(s.get()) == SQLITE_ROW) out.push_back(Text(s.get(), 0));
    return out;
  }

 private:
  void EnsureIndexes() {
    // SINGID needs an index of its own only where it is not the row id.
    bool singidIsRowid = false;
    {
      Stmt s = Prepare("SELECT type, pk FROM pragma_table_info('vodinfo') WHERE name = 'SINGID'");
      if (sqlite3_step(s.get()) == SQLITE_ROW)
        singidIsRowid = Upper(Text(s.get(), 0)) == "INTEGER" && sqlite3_column_int(s.get(), 1) == 1;
    }
    for (const IndexInfo& index : CatalogueIndexes()) {
      if (index.column == "SINGID" && singidIsRowid) continue;
      const std::string collate = index.column == "FIRSTWORD" ? " COLLATE NOCASE" : "";
      std::string columns = index.column + collate;
      for (const std::string& also : index.also) columns += ", " + also;
      const std::string want =
          "CREATE INDEX " + index.name + " ON " + index.table + " (" + columns + ")";
      Stmt s = Prepare("SELECT sql FROM sqlite_master WHERE type = 'index' AND name = ?1");
      BindText(s.get(), 1, index.name);
      if (sqlite3_step(s.get()) == SQLITE_ROW) {
        if (Text(s.get(), 0) == want) continue;
        s.reset();
        Exec("DROP INDEX " + index.name);  // made otherwise (an older catalogue): made again
      }
      s.reset();
      Exec(want);
    }
  }

  void Check(int rc, const std::string& what) const {
    if (rc == SQLITE_OK || rc == SQLITE_DONE || rc == SQLITE_ROW) return;
    throw std::runtime_error("catalogue " + path_ + ": " + what + ": " + sqlite3_errmsg(db_));
  }
  void Exec(const std::string& sql) {
    char* err = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
      const std::string why = err != nullptr ? err : sqlite3_errmsg(db_);
      sqlite3_free(err);
      throw std::runtime_error("catalogue " + path_ + ": " + why);
    }
  }
  Stmt Prepare(const std::string& sql) {
    sqlite3_stmt* s = nullptr;
    Check(sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr), "preparing");
    return Stmt(s);
  }
  void Step(sqlite3_stmt* s, const char* what) {
    const int rc = sqlite3_step(s);
    sqlite3_reset(s);
    Check(rc, what);
  }
  void BindText(sqlite3_stmt* s, int i, const std::string& v) {
    Check(sqlite3_bind_text(s, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT),
          "binding");
  }
  void BindInt(sqlite3_stmt* s, int i, std::int64_t v) {
    Check(v < 0 ? sqlite3_bind_null(s, i) : sqlite3_bind_int64(s, i, v), "binding");
  }
  void BindSong(sqlite3_stmt* s, const SongRow& r) {
    sqlite3_bind_int64(s, 1, r.number);
    BindText(s, 2, r.title);
    BindText(s, 3, r.singer);
    BindText(s, 4, r.type);
    BindText(s, 5, r.language);
    BindText(s, 6, r.letters);
    BindText(s, 7, r.path1);
    BindInt(s, 8, r.size);
    BindInt(s, 9, r.mtime);
    BindInt(s, 10, r.durationMs);
    if (r.vocal.empty()) {
      sqlite3_bind_null(s, 11);
    } else {
      BindText(s, 11, r.vocal);
    }
    sqlite3_bind_int64(s, 12, r.missing);
  }
  void BindSinger(sqlite3_stmt* s, const SingerRow& r) {
    BindText(s, 1, r.sex);
    BindText(s, 2, r.name);
    BindText(s, 3, r.path);
  }
  static std::string Text(sqlite3_stmt* s, int i) {
    const auto* t = sqlite3_column_text(s, i);
    return t != nullptr ? std::string(reinterpret_cast<const char*>(t),
                                      static_cast<std::size_t>(sqlite3_column_bytes(s, i)))
                        : std::string();
  }
  static std::int64_t Int(sqlite3_stmt* s, int i) {
    return sqlite3_column_type(s, i) == SQLITE_NULL ? -1 : sqlite3_column_int64(s, i);
  }
  // The column names of a table, upper case; empty when it does not exist.
  std::set<std::string> Columns(const std::string& table) {
    std::set<std::string> out;
    Stmt s = Prepare("SELECT name FROM pragma_table_info(?1)");
    BindText(s.get(), 1, table);
    while (sqlite3_step(s.get()) == SQLITE_ROW) out.insert(Upper(Text(s.get(), 0)));
    return out;
  }

  std::string path_;
  sqlite3* db_ = nullptr;
  bool inTransaction_ = false;
  bool made_ = false;  // the file did not exist before this store
  bool committed_ = false;
};

}  // namespace

std::unique_ptr<CatalogueStore> OpenSqliteStore(const std::string& path, bool create) {
  return std::make_unique<SqliteStore>(path, create);
}

}  // namespace quor::tools::catalogue
