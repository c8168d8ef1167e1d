// The desk's tables in a real database of either kind: tickets from presses,
// acknowledge and done as several desks race for them, rooms, songs played,
// staff accounts, and the server's own bound statements under them.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "server/console/DeskStore.h"
#include "tests/server/SqlTestCatalogue.h"

namespace quor::server::console {
namespace {

using server::testing::Flavour;
using server::testing::SqlTestCatalogue;

class ConsoleStoreTest : public ::testing::TestWithParam<Flavour> {
 protected:
  void SetUp() override {
    std::string whyNot;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    catalogue_ = SqlTestCatalogue::Create(GetParam(), info->name(), whyNot);
    if (!catalogue_) GTEST_SKIP() << "MariaDB tests skipped: " << whyNot;
    catalogue_->Open()->EnsureRoomCallTable();
    store_ = Store();
    store_->EnsureTables();
  }
  std::unique_ptr<DeskStore> Store() const {
    return std::make_unique<DeskStore>(catalogue_->Open(), GetParam() == Flavour::MariaDb);
  }

  std::unique_ptr<SqlTestCatalogue> catalogue_;
  std::unique_ptr<DeskStore> store_;
};

TEST_P(ConsoleStoreTest, MakesItsTablesOnceAndBindsEveryValue) {
  store_->EnsureTables();  // a second start finds them
  Store()->EnsureTables();
  // A room name made to break a spliced statement is stored as it is.
  const std::string hostile = "x'); drop table deskcall; --\"";
  const auto id = store_->Press(hostile, "10.0.0.8", "10.0.0.8:4000", 1000);
  const auto call = store_->FindCall(id);
  ASSERT_TRUE(call);
  EXPECT_EQ(call->room, hostile);
  EXPECT_EQ(store_->Calls(0, 10).size(), 1u);
}

TEST_P(ConsoleStoreTest, AddsPressesToTheRoomsOpenCallUntilItIsDone) {
  const auto first = store_->Press("Room8", "10.0.0.8", "10.0.0.8:4000", 1000);
  EXPECT_EQ(store_->Press("Room8", "10.0.0.8", "10.0.0.8:4001", 2000), first);
  // Another room, or another PC with the same (default) name: calls of their own.
  const auto other = store_->Press("Room9", "10.0.0.8", "10.0.0.8:4000", 2500);
  const auto sameName = store_->Press("Room8", "10.0.0.9", "10.0.0.9:4000", 2600);
  EXPECT_NE(other, first);
  EXPECT_NE(sameName, first);

  auto call = store_->FindCall(first);
  ASSERT_TRUE(call);
  EXPECT_EQ(call->presses, 2);
  EXPECT_EQ(call->firstAt, 1000);
  EXPECT_EQ(call->lastAt, 2000);
  EXPECT_EQ(call->peer, "10.0.0.8:4001");
  EXPECT_EQ(call->state, CallState::kPending);

  // Acknowledged is still open: a press adds to it and it stays acknowledged.
  ASSERT_EQ(store_->Acknowledge(first, "张三", 3000).outcome, CallChange::kChanged);
  EXPECT_EQ(store_->Press("Room8", "10.0.0.8", "10.0.0.8:4001", 3500), first);
  call = store_->FindCall(first);
  EXPECT_EQ(call->presses, 3);
  EXPECT_EQ(call->state, CallState::kAcknowledged);

  ASSERT_EQ(store_->Finish(first, "李四", 4000).outcome, CallChange::kChanged);
  const auto next = store_->Press("Room8", "10.0.0.8", "10.0.0.8:4001", 5000);
  EXPECT_NE(next, first) << "a press after done opens a new call";
}

TEST_P(ConsoleStoreTest, LetsOnlyOneDeskAcknowledgeAndNamesWhoDid) {
  const auto id = store_->Press("Room8", "10.0.0.8", "10.0.0.8:4000", 1000);
  auto otherDesk = Store();  // a second server's console over the same database
  const auto mine = store_->Acknowledge(id, "张三", 2000);
  const auto theirs = otherDesk->Acknowledge(id, "李四", 2001);
  EXPECT_EQ(mine.outcome, CallChange::kChanged);
  EXPECT_EQ(mine.call.state, CallState::kAcknowledged);
  EXPECT_EQ(mine.call.ackBy, "张三");
  EXPECT_EQ(mine.call.ackAt, 2000);
  EXPECT_EQ(theirs.outcome, CallChange::kConflict);
  EXPECT_EQ(theirs.call.ackBy, "张三");
  EXPECT_EQ(store_->Acknowledge(999999, "张三", 2000).outcome, CallChange::kNotFound);
  EXPECT_EQ(store_->Finish(999999, "张三", 2000).outcome, CallChange::kNotFound);

  // Done straight from pending counts as answered by whoever finished it.
  const auto quick = store_->Press("Room9", "10.0.0.9", "10.0.0.9:4000", 1000);
  const auto done = store_->Finish(quick, "王五", 1500);
  EXPECT_EQ(done.call.state, CallState::kDone);
  EXPECT_EQ(done.call.ackBy, "王五");
  EXPECT_EQ(done.call.ackAt, 1500);
  EXPECT_EQ(done.call.doneAt, 1500);
  EXPECT_EQ(store_->Finish(quick, "张三", 1600).outcome, CallChange::kConflict);
  EXPECT_EQ(store_->Acknowledge(quick, "张三", 1600).outcome, CallChange::kConflict);
}

TEST_P(ConsoleStoreTest, ListsOpenCallsAndTheCallsDoneSinceTheDayBegan) {
  const auto old = store_->Press("R1", "10.0.0.1", "p", 100);
  store_->Finish(old, "a", 200);  // done before "today"
  const auto today = store_->Press("R2", "10.0.0.2", "p", 1000);
  store_->Finish(today, "a", 1100);
  const auto open = store_->Press("R3", "10.0.0.3", "p", 50);  // open since yesterday
  const auto acked = store_->Press("R4", "10.0.0.4", "p", 1200);
  store_->Acknowledge(acked, "a", 1300);
  std::vector<std::int64_t> ids;
  for (const Call& call : store_->Calls(1000, 10)) ids.push_back(call.id);
  EXPECT_THAT(ids, ::testing::ElementsAre(acked, open, today));
  EXPECT_EQ(store_->Calls(1000, 0).size(), 2u) << "the limit counts done calls only";

  const auto perRoom = store_->CallsPerRoom(1000);
  ASSERT_EQ(perRoom.size(), 2u);
  const auto answered = store_->AnsweredCalls(1000, 10);
  ASSERT_EQ(answered.size(), 2u);
  EXPECT_EQ(answered[0].id, acked);
  EXPECT_EQ(answered[0].ackAt - answered[0].firstAt, 100);
}

TEST_P(ConsoleStoreTest, KeepsRoomNamesAndSightings) {
  store_->RoomSeen("10.0.0.8", "", "srv:211", 1000);
  store_->RoomSeen("10.0.0.8", "Room8", "srv:211", 2000);
  store_->RoomSeen("10.0.0.8", "", "srv:211", 3000);  // a disconnection keeps the name
  store_->SetRoomName("10.0.0.8", "VIP 厅");
  store_->SetRoomName("10.0.0.9", "包厢9");  // named before it was ever seen
  const auto rooms = store_->Rooms();
  ASSERT_EQ(rooms.size(), 2u);
  EXPECT_EQ(rooms[0].address, "10.0.0.8");
  EXPECT_EQ(rooms[0].name, "VIP 厅");
  EXPECT_EQ(rooms[0].clientName, "Room8");
  EXPECT_EQ(rooms[0].lastSeen, 3000);
  EXPECT_EQ(rooms[1].name, "包厢9");
  EXPECT_EQ(rooms[1].server, "");
  store_->SetRoomName("10.0.0.8", "");
  EXPECT_EQ(store_->Rooms()[0].name, "");
  // A name longer than the column is cut at a character, not mid-character.
  store_->SetRoomName("10.0.0.9", std::string(70, 'x'));
  EXPECT_EQ(store_->Rooms()[1].name, std::string(64, 'x'));
  store_->RoomSeen("10.0.0.9", std::string(63, 'y') + "包厢", "srv:211", 1);
  EXPECT_EQ(store_->Rooms()[1].clientName, std::string(63, 'y') + "包");
}

TEST_P(ConsoleStoreTest, CountsTheSongsRoomsStartedAndFindsTheirTitles) {
  store_->RecordPlay("10.0.0.8", 10002, 1000);
  store_->RecordPlay("10.0.0.9", 10002, 1001);
  store_->RecordPlay("10.0.0.9", 10001, 1002);
  store_->RecordPlay("10.0.0.9", 10003, 10);  // before the day began
  const auto top = store_->TopSongs(1000, 10);
  ASSERT_EQ(top.size(), 2u);
  EXPECT_EQ(top[0].singId, 10002);
  EXPECT_EQ(top[0].plays, 2);
  EXPECT_EQ(top[1].singId, 10001);
  const auto song = store_->Song(10001);
  ASSERT_TRUE(song);
  EXPECT_EQ(song->title, server::testing::kSongTitles[0]);
  EXPECT_FALSE(store_->Song(424242));
}

TEST_P(ConsoleStoreTest, StoresStaffAccountsAndReplacesAPassword) {
  EXPECT_EQ(store_->StaffCount(), 0);
  EXPECT_FALSE(store_->StaffHash("desk"));
  EXPECT_TRUE(store_->PutStaff("desk", "$argon2id$one", 1));
  EXPECT_FALSE(store_->PutStaff("desk", "$argon2id$two", 2));
  EXPECT_EQ(store_->StaffHash("desk"), "$argon2id$two");
  EXPECT_EQ(store_->StaffCount(), 1);
  EXPECT_FALSE(store_->StaffHash("DESK' or '1'='1"));
}

TEST_P(ConsoleStoreTest, StoresABatchAsAWholeOrNotAtAll) {
  EXPECT_THROW(store_->Transaction([&] {
    store_->Press("Room8", "10.0.0.8", "p", 1000);
    store_->RecordPlay("10.0.0.8", 10001, 1000);
    throw SqlError("the database went away");
  }),
               SqlError);
  EXPECT_TRUE(store_->Calls(0, 10).empty());
  EXPECT_TRUE(store_->TopSongs(0, 10).empty());
  store_->Transaction([&] { store_->Press("Room8", "10.0.0.8", "p", 1000); });
  EXPECT_EQ(Store()->Calls(0, 10).size(), 1u) << "another connection sees what was committed";
  // A room request of a session goes in beside the desk's transactions.
  auto session = catalogue_->Open();
  session->InsertRow("roomcall", {"ClientName", "CalledAt", "Peer"},
                     {SqlText{"Room8"}, SqlText{"2026-12-08 02:00:00"}, SqlText{"p"}});
  store_->Transaction([&] { store_->Press("Room8", "10.0.0.8", "p", 2000); });
  EXPECT_EQ(store_->Calls(0, 10)[0].presses, 2);
}

INSTANTIATE_TEST_SUITE_P(Backends, ConsoleStoreTest,
                         ::testing::Values(Flavour::Sqlite, Flavour::MariaDb),
                         [](const auto& info) {
                           return info.param == Flavour::Sqlite ? "Sqlite" : "MariaDb";
                         });

}  // namespace
}  // namespace quor::server::console
