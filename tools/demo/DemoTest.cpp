#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QImage>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>

#include "DemoBuilder.h"
#include "Initials.h"
#include "Names.h"
#include "data/CatalogueStatements.h"
#include "platform/Codepage.h"

namespace quor::tools::demo {
namespace {

namespace fs = std::filesystem;

std::string Program() {
  return std::string(std::getenv("QUOR_BIN_DIR")) + "/quorvod-make-demo";
}

int RunDemo(const std::string& args) {
  const int rc = std::system((Program() + " " + args + " >/dev/null 2>&1").c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

std::string Capture(const std::string& cmd) {
  std::string out;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char buf[256];
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    pclose(p);
  }
  return out;
}

class DemoCatalogue : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new std::string(::testing::TempDir() + "quor-demo-" + std::to_string(getpid()));
    fs::remove_all(*dir_);
    ASSERT_EQ(RunDemo(*dir_ + " --songs 400"), 0);
  }
  static void TearDownTestSuite() {
    fs::remove_all(*dir_);
    delete dir_;
  }
  void SetUp() override {
    ASSERT_EQ(sqlite3_open((*dir_ + "/catalogue.db").c_str(), &db_), SQLITE_OK);
  }
  void TearDown() override { sqlite3_close(db_); }

  // Every row of a query as text columns joined by '|'.
  std::vector<std::string> Rows(const char* sql) {
    std::vector<std::string> out;
    sqlite3_stmt* s = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db_, sql, -1, &s, nullptr), SQLITE_OK) << sql;
    while (sqlite3_step(s) == SQLITE_ROW) {
      std::string row;
      for (int c = 0; c < sqlite3_column_count(s); ++c) {
        if (c) row += '|';
        if (const auto* t = sqlite3_column_text(s, c)) row += reinterpret_cast<const char*>(t);
      }
      out.push_back(row);
    }
    sqlite3_finalize(s);
    return out;
  }

  static std::string* dir_;
  sqlite3* db_ = nullptr;
};
std::string* DemoCatalogue::dir_ = nullptr;

TEST_F(DemoCatalogue, SingersHaveCategoriesUniqueNamesAndPhotos) {
  const auto singers = Rows("select SEX, SINGNAME, Path from singer");
  EXPECT_GE(singers.size(), 60u);
  std::set<std::string> sexes, names;
  for (const std::string& row : singers) {
    const auto a = row.find('|'), b = row.rfind('|');
    sexes.insert(row.substr(0, a));
    names.insert(row.substr(a + 1, b - a - 1));
    const std::string path = row.substr(b + 1);
    ASSERT_EQ(path.rfind("Photo\\", 0), 0u) << path;
    const QImage photo(QString::fromStdString(*dir_ + "/Photo/" + path.substr(6)));
    ASSERT_FALSE(photo.isNull()) << path;
    EXPECT_EQ(photo.size(), QSize(113, 153));
  }
  EXPECT_EQ(sexes, (std::set<std::string>{"男", "女", "组合"}));
  EXPECT_EQ(names.size(), singers.size());
  // The statements of the screen find them (double-quoted literals).
  EXPECT_EQ(Rows("select * from singer where SEX=\"组合\"").size(),
            static_cast<std::size_t>(kGroupSingers));
}

TEST_F(DemoCatalogue, EveryStatementOfTheTerminalSearchesAnIndex) {
  // The statements exactly as the terminal sends them (GBK on the wire,
  // UTF-8 in the catalogue), each answered from an index, none by a scan.
  using namespace quor::data;
  auto utf8 = [](const std::string& gbk) { return platform::GbkToUtf8(gbk); };
  const std::string g = platform::Utf8ToGbk("刘德华");
  const std::vector<std::string> statements = {
      utf8(SingerStatement(SingerCategory::Male)),
      utf8(SongsOfSingerSlot1Statement(g)),
      utf8(SongsOfSingerStatement(g)),
      utf8(SongsOfTypeStatement(platform::Utf8ToGbk("流行"))),
      utf8(SongsOfLanguageStatement(platform::Utf8ToGbk("国语"))),
      SongByNumberStatement("10001"),
      SongsByLettersStatement("WQS"),
      SongsByLettersStatement("A"),
      MediaPathStatement("10001 "),
  };
  for (const std::string& sql : statements) {
    std::string plan;
    for (const std::string& row : Rows(("explain query plan " + sql).c_str())) plan += row + "\n";
    EXPECT_NE(plan.find("SEARCH"), std::string::npos) << sql << "\n" << plan;
    EXPECT_EQ(plan.find("SCAN"), std::string::npos) << sql << "\n" << plan;
    // The song lists read the index alone (the singer pages read every
    // column of the small singer table).
    if (sql.find("from vodinfo") != std::string::npos && sql.find("PATH1") == std::string::npos &&
        sql.find("SINGID=") == std::string::npos)
      EXPECT_NE(plan.find("COVERING INDEX"), std::string::npos) << sql << "\n" << plan;
  }
}

