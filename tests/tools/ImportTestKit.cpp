#include "ImportTestKit.h"

#include <mysql.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <stdexcept>

#include "platform/Codepage.h"
#include "tests/server/MariaDbTestServer.h"

namespace quor::tools::catalogue::test {
namespace {

namespace fs = std::filesystem;

std::string Slashes(std::string s) {
  for (char& c : s)
    if (c == '/') c = '\\';
  return s;
}

// A path whose parts are written in GBK where the tree says so.
std::string GbkPath(const std::string& rel) {
  std::string out;
  std::size_t from = 0;
  while (true) {
    const auto slash = rel.find('/', from);
    out += platform::Utf8ToGbk(rel.substr(from, slash - from));
    if (slash == std::string::npos) return out;
    out += '/';
    from = slash + 1;
  }
}

void Run(const std::string& command) {
  if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
}

// The two videos, made once per test program.
const std::string& VideoFolder() {
  static std::once_flag once;
  static std::string folder;
  std::call_once(once, [] {
    char pattern[] = "/tmp/quor-import-videos-XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
    folder = pattern;
    Run("ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i "
        "testsrc=size=96x64:rate=10 -f lavfi -i sine=frequency=440:sample_rate=22050 "
        "-f lavfi -i sine=frequency=660:sample_rate=22050 -filter_complex "
        "'[1:a][2:a]join=inputs=2:channel_layout=stereo[a]' -map 0:v -map '[a]' -t 2 "
        "-c:v mpeg4 -c:a aac '" +
        folder + "/good.mp4'");
    // Cut: the index of an mp4 is written at its end, so the first part alone
    // cannot be opened.
    const auto size = fs::file_size(folder + "/good.mp4");
    fs::copy_file(folder + "/good.mp4", folder + "/broken.mp4");
    fs::resize_file(folder + "/broken.mp4", size / 3);
  });
  return folder;
}

class SqliteCatalogue final : public TestCatalogue {
 public:
  explicit SqliteCatalogue(std::string path) : path_(std::move(path)) {}
  Flavour Kind() const override { return Flavour::Sqlite; }
  void Use(ImportOptions& o) const override {
    o.db = path_;
    o.mariadb.clear();
  }
  std::vector<std::string> ServerArguments() const override { return {"--db", path_}; }
  std::vector<std::string> Rows(const std::string& sql) const override {
    std::vector<std::string> out;
    if (!fs::exists(path_)) return out;
    sqlite3* db = nullptr;
    sqlite3_open_v2(path_.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) != SQLITE_OK) {
      const std::string why = sqlite3_errmsg(db);
      sqlite3_close(db);
      throw std::runtime_error(why + " in: " + sql);
    }
    while (sqlite3_step(s) == SQLITE_ROW) {
      std::string row;
      for (int c = 0; c < sqlite3_column_count(s); ++c) {
        if (c > 0) row += '|';
        const auto* t = sqlite3_column_text(s, c);
        row += t != nullptr ? reinterpret_cast<const char*>(t) : "NULL";
      }
      out.push_back(row);
    }
    sqlite3_finalize(s);
    sqlite3_close(db);
    return out;
  }

 private:
  std::string path_;
};

class MariaDbCatalogue final : public TestCatalogue {
 public:
  MariaDbCatalogue(server::testing::MariaDbTestServer& server, std::string database)
      : server_(server), database_(std::move(database)), address_(server.Address(database_)) {
    server_.FreshDatabase(database_);
  }
  ~MariaDbCatalogue() override {
    try {
      server_.Admin("drop database if exists `" + database_ + "`");
    } catch (const std::exception&) {
    }
  }
  Flavour Kind() const override { return Flavour::MariaDb; }
  std::string Uri() const {
    return "mariadb://" + address_.user + ":" + address_.password +
           "@127.0.0.1:" + std::to_string(address_.port) + "/" + database_;
  }
  void Use(ImportOptions& o) const override { o.mariadb = Uri(); }
  std::vector<std::string> ServerArguments() const override { return {"--mariadb", Uri()}; }
  std::vector<std::string> Rows(const std::string& sql) const override {
    MYSQL* m = mysql_init(nullptr);
    mysql_optionsv(m, MYSQL_SET_CHARSET_NAME, "utf8mb4");
    // PATH1 literals in the tests hold backslashes, which are plain text in
    // SQL but escapes in MariaDB's default mode.
    const std::string mode = "set session sql_mode = concat(@@sql_mode, ',NO_BACKSLASH_ESCAPES')";
    if (mysql_real_connect(m, "127.0.0.1", address_.user.c_str(), address_.password.c_str(),
                           database_.c_str(), address_.port, nullptr, 0) == nullptr ||
        mysql_real_query(m, mode.data(), mode.size()) != 0 ||
        mysql_real_query(m, sql.data(), sql.size()) != 0) {
      const std::string why = mysql_error(m);
      mysql_close(m);
      throw std::runtime_error(why + " in: " + sql);
    }
    std::vector<std::string> out;
    if (MYSQL_RES* res = mysql_store_result(m)) {
      const unsigned n = mysql_num_fields(res);
      while (MYSQL_ROW r = mysql_fetch_row(res)) {
        std::string row;
        for (unsigned c = 0; c < n; ++c) {
          if (c > 0) row += '|';
          row += r[c] != nullptr ? r[c] : "NULL";
        }
        out.push_back(row);
      }
      mysql_free_result(res);
    }
    mysql_close(m);
    return out;
  }

 private:
  server::testing::MariaDbTestServer& server_;
  std::string database_;
  server::MariaDbAddress address_;
};

}  // namespace

