// What a dataset does with the packets it is given: packet options, field
// parameters, every value type read and written as text, required fields,
// and packets that are broken or missing. The recording peer's answers are
// replaced by packets the tests write with the packet writer.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "DataTestSupport.h"
#include "engine/Packet.h"

namespace quor::data::test {
namespace {

using engine::FieldType;
using engine::Param;
using ::testing::HasSubstr;
using ::testing::StartsWith;

remote::Variant AsVariant(const std::vector<std::uint8_t>& bytes) {
  return remote::Variant::Array(remote::SafeArray::FromBytes(bytes.data(), bytes.size()));
}

// Five columns of every type the terminal reads, one row.
std::vector<std::uint8_t> TypedPacket(bool disableInserts, bool noReset, bool required) {
  std::vector<engine::FieldDef> fields = {
      {"ClientName",
       FieldType::kText16,
       40,
       static_cast<std::uint16_t>(required ? engine::kFieldRequired : 0),
       {Param::Text("ORIGIN", "roomcall.ClientName"),
        Param::Bytes("FIELDPROPS", "DisplayLabel=Room\r\nVisible=False\nColour=red\n")}},
      {"Seats", FieldType::kInt32, 4, 0, {Param::Integer("PROVFLAGS", 3)}},
      {"Price", FieldType::kDouble, 8, 0, {}},
      {"Open", FieldType::kBoolean, 2, 0, {}},
      {"Code", FieldType::kText8, 10, 0, {}},
      {"Big", FieldType::kInt64, 8, 0, {}},
  };
  engine::PacketWriter w(engine::PacketKind::kData, fields);
  if (disableInserts) w.AddParam(Param::Boolean("DISABLE_INSERTS", true));
  w.AddParam(Param::Boolean("DISABLE_EDITS", false));
  if (noReset) w.AddParam(Param::Boolean("NO_RESET_CALL", true));
  w.BeginRow();
  w.AddTextUtf8("王菲");
  w.AddInt64(4);
  w.AddDouble(2.5);
  w.AddBoolean(true);
  w.AddText8("AB");
  w.AddInt64(-9000000000);
  w.EndRow();
  return w.Finish();
}

class DataSetPacketTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    UseBuiltEngine();
    folder_ = new std::string(TempFolder("packets"));
    BuildCatalogue(*folder_ + "/catalogue.db");
    peer_ = new RecordingPeer(*folder_ + "/catalogue.db");
  }
  static void TearDownTestSuite() {
    delete peer_;
    delete folder_;
  }
  void SetUp() override {
    terminal_ = std::make_unique<TerminalFixture>(peer_->Port());
    peer_->ClearCalls();
  }
  void TearDown() override {
    terminal_.reset();
    peer_->SetAnswerHook({});
  }
  ClientDataSet& ds() { return *terminal_->dm->songClientDataSet; }
  // Every records request (reset excepted) is answered with `answer`.
  void Answer(std::function<remote::Variant()> answer, std::int32_t recsOut = 1,
              int onlyOptions = -1) {
    peer_->SetAnswerHook([=](const RecordedCall& c, remote::Variant& result, std::int32_t& out) {
      if (c.options == 2 || (onlyOptions >= 0 && c.options != onlyOptions)) return;
      result = answer();
      out = recsOut;
    });
  }
  int Resets() {
    int n = 0;
    for (const auto& c : peer_->Calls()) n += c.options == 2 ? 1 : 0;
    return n;
  }
  std::string Text(const char* field) { return ds().FieldByName(field).AsString(); }

  static std::string* folder_;
  static RecordingPeer* peer_;
  std::unique_ptr<TerminalFixture> terminal_;
};
std::string* DataSetPacketTest::folder_ = nullptr;
RecordingPeer* DataSetPacketTest::peer_ = nullptr;

