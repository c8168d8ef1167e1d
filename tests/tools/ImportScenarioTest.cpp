// A venue's tree into a real catalogue of either kind (a SQLite file, a real
// MariaDB server), and again after the venue moved, renamed, added and lost
// files.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "ImportTestKit.h"

namespace quor::tools::catalogue::test {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::HasSubstr;

class ImportScenario : public ::testing::TestWithParam<Flavour> {
 protected:
  void SetUp() override {
    std::string whyNot;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    catalogue_ = TestCatalogue::Create(GetParam(), info->name(), tree_.Root(), whyNot);
    if (catalogue_ == nullptr) GTEST_SKIP() << whyNot;
    options_ = tree_.Options();
    catalogue_->Use(options_);
  }
  ImportReport Import() { return RunImport(options_, nullptr); }
  // SINGID and the other columns of the song at a path of the tree.
  std::map<std::string, std::string> Song(const std::string& rel) {
    const auto rows = catalogue_->Rows(
        "select SINGID, SINGNAME, SINGER, TYPE, SONGLANGUAGE, FIRSTWORD, MISSING from vodinfo "
        "where PATH1 = '" +
        UncOf(rel) + "'");
    if (rows.size() != 1) return {};
    std::map<std::string, std::string> out;
    const char* names[] = {"SINGID",       "SINGNAME",  "SINGER", "TYPE",
                           "SONGLANGUAGE", "FIRSTWORD", "MISSING"};
    std::size_t from = 0;
    for (const char* name : names) {
      const auto bar = rows[0].find('|', from);
      out[name] = rows[0].substr(from, bar - from);
      from = bar + 1;
    }
    return out;
  }
  std::size_t Count(const std::string& where = "1=1") {
    return std::stoul(catalogue_->Rows("select count(*) from vodinfo where " + where).at(0));
  }