const std::vector<TreeFile>& TreeFiles() {
  static const std::vector<TreeFile> files = {
      {"国语/刘德华-忘情水.mpg"},
      {"国语/周杰伦-稻香-流行.mpg"},
      {"国语/王菲-红豆-国语-情歌.mp4"},
      {"粤语/张学友-吻别.mp4"},
      {"粤语/张学友-一千个伤心的理由.mpg", true},
      {"粤语/Beyond-海阔天空-粤语-怀旧.mpg"},
      {"闽南语/叶启田-爱拼才会赢.mpg", true},
      {"English/Celine Dion-My Heart Will Go On-英语-情歌.mkv"},
      {"杂项/无名歌曲.mpg"},
      {"备份/刘德华-忘情水.mpg"},
      {"少儿/群星-小兔子乖乖.mpg"},
  };
  return files;
}

std::string UncOf(const std::string& rel) {
  return "\\\\ktv\\quorvod\\" + Slashes(rel);
}

TestTree::TestTree() {
  char pattern[] = "/tmp/quor-import-test-XXXXXX";
  if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
  root_ = pattern;
  // Each file a size of its own, so that only a real move matches by size.
  std::size_t n = 0;
  for (const TreeFile& f : TreeFiles()) {
    const std::string onDisk = f.gbk ? GbkPath(f.rel) : f.rel;
    fs::create_directories(fs::path(Songs()) / fs::path(onDisk).parent_path());
    std::ofstream(Songs() + "/" + onDisk) << std::string(1000 + 37 * n++, 'v');
  }
  std::ofstream(Songs() + "/杂项/说明.txt") << "not a song";
  std::ofstream(Songs() + "/国语/.隐藏-歌.mpg") << "hidden";
  // The singers list as a spreadsheet in a Chinese Windows saves it: GBK.
  fs::create_directories(root_ + "/photos");
  std::ofstream(root_ + "/singers.csv") << platform::Utf8ToGbk(
      "歌手,性别,照片\r\n刘德华,男,ldh.jpg\r\n王菲,女,\r\n張學友,男歌手,\r\n"
      "Beyond,乐队,\r\n叶启田,男,\r\n无名氏,不详,\r\n");
  const std::string jpeg = std::string("\xFF\xD8\xFF\xE0", 4) + "a photo";
  std::ofstream(root_ + "/photos/ldh.jpg") << jpeg;
  std::ofstream(root_ + "/photos/王菲.jpg") << jpeg + " of her";
  std::ofstream(root_ + "/photos/Beyond.jpg") << "not a picture";
}

TestTree::~TestTree() {
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

std::string TestTree::OnDisk(const std::string& rel) const {
  for (const TreeFile& f : TreeFiles())
    if (f.rel == rel && f.gbk) return GbkPath(rel);
  return rel;
}

void TestTree::Write(const std::string& rel, const std::string& bytes) const {
  fs::create_directories(fs::path(Songs()) / fs::path(OnDisk(rel)).parent_path());
  std::ofstream(Songs() + "/" + OnDisk(rel), std::ios::binary) << bytes;
}

void TestTree::Move(const std::string& from, const std::string& to) const {
  fs::create_directories(fs::path(Songs()) / fs::path(to).parent_path());
  fs::rename(Songs() + "/" + OnDisk(from), Songs() + "/" + to);
}

void TestTree::Remove(const std::string& rel) const {
  fs::remove(Songs() + "/" + OnDisk(rel));
}

void TestTree::AddVideos(const std::string& goodRel, const std::string& brokenRel) const {
  const std::string& videos = VideoFolder();
  fs::create_directories(fs::path(Songs()) / fs::path(goodRel).parent_path());
  fs::create_directories(fs::path(Songs()) / fs::path(brokenRel).parent_path());
  fs::copy_file(videos + "/good.mp4", Songs() + "/" + goodRel);
  fs::copy_file(videos + "/broken.mp4", Songs() + "/" + brokenRel);
}

ImportOptions TestTree::Options() const {
  ImportOptions o;
  o.sources = {Songs(), root_ + "/singers.csv"};
  o.share = "\\\\ktv\\quorvod";
  o.shareRoot = Songs();
  o.photos = root_ + "/photos";
  o.photoDir = root_ + "/Photo";
  o.db = root_ + "/catalogue.db";
  return o;
}

std::unique_ptr<TestCatalogue> TestCatalogue::Create(Flavour flavour, const std::string& name,
                                                     const std::string& folder,
                                                     std::string& whyNot) {
  if (flavour == Flavour::Sqlite)
    return std::make_unique<SqliteCatalogue>(folder + "/catalogue.db");
  auto* server = server::testing::MariaDbTestServer::Shared(whyNot);
  if (server == nullptr) return nullptr;
  std::string database = "imp_";
  for (const char c : name)
    database +=
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ? c : '_';
  return std::make_unique<MariaDbCatalogue>(*server, database.substr(0, 60));
}

bool TestCatalogue::HasTables() const {
  const std::string sql = Kind() == Flavour::Sqlite
                              ? "select name from sqlite_master where name = 'vodinfo'"
                              : "select table_name from information_schema.tables where "
                                "table_schema = database() and table_name = 'vodinfo'";
  return !Rows(sql).empty();
}

std::vector<std::string> TestCatalogue::Dump() const {
  std::vector<std::string> out;
  if (!HasTables()) return out;
  for (const char* sql :
       {"select * from vodinfo order by SINGID", "select * from singer order by SINGNAME",
        "select * from catalogue_meta order by NAME",
        "select * from retired_numbers order by SINGID"}) {
    out.push_back(sql);
    for (std::string& row : Rows(sql)) out.push_back(std::move(row));
  }
  return out;
}

std::string ReadFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace quor::tools::catalogue::test
