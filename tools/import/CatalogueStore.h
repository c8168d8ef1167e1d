#pragma once
// The catalogue database as the import keeps it: the terminal's two tables
// (singer: SEX, SINGNAME, Path; vodinfo: SINGID, SINGNAME, SINGER, TYPE,
// SONGLANGUAGE, FIRSTWORD, PATH1) with the import's own columns beside them,
//
//   vodinfo.FILESIZE  bytes of the file when it was last seen
//   vodinfo.FILETIME  its modification time then (seconds since 1970)
//   vodinfo.DURATION  milliseconds, when probed (NULL otherwise)
//   vodinfo.VOCAL     tracks, stereo, mono or none, when probed
//   vodinfo.MISSING   0, or the time of the run that first missed the file
//
// and two tables of its own: catalogue_meta (NAME, VALUE: the next song
// number) and retired_numbers (SINGID, RETIRED: numbers of pruned songs,
// never given again). A run is one transaction: Begin, Load, Apply, Commit; Rollback (or destroying
// the store before Commit) leaves the catalogue as it was.
//
// SQLite and MariaDB; one thread uses a store at a time. Failures throw
// std::runtime_error with the database's text.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quor::server {
struct MariaDbAddress;
}

namespace quor::tools::catalogue {

struct SongRow {
  std::int64_t number = 0;  // SINGID
  std::string title;        // SINGNAME
  std::string singer;       // SINGER
  std::string type;         // TYPE
  std::string language;     // SONGLANGUAGE
  std::string letters;      // FIRSTWORD
  std::string path1;        // PATH1
  std::int64_t size = -1;   // -1: NULL
  std::int64_t mtime = -1;
  std::int64_t durationMs = -1;
  std::string vocal;  // empty: NULL
  std::int64_t missing = 0;
};

struct SingerRow {
  std::string sex;
  std::string name;
  std::string path;
};

struct CatalogueSnapshot {
  std::vector<SongRow> songs;
  std::vector<SingerRow> singers;
  std::vector<std::int64_t> retired;
  std::int64_t nextNumber = 0;  // 0: never stored
  std::string signature;        // what parsed the rows (see ParseSignature)
  std::int64_t version = -1;    // the database's change counter when read, -1: none
};

struct CatalogueChanges {
  std::vector<SongRow> inserts;
  std::vector<SongRow> updates;  // matched by number; every column written
  std::vector<std::int64_t> deletes;
  std::int64_t retiredAt = 0;  // the time written beside deleted numbers
  std::vector<SingerRow> singerInserts;
  std::vector<std::pair<std::string, SingerRow>> singerUpdates;  // old name, new row
  std::int64_t nextNumber = 0;
  std::string signature;

  std::size_t RowCount() const {
    return inserts.size() + updates.size() + deletes.size() + singerInserts.size() +
           singerUpdates.size();
  }
};

// Rows written so far and the total, while Apply runs.
using ApplyProgress = std::function<void(std::size_t done, std::size_t total)>;

// The index names the terminal's statements use (for reports and tests).
struct IndexInfo {
  std::string name;
  std::string table;
  std::string column;  // the column searched on
  // Columns the index also holds (in upper case), so that a song list
  // (SINGID, SINGNAME, SINGER; SINGID is the row id) reads the index alone.
  std::vector<std::string> also;
};
const std::vector<IndexInfo>& CatalogueIndexes();

class CatalogueStore {
 public:
  virtual ~CatalogueStore() = default;

  // "SQLite /srv/ktv/catalogue.db", "MariaDB 10.0.0.5:3306/ktv"
  virtual std::string Describe() const = 0;
  // Starts the transaction. `write`: the run will write, so the tables and
  // the import's columns are created where missing (a dry run changes
  // nothing, not even the schema).
  virtual void Begin(bool write) = 0;
  // Reads the catalogue, in a transaction of its own when called before
  // Begin (a run reads before it locks, so that the long walk of a share
  // never holds the lock). Without `songs` only the singers and numbers.
  virtual CatalogueSnapshot Load(bool songs) = 0;
  // After Begin: whether anyone changed the catalogue since `snapshot` was
  // read (true when the database cannot tell).
  virtual bool ChangedSince(const CatalogueSnapshot& snapshot) = 0;
  virtual void Apply(const CatalogueChanges& changes, const ApplyProgress& progress) = 0;
  // Makes sure of the indexes of CatalogueIndexes() (creating what is
  // missing, mending one made on other columns) and commits.
  virtual void Commit() = 0;
  // Ends the transaction without a change; never throws.
  virtual void Rollback() = 0;
  // The names of the indexes on singer and vodinfo.
  virtual std::vector<std::string> Indexes() = 0;
};

// Opens (and with `create`, creates) a SQLite catalogue file. Without
// `create` a missing file reads as an empty catalogue and is not made.
std::unique_ptr<CatalogueStore> OpenSqliteStore(const std::string& path, bool create);

std::unique_ptr<CatalogueStore> OpenMariaDbStore(const server::MariaDbAddress& address);

}  // namespace quor::tools::catalogue
