#include <gtest/gtest.h>

#include <cstring>

#include "EngineTestSupport.h"
#include "platform/Codepage.h"

namespace quor::engine {
namespace {

using test::Append;
using test::Message;
using test::NewCursor;
using test::NewStore;
using test::RowReader;

// The room request layout: ClientName (UTF-16, required), Note (8-bit).
std::vector<std::uint8_t> RoomLayout(bool readOnly = false) {
  PacketWriter w(PacketKind::kData,
                 {FieldDef{"ClientName", FieldType::kText16, 40, kFieldRequired, {}},
                  FieldDef{"Note", FieldType::kText8, 8, 0, {}}});
  w.SetReadOnly(readOnly);
  return w.Finish();
}

class ChangeLog : public ::testing::Test {
 protected:
  void SetUp() override {
    store_ = NewStore();
    ASSERT_EQ(Append(store_.get(), RoomLayout()), kStatusOk);
    ASSERT_EQ(store_->SetProp(kPropWideText, 1), kStatusOk);
    cursor_ = NewCursor(store_.get());
    DSCursorProps p{};
    ASSERT_EQ(cursor_->GetCursorProps(&p), kStatusOk);
    row_.resize(p.rowBufferSize);
  }

  Status InsertRoom(const std::u16string& name) {
    const auto size = static_cast<std::uint32_t>(row_.size());
    if (const Status s = cursor_->BlankRow(row_.data(), size)) return s;
    std::vector<std::uint8_t> v(2 + name.size() * 2);
    v[0] = static_cast<std::uint8_t>(name.size() * 2);
    v[1] = static_cast<std::uint8_t>((name.size() * 2) >> 8);
    std::memcpy(v.data() + 2, name.data(), name.size() * 2);
    if (const Status s = cursor_->WriteField(row_.data(), size, 1, v.data(),
                                             static_cast<std::uint32_t>(v.size())))
      return s;
    return cursor_->InsertRow(row_.data(), size);
  }

  std::uint32_t Changes() {
    std::uint32_t n = 0;
    EXPECT_EQ(store_->GetProp(kPropChangeCount, &n), kStatusOk);
    return n;
  }

  std::vector<std::uint8_t> Delta() {
    IDSBase* raw = nullptr;
    EXPECT_EQ(store_->TakeDelta(&raw), kStatusOk);
    auto delta = Ref<IDSBase>::Adopt(raw);
    std::uint8_t* bytes = nullptr;
    std::uint32_t size = 0;
    EXPECT_EQ(delta->StreamPacket(&bytes, &size), kStatusOk);
    std::vector<std::uint8_t> out(bytes, bytes + size);
    delta->FreePacket(bytes);
    return out;
  }

  static std::vector<std::uint8_t> Rejected(std::initializer_list<int> rows) {
    PacketWriter e(PacketKind::kErrors, ErrorPacketFields());
    for (const int r : rows) {
      e.BeginRow();
      e.AddInt64(r);
      e.AddTextUtf8("rejected " + std::to_string(r));
      e.AddInt64(100 + r);
      e.AddTextUtf8("roomcall");
      e.EndRow();
    }
    return e.Finish();
  }

