#pragma once
// A small catalogue in a real database of either kind, for the backend and
// server tests: 25 songs of two singers (one with no singer), three singers,
// and a table of typed values.

#include <memory>
#include <string>
#include <vector>

#include "server/SqlBackend.h"

namespace quor::server::testing {

enum class Flavour { Sqlite, MariaDb };

class SqlTestCatalogue {
 public:
  virtual ~SqlTestCatalogue() = default;

  // A fresh catalogue of the flavour; null with `whyNot` set when that
  // database cannot be had here (MariaDB not startable).
  static std::unique_ptr<SqlTestCatalogue> Create(Flavour flavour, const std::string& testName,
                                                  std::string& whyNot);

  virtual Flavour Kind() const = 0;
  // A new backend connection on the catalogue, as a server session opens it.
  virtual std::unique_ptr<SqlBackend> Open() const = 0;
  // Runs set-up SQL with full rights, outside the backend under test.
  virtual void Admin(const std::string& sql) const = 0;
  // The --db file or --mariadb URI a server is started with.
  virtual std::string ServerArgument() const = 0;

  // The type an INTEGER column travels as (SQLite stores 64 bits in any
  // integer column; MariaDB's INT is 32 bits).
  FieldType IntegerType() const {
    return Kind() == Flavour::Sqlite ? FieldType::Int64 : FieldType::Int32;
  }
};

// The song titles of the catalogue: SINGID 10001 + i has title kSongTitles[i].
extern const std::vector<std::string> kSongTitles;
// A title outside GBK (a CJK extension B character and an emoji).
inline constexpr char kOutsideGbkTitle[] = "\xF0\xA0\x80\x80\xE6\xAD\x8C\xF0\x9F\x8E\xA4";

}  // namespace quor::server::testing
