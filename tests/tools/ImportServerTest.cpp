// The imported catalogue as the room terminal meets it: the real
// quorvod-server on the catalogue (SQLite file or MariaDB), the terminal's
// data module, and its own statements, by singer, category, language,
// letters and number, and the path lookup of the player.

#include <gtest/gtest.h>

#include <set>

#include "DataTestSupport.h"
#include "ImportTestKit.h"
#include "data/CatalogueStatements.h"

namespace quor::tools::catalogue::test {
namespace {

using data::test::G;
using data::test::U;

class ImportedCatalogueThroughTheServer : public ::testing::TestWithParam<Flavour> {
 protected:
  void SetUp() override {
    data::test::UseBuiltEngine();
    std::string whyNot;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    catalogue_ =
        TestCatalogue::Create(GetParam(), std::string("srv_") + info->name(), tree_.Root(), whyNot);
    if (catalogue_ == nullptr) GTEST_SKIP() << whyNot;
    ImportOptions o = tree_.Options();
    catalogue_->Use(o);
    RunImport(o, nullptr);
    server_ = std::make_unique<data::test::ServerProcess>(catalogue_->ServerArguments(),
                                                          tree_.Root() + "/server.log");
    server_->Start();
    terminal_ = std::make_unique<data::test::TerminalFixture>(server_->Port());
  }
  void TearDown() override {
    terminal_.reset();
    server_.reset();
  }

  // The rows a statement brings to the song dataset, as "SINGID SINGER.SINGNAME".
  std::set<std::string> Songs(const std::string& statementGbk) {
    data::ClientDataSet& songs = *terminal_->dm->songClientDataSet;
    data::RunCatalogueQuery(songs, statementGbk);
    std::set<std::string> out;
    for (int i = 0; i < songs.RecordCount() && !songs.Eof(); ++i) {
      out.insert(U(songs.FieldByName("SINGID").AsString()) + " " +
                 U(songs.FieldByName("SINGER").AsString()) + "." +
                 U(songs.FieldByName("SINGNAME").AsString()));
      songs.Next();
    }
    return out;
  }
  std::string Number(const std::string& rel) {
    const auto rows =
        catalogue_->Rows("select SINGID from vodinfo where PATH1 = '" + UncOf(rel) + "'");
    return rows.empty() ? "" : rows[0];
  }

  TestTree tree_;
  std::unique_ptr<TestCatalogue> catalogue_;
  std::unique_ptr<data::test::ServerProcess> server_;
  std::unique_ptr<data::test::TerminalFixture> terminal_;
};

TEST_P(ImportedCatalogueThroughTheServer, TheTerminalsStatementsFindTheImportedSongs) {
  const std::string liu = Number("国语/刘德华-忘情水.mpg");
  const std::string liuCopy = Number("备份/刘德华-忘情水.mpg");
  const std::string zhang = Number("粤语/张学友-一千个伤心的理由.mpg");
  const std::string zhangKiss = Number("粤语/张学友-吻别.mp4");

  // Singer pages: the singers list's rows, by category.
  data::ClientDataSet& singers = *terminal_->dm->singerClientDataSet;
  data::RunCatalogueQuery(singers, data::SingerStatement(data::SingerCategory::Male));
  std::set<std::string> male;
  for (int i = 0; i < singers.RecordCount(); ++i, singers.Next())
    male.insert(U(singers.FieldByName("SINGNAME").AsString()) + " " +
                U(singers.FieldByName("Path").AsString()));
  EXPECT_EQ(male, (std::set<std::string>{"刘德华 Photo\\ldh.jpg", "叶启田 ", "張學友 "}));
  data::RunCatalogueQuery(singers, data::SingerStatement(data::SingerCategory::Group));
  EXPECT_EQ(U(singers.FieldByName("SINGNAME").AsString()), "Beyond");

  // A singer's songs from photo slot 1 and slots 2 to 6; the GBK-named file
  // and the traditional spelling of the list meet under one name.
  EXPECT_EQ(Songs(data::SongsOfSingerSlot1Statement(G("刘德华"))),
            (std::set<std::string>{liu + " 刘德华.忘情水", liuCopy + " 刘德华.忘情水"}));
  EXPECT_EQ(
      Songs(data::SongsOfSingerStatement(G("張學友"))),
      (std::set<std::string>{zhang + " 張學友.一千个伤心的理由", zhangKiss + " 張學友.吻别"}));

  // Category and language buttons.
  EXPECT_EQ(Songs(data::SongsOfTypeStatement(G("少儿"))),
            (std::set<std::string>{Number("少儿/群星-小兔子乖乖.mpg") + " 群星.小兔子乖乖"}));
  EXPECT_EQ(Songs(data::SongsOfLanguageStatement(G("闽南"))),
            (std::set<std::string>{Number("闽南语/叶启田-爱拼才会赢.mpg") + " 叶启田.爱拼才会赢"}));
  EXPECT_EQ(Songs(data::SongsOfLanguageStatement(G("粤语"))).size(), 3u);
  EXPECT_EQ(Songs(data::SongsOfTypeStatement(G("情歌"))).size(), 2u);

  // Letters typed on the keypad, as a prefix.
  EXPECT_EQ(Songs(data::SongsByLettersStatement("WQ")),
            (std::set<std::string>{liu + " 刘德华.忘情水", liuCopy + " 刘德华.忘情水"}));
  EXPECT_EQ(Songs(data::SongsByLettersStatement("YQGS")),
            (std::set<std::string>{zhang + " 張學友.一千个伤心的理由"}));
  EXPECT_TRUE(Songs(data::SongsByLettersStatement("QQQQ")).empty());

  // The five digits of the number keypad, and the player's path lookup.
  EXPECT_EQ(Songs(data::SongByNumberStatement(zhang)),
            (std::set<std::string>{zhang + " 張學友.一千个伤心的理由"}));
  data::ClientDataSet& play = *terminal_->dm->playClientDataSet;
  data::RunCatalogueQuery(play,
                          data::MediaPathStatement(zhang + " " + G("張學友.一千个伤心的理由")));
  EXPECT_EQ(U(play.FieldByName("PATH1").AsString()), UncOf("粤语/张学友-一千个伤心的理由.mpg"));
}

INSTANTIATE_TEST_SUITE_P(Databases, ImportedCatalogueThroughTheServer,
                         ::testing::Values(Flavour::Sqlite, Flavour::MariaDb),
                         [](const auto& info) {
                           return info.param == Flavour::Sqlite ? "Sqlite" : "MariaDb";
                         });

}  // namespace
}  // namespace quor::tools::catalogue::test