  TestTree tree_;
  std::unique_ptr<TestCatalogue> catalogue_;
  ImportOptions options_;
};

TEST_P(ImportScenario, AFirstImportFillsBothTablesAndReportsWhatItCouldNotRead) {
  const ImportReport r = Import();
  const std::size_t files = TreeFiles().size();
  EXPECT_EQ(r.added, files);
  EXPECT_EQ(Count(), files);
  EXPECT_EQ(r.firstAssigned, 10001);
  EXPECT_EQ(r.lastAssigned, 10000 + static_cast<std::int64_t>(files));

  auto song = Song("国语/刘德华-忘情水.mpg");
  EXPECT_EQ(song["SINGNAME"], "忘情水");
  EXPECT_EQ(song["SINGER"], "刘德华");
  EXPECT_EQ(song["SONGLANGUAGE"], "国语");  // the folder's hint
  EXPECT_EQ(song["TYPE"], "其他");
  EXPECT_EQ(song["FIRSTWORD"], "WQS");
  song = Song("国语/王菲-红豆-国语-情歌.mp4");
  EXPECT_EQ(song["TYPE"], "情歌");
  // Names written in GBK, a folder name in GBK giving the hint.
  song = Song("粤语/张学友-一千个伤心的理由.mpg");
  EXPECT_EQ(song["SINGNAME"], "一千个伤心的理由");
  EXPECT_EQ(song["SINGER"], "張學友");  // the singers list's spelling
  EXPECT_EQ(song["FIRSTWORD"], "YQGSXDLY");
  song = Song("闽南语/叶启田-爱拼才会赢.mpg");
  EXPECT_EQ(song["SONGLANGUAGE"], "闽南");
  EXPECT_EQ(song["FIRSTWORD"], "APCHY");
  EXPECT_EQ(Song("少儿/群星-小兔子乖乖.mpg")["TYPE"], "少儿");
  EXPECT_EQ(Song("English/Celine Dion-My Heart Will Go On-英语-情歌.mkv")["FIRSTWORD"], "MHWGO");
  // A name that does not parse keeps its whole name as title.
  song = Song("杂项/无名歌曲.mpg");
  EXPECT_EQ(song["SINGNAME"], "无名歌曲");
  EXPECT_EQ(song["SINGER"], "");
  EXPECT_EQ(song["SONGLANGUAGE"], "其他");
  EXPECT_THAT(r.unparsed, Contains(UncOf("杂项/无名歌曲.mpg")));
  EXPECT_EQ(r.gbkNames, 2u);
  ASSERT_EQ(r.duplicates.size(), 1u);
  EXPECT_THAT(r.duplicates[0].why, HasSubstr(UncOf("备份/刘德华-忘情水.mpg")));
  EXPECT_THAT(r.singersWithoutRow, Contains("周杰伦"));

  // Singers from the GBK list, photos copied and found by name.
  EXPECT_EQ(catalogue_->Rows("select SEX, SINGNAME, Path from singer order by SEX, SINGNAME"),
            (std::vector<std::string>{"女|王菲|Photo\\王菲.jpg", "男|刘德华|Photo\\ldh.jpg",
                                      "男|叶启田|", "男|張學友|", "组合|Beyond|"}));
  EXPECT_TRUE(fs::exists(tree_.Root() + "/Photo/ldh.jpg"));
  EXPECT_TRUE(fs::exists(tree_.Root() + "/Photo/王菲.jpg"));
  EXPECT_EQ(r.photosCopied, 2u);
  bool warnedPicture = false, warnedSex = false;
  for (const Noted& w : r.warnings) {
    warnedPicture |= w.why.find("not a JPEG") != std::string::npos;
    warnedSex |= w.why.find("不详") != std::string::npos;
  }
  EXPECT_TRUE(warnedPicture);
  EXPECT_TRUE(warnedSex);

  // Every statement of the terminal has an index it can use.
  if (GetParam() == Flavour::Sqlite) {
    for (const char* sql :
         {"select * from singer where SEX=\"男\"",
          "select SINGID,SINGNAME,SINGER from vodinfo where Singer=\"刘德华\"",
          "select SINGID,SINGNAME,SINGER from vodinfo where TYPE='流行'",
          "select SINGID,SINGNAME,SINGER from vodinfo where SONGLANGUAGE='国语'",
          "select SINGID,SINGNAME,SINGER from vodinfo where FIRSTWORD like \"WQ%\"",
          "select PATH1 from vodinfo where SINGID=10001 "}) {
      const auto plan = catalogue_->Rows(std::string("explain query plan ") + sql);
      ASSERT_FALSE(plan.empty());
      EXPECT_THAT(plan[0], ::testing::AnyOf(HasSubstr("USING INDEX"), HasSubstr("COVERING INDEX"),
                                            HasSubstr("INTEGER PRIMARY KEY")))
          << sql;
    }
  } else {
    const std::pair<const char*, const char*> plans[] = {
        {"select * from singer where SEX=\"男\"", "singer_sex"},
        {"select SINGID,SINGNAME,SINGER from vodinfo where Singer=\"刘德华\"", "vodinfo_singer"},
        {"select SINGID,SINGNAME,SINGER from vodinfo where TYPE='流行'", "vodinfo_type"},
        {"select SINGID,SINGNAME,SINGER from vodinfo where SONGLANGUAGE='国语'",
         "vodinfo_language"},
        {"select SINGID,SINGNAME,SINGER from vodinfo where FIRSTWORD like \"WQ%\"",
         "vodinfo_firstword"},
        {"select PATH1 from vodinfo where SINGID=10001 ", "PRIMARY"}};
    for (const auto& [sql, index] : plans) {
      // EXPLAIN's possible_keys: the indexes the statement can use.
      const auto plan = catalogue_->Rows(std::string("explain ") + sql);
      ASSERT_EQ(plan.size(), 1u) << sql;
      EXPECT_THAT(plan[0], HasSubstr(index)) << sql << ": " << plan[0];
    }
  }
}

TEST_P(ImportScenario, ReimportsKeepNumbersThroughMovesRenamesAndAdditions) {
  Import();
  const auto before = [&](const std::string& rel) { return Song(rel)["SINGID"]; };
  const std::string kiss = before("粤语/张学友-吻别.mp4");
  const std::string rice = before("国语/周杰伦-稻香-流行.mpg");
  const std::string beans = before("国语/王菲-红豆-国语-情歌.mp4");
  const std::string gone = before("少儿/群星-小兔子乖乖.mpg");
  const std::string changed = before("English/Celine Dion-My Heart Will Go On-英语-情歌.mkv");

  tree_.Move("粤语/张学友-吻别.mp4", "情歌/张学友-吻别.mp4");                 // moved
  tree_.Move("国语/周杰伦-稻香-流行.mpg", "国语/周杰伦-稻香-国语-流行.mpg");  // renamed
  tree_.Remove("少儿/群星-小兔子乖乖.mpg");                                   // gone
  tree_.Write("English/Celine Dion-My Heart Will Go On-英语-情歌.mkv", "a longer file now");
  tree_.Write("国语/那英-征服.mpg", "new");  // new

  ImportReport r = Import();
  EXPECT_EQ(r.moved, 2u);
  EXPECT_EQ(r.added, 1u);
  EXPECT_EQ(r.updated, 1u);
  EXPECT_EQ(r.markedMissing, 1u);
  EXPECT_EQ(r.unchanged, TreeFiles().size() - 4);
  EXPECT_EQ(Song("情歌/张学友-吻别.mp4")["SINGID"], kiss);
  EXPECT_EQ(Song("情歌/张学友-吻别.mp4")["TYPE"], "情歌");  // the new folder's hint
  EXPECT_EQ(Song("国语/周杰伦-稻香-国语-流行.mpg")["SINGID"], rice);
  EXPECT_EQ(Song("国语/王菲-红豆-国语-情歌.mp4")["SINGID"], beans);
  EXPECT_EQ(Song("English/Celine Dion-My Heart Will Go On-英语-情歌.mkv")["SINGID"], changed);
  EXPECT_EQ(Song("国语/那英-征服.mpg")["SINGID"], std::to_string(10001 + TreeFiles().size()));
  auto lost = Song("少儿/群星-小兔子乖乖.mpg");
  EXPECT_EQ(lost["SINGID"], gone);  // kept, marked with the time it went missing
  EXPECT_NE(lost["MISSING"], "0");
  EXPECT_EQ(Count(), TreeFiles().size() + 1);

  // Back again: no longer missing, same number.
  tree_.Write("少儿/群星-小兔子乖乖.mpg", std::string(1000 + 37 * 10, 'v'));
  r = Import();
  EXPECT_EQ(r.returned, 1u);
  EXPECT_EQ(Song("少儿/群星-小兔子乖乖.mpg")["MISSING"], "0");

  // Pruned: deleted, and its number never given again.
  tree_.Remove("少儿/群星-小兔子乖乖.mpg");
  options_.prune = true;
  r = Import();
  EXPECT_EQ(r.pruned, 1u);
  EXPECT_TRUE(Song("少儿/群星-小兔子乖乖.mpg").empty());
  tree_.Write("国语/韩红-天路.mpg", "newer");
  r = Import();
  const std::string next = Song("国语/韩红-天路.mpg")["SINGID"];
  EXPECT_EQ(next, std::to_string(10002 + TreeFiles().size()));
  EXPECT_NE(next, gone);
  EXPECT_EQ(catalogue_->Rows("select SINGID from retired_numbers"), std::vector<std::string>{gone});

  // A number asked for by the name is given when it is free.
  options_.profile = "{number} {singer}-{title}";
  tree_.Write("国语/00777 毛阿敏-渴望.mpg", "numbered");
  r = Import();
  EXPECT_EQ(Song("国语/00777 毛阿敏-渴望.mpg")["SINGID"], "777");
  // Another profile reads every name again: the other 12 songs do not fit it,
  // and all but 无名歌曲 (which fitted no profile before either) change.
  EXPECT_EQ(r.updated, 11u);
  EXPECT_EQ(Song("国语/那英-征服.mpg")["SINGNAME"], "那英-征服");
}

TEST_P(ImportScenario, AShareThatLooksHalfGoneMarksNothing) {
  Import();
  // The share not mounted: its mount point is an empty folder.
  fs::rename(tree_.Songs(), tree_.Root() + "/songs.away");
  fs::create_directories(tree_.Songs());
  const std::vector<std::string> dump = catalogue_->Dump();
  ImportReport r = Import();
  EXPECT_TRUE(r.missingGuard);
  EXPECT_EQ(r.lookMissing, TreeFiles().size());
  EXPECT_EQ(r.markedMissing, 0u);
  EXPECT_EQ(Count("MISSING <> 0"), 0u);
  options_.prune = true;
  r = Import();
  EXPECT_TRUE(r.missingGuard);
  EXPECT_EQ(Count(), TreeFiles().size());

  // Fewer than half gone is marked; more than half with --force-missing too.
  fs::remove_all(tree_.Songs());
  fs::rename(tree_.Root() + "/songs.away", tree_.Songs());
  tree_.Remove("国语/刘德华-忘情水.mpg");
  options_.prune = false;
  r = Import();
  EXPECT_FALSE(r.missingGuard);
  EXPECT_EQ(r.markedMissing, 1u);
  // 5 more of 11: more than half missing.
  fs::remove_all(tree_.Songs() + "/粤语");  // two of its three files: one is named in GBK
  fs::remove_all(tree_.Songs() + "/国语");
  fs::remove_all(tree_.Songs() + "/English");
  r = Import();
  EXPECT_TRUE(r.missingGuard);
  EXPECT_EQ(Count("MISSING <> 0"), 1u);
  options_.forceMissing = true;
  r = Import();
  EXPECT_FALSE(r.missingGuard);
  EXPECT_EQ(r.markedMissing, 5u);
  EXPECT_EQ(Count("MISSING <> 0"), 6u);
}

TEST_P(ImportScenario, ADryRunChangesNothingAndShowsWhatItWouldDo) {
  options_.dryRun = true;
  ImportReport r = Import();
  EXPECT_TRUE(r.dryRun);
  EXPECT_EQ(r.added, TreeFiles().size());
  EXPECT_EQ(r.parsedSample.size(), std::min<std::size_t>(options_.sampleSize, TreeFiles().size()));
  EXPECT_FALSE(catalogue_->HasTables());  // not even the tables
  EXPECT_FALSE(fs::exists(tree_.Root() + "/Photo"));
  if (GetParam() == Flavour::Sqlite) EXPECT_FALSE(fs::exists(options_.db));

  options_.dryRun = false;
  Import();
  const std::vector<std::string> dump = catalogue_->Dump();
  tree_.Remove("国语/刘德华-忘情水.mpg");
  tree_.Write("国语/那英-征服.mpg", "new");
  options_.dryRun = true;
  r = Import();
  EXPECT_EQ(r.added, 1u);
  EXPECT_EQ(r.markedMissing, 1u);
  ASSERT_EQ(r.addedSample.size(), 1u);
  EXPECT_EQ(r.addedSample[0].title, "征服");
  EXPECT_EQ(catalogue_->Dump(), dump);
}

TEST_P(ImportScenario, AnInterruptedRunChangesNothing) {
  std::atomic<bool> cancel{false};
  auto stopWhileWriting = [&](const std::string& stage, std::uint64_t, std::uint64_t) {
    if (stage == "writing") cancel = true;
  };
  EXPECT_THROW(RunImport(options_, stopWhileWriting, &cancel), ImportInterrupted);
  if (GetParam() == Flavour::Sqlite) EXPECT_FALSE(catalogue_->HasTables());
  EXPECT_EQ(catalogue_->Dump().size(), catalogue_->HasTables() ? 4u : 0u);  // no row anywhere

  cancel = false;
  Import();
  const std::vector<std::string> dump = catalogue_->Dump();
  tree_.Remove("国语/刘德华-忘情水.mpg");
  tree_.Write("国语/那英-征服.mpg", "new");
  tree_.Move("粤语/张学友-吻别.mp4", "情歌/张学友-吻别.mp4");
  EXPECT_THROW(RunImport(options_, stopWhileWriting, &cancel), ImportInterrupted);
  EXPECT_EQ(catalogue_->Dump(), dump);
  // Stopped while walking, too.
  cancel = false;
  auto stopWhileScanning = [&](const std::string& stage, std::uint64_t, std::uint64_t) {
    if (stage == "parsing") cancel = true;
  };
  EXPECT_THROW(RunImport(options_, stopWhileScanning, &cancel), ImportInterrupted);
  EXPECT_EQ(catalogue_->Dump(), dump);
}

TEST_P(ImportScenario, ProbingLearnsDurationAndVocalAndLeavesBrokenFilesOut) {
  tree_.AddVideos("测试/测试歌手-真的视频.mp4", "测试/测试歌手-坏的视频.mp4");
  options_.probe = true;
  options_.probeSeconds = 10;
  ImportReport r = Import();
  // The tree's other files hold no video at all: they are left out too.
  EXPECT_EQ(r.added, 1u);
  ASSERT_EQ(r.notImported.size(), TreeFiles().size() + 1);
  bool brokenReported = false;
  for (const Noted& n : r.notImported)
    brokenReported |= n.what == UncOf("测试/测试歌手-坏的视频.mp4");
  EXPECT_TRUE(brokenReported);
  const auto rows =
      catalogue_->Rows("select SINGNAME, DURATION, VOCAL from vodinfo where PATH1 = '" +
                       UncOf("测试/测试歌手-真的视频.mp4") + "'");
  ASSERT_EQ(rows.size(), 1u);
  const auto bar = rows[0].find('|');
  EXPECT_EQ(rows[0].substr(0, bar), "真的视频");
  const int ms = std::stoi(rows[0].substr(bar + 1));
  EXPECT_NEAR(ms, 2000, 200);
  EXPECT_THAT(rows[0], ::testing::EndsWith("|stereo"));
  // Unchanged files are not opened again.
  r = Import();
  EXPECT_EQ(r.unchanged, 1u);
}

INSTANTIATE_TEST_SUITE_P(Databases, ImportScenario,
                         ::testing::Values(Flavour::Sqlite, Flavour::MariaDb),
                         [](const auto& info) {
                           return info.param == Flavour::Sqlite ? "Sqlite" : "MariaDb";
                         });

}  // namespace
}  // namespace quor::tools::catalogue::test