TEST_F(DemoCatalogue, SongsAreAnImportOfTheSongFilesTheDemoWrote) {
  const auto songs = Rows(
      "select SINGID, SINGNAME, SINGER, TYPE, SONGLANGUAGE, FIRSTWORD, PATH1 from vodinfo order by "
      "SINGID");
  ASSERT_EQ(songs.size(), 400u);
  const std::set<std::string> types(kTypes.begin(), kTypes.end());
  const std::set<std::string> languages(kLanguages.begin(), kLanguages.end());
  std::set<std::string> seenTypes, seenLanguages;
  std::map<std::string, std::string> videoOfLength;  // seconds -> one song file of that length
  // PATH1: \\quorvod\quorvod\songs\<language>\<singer>-<title>-<category>-<seconds>s.mp4
  const std::regex shape(
      R"((\d{5})\|([^|]+)\|([^|]+)\|([^|]+)\|([^|]+)\|([A-Z]+)\|\\\\quorvod\\quorvod\\songs\\([^|\\]+)\\(([^|\\]+)-([^|\\-]+)-([^|\\-]+)-(\d+)s\.mp4))");
  catalogue::Initials initials;
  for (std::size_t i = 0; i < songs.size(); ++i) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(songs[i], m, shape)) << songs[i];
    EXPECT_EQ(std::stoll(m[1]), kFirstSongNumber + static_cast<std::int64_t>(i));
    EXPECT_EQ(initials.Of(m[2].str()), m[6].str()) << songs[i];
    // The row says what the file's name and folder say.
    EXPECT_EQ(m[9].str(), m[3].str());
    EXPECT_EQ(m[10].str(), m[2].str());
    EXPECT_EQ(m[11].str(), m[4].str());
    EXPECT_EQ(m[7].str(), m[5].str());
    EXPECT_EQ(Rows(("select 1 from singer where SINGNAME='" + m[3].str() + "'").c_str()).size(),
              1u);
    EXPECT_TRUE(types.count(m[4])) << songs[i];
    EXPECT_TRUE(languages.count(m[5])) << songs[i];
    seenTypes.insert(m[4]);
    seenLanguages.insert(m[5]);
    const std::string file = *dir_ + "/media/songs/" + m[7].str() + "/" + m[8].str();
    ASSERT_TRUE(fs::exists(file)) << file;
    videoOfLength.emplace(m[12].str(), file);
  }
  EXPECT_EQ(seenTypes, types);
  EXPECT_EQ(seenLanguages, languages);

  // The song files are the demo's videos: of the length their names say,
  // with two audio channels.
  ASSERT_EQ(videoOfLength.size(), DemoVideos().size());
  for (const auto& [seconds, file] : videoOfLength) {
    const std::string probe = Capture(
        "ffprobe -v error -select_streams a -show_entries stream=channels -show_entries "
        "format=duration -of csv=p=0 '" +
        file + "'");
    EXPECT_NE(probe.find("2\n"), std::string::npos) << probe;
    const double length = std::stod(probe.substr(probe.find('\n') + 1));
    EXPECT_NEAR(length, std::stod(seconds), 0.5) << probe;
  }
  // The import's indexes, the letters one usable by the keypad's like.
  const auto indexes = Rows(
      "select name from sqlite_master where type='index' and tbl_name in ('singer', "
      "'vodinfo') order by name");
  EXPECT_EQ(indexes,
            (std::vector<std::string>{"singer_sex", "vodinfo_firstword", "vodinfo_language",
                                      "vodinfo_singer", "vodinfo_type"}));
  const auto plan = Rows(
      "explain query plan select SINGID,SINGNAME,SINGER from vodinfo where FIRSTWORD like \"YL%\"");
  ASSERT_EQ(plan.size(), 1u);
  EXPECT_NE(plan[0].find("COVERING INDEX vodinfo_firstword"), std::string::npos) << plan[0];
}

TEST(DemoCommandLine, RefusesBadArgumentsAndReplacesAnOldCatalogue) {
  EXPECT_EQ(RunDemo(""), 2);
  EXPECT_EQ(RunDemo("x --songs"), 2);
  EXPECT_EQ(RunDemo("x --songs ten"), 2);
  EXPECT_EQ(RunDemo("x --frobnicate"), 2);
  EXPECT_EQ(RunDemo("x --video-seconds 0"), 2);
  EXPECT_EQ(RunDemo("x --video-seconds 3601"), 2);
  const std::string dir = ::testing::TempDir() + "quor-demo-small-" + std::to_string(getpid());
  EXPECT_EQ(RunDemo(dir + " --songs 0 --no-video --no-photos"), 1);
  ASSERT_EQ(RunDemo(dir + " --songs 5 --no-video --no-photos"), 0);
  ASSERT_EQ(RunDemo(dir + " --songs 7 --no-video --no-photos"), 0);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((dir + "/catalogue.db").c_str(), &db), SQLITE_OK);
  sqlite3_stmt* s = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "select count(*) from vodinfo", -1, &s, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(s, 0), 7);
  sqlite3_finalize(s);
  sqlite3_close(db);
  EXPECT_FALSE(fs::exists(dir + "/catalogue.db.part"));
  fs::remove_all(dir);
}

TEST(DemoVideos, ShortVideosOfTheirOwnColours) {
  const auto videos = DemoVideos(3);
  ASSERT_EQ(videos.size(), 4u);
  std::set<unsigned> colours;
  for (std::size_t i = 0; i < videos.size(); ++i) {
    EXPECT_EQ(videos[i].file, "demo-0" + std::to_string(i + 1) + "-3s.mp4");
    EXPECT_EQ(videos[i].seconds, 3);
    colours.insert(videos[i].fromRgb);
  }
  EXPECT_EQ(colours.size(), videos.size());
  EXPECT_EQ(DemoVideos().front().file, "demo-01-15s.mp4");
}

}  // namespace
}  // namespace quor::tools::demo