TEST_F(DataSetPacketTest, PacketOptionsAndFieldParametersAreTaken) {
  const auto packet = TypedPacket(true, true, false);
  Answer([packet] { return AsVariant(packet); });
  ds().Open();
  EXPECT_TRUE(ds().DisableInserts());
  EXPECT_TRUE(ds().NoResetCall());
  EXPECT_FALSE(ds().DisableEdits());  // present, but false
  EXPECT_FALSE(ds().DisableDeletes());
  const Field& name = ds().FieldByName("clientname");
  EXPECT_EQ(name.Origin(), "roomcall.ClientName");
  EXPECT_EQ(name.DisplayName(), "Room");
  EXPECT_FALSE(name.Visible());
  EXPECT_EQ(name.DataType(), FieldKind::WideString);
  EXPECT_EQ(name.Size(), 20u);
  EXPECT_EQ(ds().FieldByName("Seats").ProviderFlags(), 3);
  EXPECT_EQ(ds().FieldByName("Code").DataType(), FieldKind::String);

  EXPECT_EQ(U(Text("ClientName")), "王菲");
  EXPECT_EQ(Text("Seats"), "4");
  EXPECT_EQ(Text("Price"), "2.5");
  EXPECT_EQ(Text("Open"), "True");
  EXPECT_EQ(Text("Code"), "AB");
  EXPECT_EQ(Text("Big"), "-9000000000");

  EXPECT_THAT([&] { ds().Insert(); }, ::testing::ThrowsMessage<EDatabaseError>(
                                          "songClientDataSet: Inserts are not allowed"));
  EXPECT_EQ(ds().State(), DataSetState::Browse);
  ds().Close();  // the packet forbids the reset call
  EXPECT_EQ(Resets(), 0);
  EXPECT_FALSE(ds().HoldsServerReference());
}

TEST_F(DataSetPacketTest, LongColumnNamesAreCutToWholeCharacters) {
  // 31 letters, then U+20000 (four bytes in GB18030) or 歌 (two bytes): the
  // 32nd character is taken whole or not at all, and the name that a cut
  // makes twice gets its number.
  const std::string letters(31, 'A');
  std::vector<engine::FieldDef> fields = {
      {letters + "\xF0\xA0\x80\x80"
                 "B",
       FieldType::kInt32,
       4,
       0,
       {}},
      {letters + "歌星", FieldType::kInt32, 4, 0, {}},
      {letters + "歌手", FieldType::kInt32, 4, 0, {}},
  };
  engine::PacketWriter w(engine::PacketKind::kData, fields);
  w.BeginRow();
  for (int v : {1, 2, 3}) w.AddInt64(v);
  w.EndRow();
  const auto packet = w.Finish();
  Answer([packet] { return AsVariant(packet); });
  ds().Open();
  const std::vector<FieldDef>& defs = ds().FieldDefs();
  ASSERT_EQ(defs.size(), 3u);
  EXPECT_EQ(defs[0].name, letters + "\x95\x32\x82\x36");
  EXPECT_EQ(platform::GbkToUtf16(defs[0].name), platform::Utf8ToUtf16(letters) + u"\U00020000");
  EXPECT_EQ(U(defs[1].name), letters + "歌");
  EXPECT_EQ(U(defs[2].name), letters + "歌_1");
  EXPECT_EQ(ds().FieldByName(defs[0].name).AsString(), "1");
  EXPECT_EQ(ds().FieldByName(defs[2].name).AsString(), "3");
}