  Ref<IDSBase> store_;
  Ref<IDSCursor> cursor_;
  std::vector<std::uint8_t> row_;
};

TEST_F(ChangeLog, InsertedRowsAreStoredLoggedAndTravelAsADelta) {
  ASSERT_EQ(InsertRoom(u"Room1"), kStatusOk);
  ASSERT_EQ(InsertRoom(u"包房\U00020000"), kStatusOk);
  EXPECT_EQ(Changes(), 2u);
  UpdateStatus us{};
  ASSERT_EQ(cursor_->GetUpdateStatus(&us), kStatusOk);  // on the new row
  EXPECT_EQ(us, UpdateStatus::kInserted);
  std::uint32_t count = 0;
  ASSERT_EQ(cursor_->CountRows(&count), kStatusOk);
  EXPECT_EQ(count, 2u);

  // What the server reads from the delta.
  const auto delta = Delta();
  PacketReader r(delta);
  ASSERT_EQ(r.Kind(), PacketKind::kDelta);
  ASSERT_EQ(r.RowCount(), 2u);
  EXPECT_EQ(r.Fields()[0].name, "ClientName");
  EXPECT_EQ(r.Row(0).TextUtf8(0), "Room1");
  EXPECT_EQ(r.Row(1).Text16(0), u"包房\U00020000");
  EXPECT_TRUE(r.Row(0).IsNull(1));
  EXPECT_EQ(r.Row(0).Status(), UpdateStatus::kInserted);
  EXPECT_NE(r.Row(0).ChangeId(), r.Row(1).ChangeId());

  ASSERT_EQ(store_->AcceptChanges(), kStatusOk);
  EXPECT_EQ(Changes(), 0u);
  ASSERT_EQ(cursor_->GetUpdateStatus(&us), kStatusOk);
  EXPECT_EQ(us, UpdateStatus::kUnmodified);
  ASSERT_EQ(cursor_->CountRows(&count), kStatusOk);
  EXPECT_EQ(count, 2u);  // rows kept
  EXPECT_EQ(PacketReader(Delta()).RowCount(), 0u);
}

TEST_F(ChangeLog, ADeltaNamesItsLogAndWhenEachRowWasPosted) {
  const std::int64_t before = UnixTimeMs();
  ASSERT_EQ(InsertRoom(u"Room1"), kStatusOk);
  ASSERT_EQ(InsertRoom(u"Room2"), kStatusOk);
  const std::int64_t after = UnixTimeMs();

  // Taken twice (an answer was lost), the delta names the same log and the
  // same rows with the same posting times: a receiver can tell a repeat.
  const auto first = Delta();
  const auto again = Delta();
  PacketReader a(first);
  PacketReader b(again);
  const Param* log = a.FindParam(0, kChangeLogParam);
  ASSERT_NE(log, nullptr);
  EXPECT_EQ(log->value.size(), kChangeLogIdSize);
  ASSERT_NE(b.FindParam(0, kChangeLogParam), nullptr);
  EXPECT_EQ(b.FindParam(0, kChangeLogParam)->value, log->value);
  ASSERT_NE(a.FindParam(0, kDeltaTimeParam), nullptr);
  EXPECT_EQ(a.FindParam(0, kDeltaTimeParam)->value.size(), 8u);
  for (std::uint32_t r = 0; r < 2; ++r) {
    EXPECT_EQ(a.Row(r).ChangeId(), b.Row(r).ChangeId());
    EXPECT_EQ(a.Row(r).PostedAt(), b.Row(r).PostedAt());
    EXPECT_GE(a.Row(r).PostedAt(), before);
    EXPECT_LE(a.Row(r).PostedAt(), after);
  }

  // Another store is another log.
  auto other = NewStore();
  ASSERT_EQ(Append(other.get(), RoomLayout()), kStatusOk);
  store_ = other;
  cursor_ = NewCursor(store_.get());
  ASSERT_EQ(InsertRoom(u"Room1"), kStatusOk);
  const auto third = Delta();
  PacketReader c(third);
  ASSERT_NE(c.FindParam(0, kChangeLogParam), nullptr);
  EXPECT_NE(c.FindParam(0, kChangeLogParam)->value, log->value);
}

TEST_F(ChangeLog, StreamedStoreHoldsEveryRowAndReloads) {
  ASSERT_EQ(InsertRoom(u"A"), kStatusOk);
  std::uint8_t* bytes = nullptr;
  std::uint32_t size = 0;
  ASSERT_EQ(store_->StreamPacket(&bytes, &size), kStatusOk);
  const std::vector<std::uint8_t> packet(bytes, bytes + size);
  store_->FreePacket(bytes);
  auto copy = NewStore();
  ASSERT_EQ(Append(copy.get(), packet), kStatusOk);
  auto c = NewCursor(copy.get());
  ASSERT_EQ(copy->SetProp(kPropWideText, 1), kStatusOk);
  RowReader rr(c.get());
  ASSERT_EQ(c->MoveRelative(1), kStatusOk);
  ASSERT_EQ(rr.Copy(), kStatusOk);
  EXPECT_EQ(rr.Wide(1), u"A");
}

TEST_F(ChangeLog, InsertRulesAreEnforced) {
  const auto size = static_cast<std::uint32_t>(row_.size());
  ASSERT_EQ(cursor_->BlankRow(row_.data(), size), kStatusOk);
  Status s = cursor_->InsertRow(row_.data(), size);  // ClientName is required
  EXPECT_EQ(s, kErrorInvalidArgument);
  EXPECT_EQ(Message(store_.get(), s), "Field 'ClientName' must have a value");
  // Longer than the field's 8 bytes (8-bit text goes up to its NUL).
  s = cursor_->WriteField(row_.data(), size, 2, "123456789", 10);
  EXPECT_EQ(s, kErrorValueTooLong);
  EXPECT_EQ(Message(store_.get(), s), "Value of field 'Note' is longer than 8 bytes");
  EXPECT_EQ(cursor_->WriteField(row_.data(), size, 2, "12345678", 10), kStatusOk);
  EXPECT_EQ(Changes(), 0u);

  auto locked = NewStore();
  ASSERT_EQ(Append(locked.get(), RoomLayout(/*readOnly=*/true)), kStatusOk);
  auto c = NewCursor(locked.get());
  ASSERT_EQ(c->BlankRow(row_.data(), size), kStatusOk);
  EXPECT_EQ(c->InsertRow(row_.data(), size), kErrorReadOnly);
  DSCursorProps p{};
  ASSERT_EQ(c->GetCursorProps(&p), kStatusOk);
  EXPECT_TRUE(p.readOnly);
}

TEST_F(ChangeLog, NarrowModeWritesWideColumnsFromGbk) {
  ASSERT_EQ(store_->SetProp(kPropWideText, 0), kStatusOk);
  const auto size = static_cast<std::uint32_t>(row_.size());
  ASSERT_EQ(cursor_->BlankRow(row_.data(), size), kStatusOk);
  const std::string gbk = platform::Utf8ToGbk("包房8");
  ASSERT_EQ(cursor_->WriteField(row_.data(), size, 1, gbk.c_str(),
                                static_cast<std::uint32_t>(gbk.size() + 1)),
            kStatusOk);
  ASSERT_EQ(cursor_->InsertRow(row_.data(), size), kStatusOk);
  EXPECT_EQ(PacketReader(Delta()).Row(0).TextUtf8(0), "包房8");
}

TEST_F(ChangeLog, ReconcileSettlesAppliedRowsAndAsksAboutFailedOnes) {
  for (const char16_t* n : {u"R1", u"R2", u"R3", u"R4"}) ASSERT_EQ(InsertRoom(n), kStatusOk);
  const auto delta = Delta();
  struct Seen {
    std::vector<std::uint32_t> rows;
    std::vector<std::string> messages;
    std::vector<std::int32_t> codes;
    std::vector<ReconcileAction> answers;
  } seen;
  seen.answers = {ReconcileAction::kSkip, ReconcileAction::kCancel};
  const auto errors = Rejected({2, 4});
  auto callback = [](void* ctx, const ReconcileError& e) {
    auto* s = static_cast<Seen*>(ctx);
    s->rows.push_back(e.deltaRow);
    s->messages.push_back(std::string(e.message) + "@" + e.context);
    s->codes.push_back(e.errorCode);
    EXPECT_EQ(e.suggested, ReconcileAction::kSkip);
    return s->answers[s->rows.size() - 1];
  };
  ASSERT_EQ(store_->Reconcile(delta.data(), static_cast<std::uint32_t>(delta.size()), errors.data(),
                              static_cast<std::uint32_t>(errors.size()), callback, &seen),
            kStatusOk);
  EXPECT_EQ(seen.rows, (std::vector<std::uint32_t>{2, 4}));
  EXPECT_EQ(seen.messages[0], "rejected 2@roomcall");
  EXPECT_EQ(seen.codes[1], 104);
  // R1 and R3 went in; R2 was skipped (sent again); R4 was cancelled (gone).
  EXPECT_EQ(Changes(), 1u);
  const auto second = Delta();
  PacketReader again(second);
  ASSERT_EQ(again.RowCount(), 1u);
  EXPECT_EQ(again.Row(0).TextUtf8(0), "R2");
  std::uint32_t count = 0;
  ASSERT_EQ(cursor_->CountRows(&count), kStatusOk);
  EXPECT_EQ(count, 3u);
}

TEST_F(ChangeLog, AbortKeepsTheRemainingFailuresAndABadAnswerChangesNothing) {
  for (const char16_t* n : {u"R1", u"R2", u"R3"}) ASSERT_EQ(InsertRoom(n), kStatusOk);
  const auto delta = Delta();
  const auto d = static_cast<std::uint32_t>(delta.size());

  // An answer naming a row the delta does not have, or of the wrong kind.
  const auto bogus = Rejected({9});
  Status s = store_->Reconcile(delta.data(), d, bogus.data(),
                               static_cast<std::uint32_t>(bogus.size()), nullptr, nullptr);
  EXPECT_EQ(s, kErrorInvalidPacket);
  EXPECT_EQ(Message(store_.get(), s),
            "Invalid data packet: a rejected row names row 9 of a delta of 3");
  EXPECT_EQ(store_->Reconcile(delta.data(), d, delta.data(), d, nullptr, nullptr),
            kErrorInvalidPacket);
  EXPECT_EQ(Changes(), 3u);

  int calls = 0;
  const auto errors = Rejected({1, 3});
  auto abort = [](void* ctx, const ReconcileError&) {
    ++*static_cast<int*>(ctx);
    throw 1;  // an escaping exception is taken as abort
    return ReconcileAction::kSkip;
  };
  ASSERT_EQ(store_->Reconcile(delta.data(), d, errors.data(),
                              static_cast<std::uint32_t>(errors.size()), abort, &calls),
            kStatusOk);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(Changes(), 2u);  // R2 applied; R1 and R3 stay
}

}  // namespace
}  // namespace quor::engine
