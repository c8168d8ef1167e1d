// The provider's packets as the terminal's engine takes them: a whole result,
// a result in packets of one row (the further packets carry rows only and
// must fit the sizes of the first), and the empty room request layout.

#include <gtest/gtest.h>

#include <cstring>

#include "engine/Store.h"
#include "server/Provider.h"
#include "tests/server/SqlTestCatalogue.h"

namespace quor::server {
namespace {

class EngineAcceptsPacketsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string whyNot;
    catalogue_ = testing::SqlTestCatalogue::Create(testing::Flavour::Sqlite, "", whyNot);
    backend_ = catalogue_->Open();
    backend_->EnsureRoomCallTable();
    for (auto& definition : StandardProviders()) {
      providers_.push_back(
          std::make_unique<Provider>(definition, [this]() -> SqlBackend& { return *backend_; }));
    }
  }

  static engine::Status Append(engine::Store& store, const RecordsAnswer& answer, bool last) {
    return store.AppendPacket(answer.packet->data(),
                              static_cast<std::uint32_t>(answer.packet->size()), last ? -1 : 0);
  }

  static engine::DSProps Props(engine::Store& store) {
    engine::DSProps props{};
    store.GetProps(&props);
    return props;
  }

  std::unique_ptr<testing::SqlTestCatalogue> catalogue_;
  std::unique_ptr<SqlBackend> backend_;
  std::vector<std::unique_ptr<Provider>> providers_;
};

TEST_F(EngineAcceptsPacketsTest, TakesAWholeResult) {
  engine::Store store;
  const auto answer = providers_[0]->GetRecords(-1, 1, "select * from vodinfo");
  ASSERT_EQ(Append(store, answer, true), engine::kStatusOk);
  const auto props = Props(store);
  EXPECT_EQ(props.rowCount, 25u);
  EXPECT_EQ(props.fieldCount, 7u);
  EXPECT_TRUE(props.readOnly);
}

TEST_F(EngineAcceptsPacketsTest, TakesAResultInOneRowPacketsWhateverTheLaterValues) {
  std::string longTitle;
  for (int i = 0; i < 50; ++i) longTitle += "歌";
  catalogue_->Admin("insert into vodinfo values (20001, 'a', 'b', 't', 'l', 'f', 'p'), (20002, '" +
                    longTitle + "', '" + longTitle + "', 't', 'l', 'f', '" + longTitle + "')");
  engine::Store store;
  // The default statement of the path lookup's dataset at window show.
  auto answer = providers_[0]->GetRecords(1, 1, "select * from vodinfo where SINGID > 20000");
  ASSERT_EQ(Append(store, answer, false), engine::kStatusOk);
  answer = providers_[0]->GetRecords(1, 0, "");
  ASSERT_EQ(answer.recsOut, 1);
  ASSERT_EQ(Append(store, answer, false), engine::kStatusOk);
  answer = providers_[0]->GetRecords(1, 0, "");
  ASSERT_EQ(answer.recsOut, 0);
  ASSERT_EQ(Append(store, answer, true), engine::kStatusOk);
  EXPECT_EQ(Props(store).rowCount, 2u);
}

TEST_F(EngineAcceptsPacketsTest, DescribesTheRoomRequestLayoutWithRoomForARoomName) {
  engine::Store store;
  const auto answer = providers_[2]->GetRecords(-1, 1, "");
  ASSERT_EQ(Append(store, answer, true), engine::kStatusOk);
  const auto props = Props(store);
  EXPECT_EQ(props.rowCount, 0u);
  EXPECT_FALSE(props.readOnly);
  std::vector<engine::DSFieldDesc> descs(props.fieldCount);
  ASSERT_EQ(store.GetFieldDescs(descs.data()), engine::kStatusOk);
  ASSERT_EQ(descs.size(), 3u);
  EXPECT_STREQ(descs[0].name, "ClientName");
  // However the engine presents the text (as GBK for the terminal), a room
  // name of 64 characters fits.
  EXPECT_TRUE(descs[0].type == engine::FieldType::kText16 ||
              descs[0].type == engine::FieldType::kText8);
  EXPECT_GE(descs[0].size, 128u);
}

}  // namespace
}  // namespace quor::server