TEST_F(DataSetPacketTest, InsertedValuesAreCheckedAndKeptInTheChangeLog) {
  const auto packet = TypedPacket(false, false, true);
  Answer([packet] { return AsVariant(packet); });
  ds().Open();
  ds().Append();
  EXPECT_THAT([&] { ds().Post(); },
              ::testing::ThrowsMessage<EDatabaseError>("Field 'Room' must have a value"));
  EXPECT_EQ(ds().State(), DataSetState::Insert);
  EXPECT_THAT([&] { ds().FieldByName("Seats").SetAsString("four"); },
              ::testing::ThrowsMessage<EDatabaseError>("'four' is not a valid integer value"));
  EXPECT_THROW(ds().FieldByName("Open").SetAsString("maybe"), EDatabaseError);
  EXPECT_THROW(ds().FieldByName("Code").SetAsString("ABCDEFGHIJKL"), EDBClient);  // longer than 10
  ds().FieldByName("ClientName").SetAsString(G("张学友"));
  ds().FieldByName("Seats").SetAsString("12");
  ds().FieldByName("Price").SetAsString("0.25");
  ds().FieldByName("Open").SetAsString("False");
  ds().FieldByName("Big").SetAsString("8000000000");
  EXPECT_EQ(ds().FieldByName("Seats").AsString(), "12");  // the insert buffer reads back
  ds().Post();
  EXPECT_EQ(ds().State(), DataSetState::Browse);
  EXPECT_EQ(ds().ChangeCount(), 1);
  EXPECT_EQ(ds().RecordCount(), 2);
  EXPECT_EQ(U(Text("ClientName")), "张学友");  // the new row is current
  EXPECT_EQ(Text("Price"), "0.25");
  EXPECT_EQ(Text("Open"), "False");
  EXPECT_TRUE(ds().FieldByName("Code").IsNull());
  EXPECT_EQ(Text("Big"), "8000000000");

  // A move while inserting: an untouched row is dropped, a written one posted.
  ds().Append();
  ds().First();
  EXPECT_EQ(ds().ChangeCount(), 1);
  ds().Append();
  ds().FieldByName("ClientName").SetAsString("x");
  ds().Next();
  EXPECT_EQ(ds().ChangeCount(), 2);
}

TEST_F(DataSetPacketTest, BrokenOrMissingPacketsLeaveTheDatasetClosed) {
  struct Case {
    remote::Variant answer;
    std::string message;  // what() starts with this
  };
  const std::uint8_t junk[100] = {'Q', 'V', 'D', 'P', 9};
  const std::vector<Case> cases = {
      {remote::Variant::Null(), "songClientDataSet: Missing data provider or data packet"},
      {AsVariant(std::vector<std::uint8_t>(21, 0)), "Invalid data packet"},  // upper bound 20
      {remote::Variant::Str(u"rows"), "Invalid data packet"},
      {remote::Variant::Array(remote::SafeArray::Create(remote::VT_I4, {{0, 40}})),
       "Invalid data packet"},
      {remote::Variant::Array(remote::SafeArray::FromBytes(junk, sizeof junk)),
       "Invalid data packet"},  // the engine's own text, as EDBClient
  };
  for (const Case& c : cases) {
    peer_->ClearCalls();
    const remote::Variant answer = c.answer;
    Answer([answer] { return answer; });
    try {
      RunCatalogueQuery(ds(), SongByNumberStatement("10001"));
      ADD_FAILURE() << "opened on " << c.message;
    } catch (const std::exception& e) {
      EXPECT_THAT(e.what(), StartsWith(c.message));
    }
    EXPECT_FALSE(ds().Active());
    EXPECT_EQ(Resets(), 1);  // the server reference was obtained: the reset went out
  }
  // The engine's refusal carries its status.
  Answer([&] { return remote::Variant::Array(remote::SafeArray::FromBytes(junk, sizeof junk)); });
  try {
    ds().Open();
  } catch (const EDBClient& e) {
    EXPECT_EQ(e.ErrorCode(), engine::kErrorInvalidPacket);
  }
}

TEST_F(DataSetPacketTest, ABrokenFurtherPacketFailsTheMoveAndKeepsTheRows) {
  ClientDataSet& play = *terminal_->dm->playClientDataSet;
  RunCatalogueQuery(play, "select PATH1 from vodinfo");
  ASSERT_FALSE(play.ProviderEOF());
  const std::string first = play.FieldByName("PATH1").AsString();
  Answer([] { return remote::Variant::Str(u"no"); }, 1, 0);
  EXPECT_THROW(play.Next(), EDatabaseError);
  EXPECT_TRUE(play.Active());
  EXPECT_EQ(play.RecordCount(), 1);
  EXPECT_EQ(play.FieldByName("PATH1").AsString(), first);
  peer_->SetAnswerHook({});
  play.Next();  // the server answers again: the next row comes
  EXPECT_EQ(play.RecordCount(), 2);
  EXPECT_NE(play.FieldByName("PATH1").AsString(), first);
}

}  // namespace
}  // namespace quor::data::test
