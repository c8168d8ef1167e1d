#include "tests/server/SqlTestCatalogue.h"

#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>

#include "tests/server/MariaDbTestServer.h"

namespace quor::server::testing {
namespace {

std::vector<std::string> MakeTitles() {
  std::vector<std::string> titles;
  for (int i = 1; i <= 24; ++i) titles.push_back("歌曲" + std::to_string(i));
  titles.push_back(kOutsideGbkTitle);
  return titles;
}

// The same text works on both databases: no backslashes (an escape in
// MariaDB literals), apostrophe-quoted literals, portable types.
std::string CatalogueSql() {
  std::string sql =
      "create table vodinfo (SINGID integer, SINGNAME varchar(50), SINGER varchar(50), "
      "TYPE varchar(10), SONGLANGUAGE varchar(10), FIRSTWORD varchar(20), PATH1 varchar(200));"
      "insert into vodinfo values ";
  for (std::size_t i = 0; i < kSongTitles.size(); ++i) {
    const int id = 10001 + static_cast<int>(i);
    const std::string singer = i < 12 ? "'刘德华'" : i < 24 ? "'王菲'" : "null";
    sql += (i != 0 ? "," : "") + std::string("(") + std::to_string(id) + ",'" + kSongTitles[i] +
           "'," + singer + ",'流行','国语','GQ" + std::to_string(i + 1) + "','V:/songs/" +
           std::to_string(id) + ".mpg')";
  }
  sql +=
      ";create table singer (SEX varchar(4), SINGNAME varchar(50), Path varchar(100));"
      "insert into singer values ('男','刘德华','Photo/ldh.jpg'),('女','王菲','Photo/wf.jpg'),"
      "('组合','五月天','Photo/wyt.jpg');"
      "create table typed (small integer, big bigint, r double, t text, b blob);"
      "insert into typed values (7, 1099511627776, 2.5, '中文', X'00FF41'),"
      "(-3, -9000000000, -0.125, '', X''),(null, null, null, null, null)";
  return sql;
}

class SqliteCatalogue final : public SqlTestCatalogue {
 public:
  SqliteCatalogue() {
    char pattern[] = "/tmp/quor-sqlite-XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
    folder_ = pattern;
    path_ = folder_ + "/catalogue.db";
    Admin(CatalogueSql());
  }
  ~SqliteCatalogue() override {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  Flavour Kind() const override { return Flavour::Sqlite; }
  std::unique_ptr<SqlBackend> Open() const override { return OpenSqliteBackend(path_); }
  std::string ServerArgument() const override { return path_; }

  void Admin(const std::string& sql) const override {
    sqlite3* db = nullptr;
    sqlite3_open(path_.c_str(), &db);
    sqlite3_busy_timeout(db, 5000);
    char* message = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
    const std::string why = message != nullptr ? message : "";
    sqlite3_free(message);
    sqlite3_close(db);
    if (rc != SQLITE_OK) throw std::runtime_error(why + " in: " + sql);
  }

 private:
  std::string folder_;
  std::string path_;
};

class MariaDbCatalogue final : public SqlTestCatalogue {
 public:
  MariaDbCatalogue(MariaDbTestServer& server, std::string database)
      : server_(server), database_(std::move(database)) {
    server_.FreshDatabase(database_);
    Admin(CatalogueSql());
  }
  ~MariaDbCatalogue() override {
    try {
      server_.Admin("drop database if exists `" + database_ + "`");
    } catch (const std::exception&) {
    }
  }

  Flavour Kind() const override { return Flavour::MariaDb; }
  std::unique_ptr<SqlBackend> Open() const override {
    return OpenMariaDbBackend(server_.Address(database_));
  }
  std::string ServerArgument() const override {
    const MariaDbAddress a = server_.Address(database_);
    return "mariadb://" + a.user + ":" + a.password + "@127.0.0.1:" + std::to_string(a.port) + "/" +
           database_;
  }
  void Admin(const std::string& sql) const override {
    server_.Admin("use `" + database_ + "`; " + sql);
  }

 private:
  MariaDbTestServer& server_;
  std::string database_;
};

}  // namespace

const std::vector<std::string> kSongTitles = MakeTitles();

std::unique_ptr<SqlTestCatalogue> SqlTestCatalogue::Create(Flavour flavour,
                                                           const std::string& testName,
                                                           std::string& whyNot) {
  if (flavour == Flavour::Sqlite) return std::make_unique<SqliteCatalogue>();
  MariaDbTestServer* server = MariaDbTestServer::Shared(whyNot);
  if (server == nullptr) return nullptr;
  std::string database = "t_";
  for (const char c : testName) {
    database +=
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ? c : '_';
  }
  return std::make_unique<MariaDbCatalogue>(*server, database.substr(0, 60));
}

}  // namespace quor::server::testing
