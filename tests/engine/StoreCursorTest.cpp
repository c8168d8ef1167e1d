#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "platform/Codepage.h"

namespace quor::engine {
namespace {

using test::Append;
using test::Message;
using test::NewCursor;
using test::NewStore;
using test::RowReader;
using test::SongPacket;

TEST(Store, FirstPacketGivesFieldsParametersAndProperties) {
  auto store = NewStore();
  ASSERT_EQ(Append(store.get(), SongPacket(0, 3, true, /*readOnly=*/true)), kStatusOk);
  DSProps p{};
  ASSERT_EQ(store->GetProps(&p), kStatusOk);
  EXPECT_EQ(p.fieldCount, 3u);
  EXPECT_EQ(p.rowCount, 3u);
  EXPECT_EQ(p.changeCount, 0u);
  EXPECT_TRUE(p.readOnly);
  EXPECT_TRUE(p.lastPacketSeen);
  EXPECT_EQ(p.bookmarkSize, 4u);

  // Default: UTF-16 columns described as 8-bit text of twice the size;
  // property 11 = 1 describes them as UTF-16 text.
  std::vector<DSFieldDesc> d(3);
  ASSERT_EQ(store->GetFieldDescs(d.data()), kStatusOk);
  EXPECT_STREQ(d[0].name, "SINGID");
  EXPECT_EQ(d[0].type, FieldType::kInt32);
  EXPECT_EQ(d[0].attributes, kFieldRequired);
  EXPECT_EQ(d[1].type, FieldType::kText8);
  EXPECT_EQ(d[1].size, 200u);
  ASSERT_EQ(store->SetProp(kPropWideText, 1), kStatusOk);
  ASSERT_EQ(store->GetFieldDescs(d.data()), kStatusOk);
  EXPECT_EQ(d[1].type, FieldType::kText16);
  EXPECT_EQ(d[1].size, 100u);
  EXPECT_EQ(d[2].fieldNo, 3u);
  EXPECT_EQ(ValueBufferSize(d[1]), 102u);

  std::uint32_t v = 99;
  ASSERT_EQ(store->GetProp(kPropChangeCount, &v), kStatusOk);
  EXPECT_EQ(v, 0u);
  ASSERT_EQ(store->GetProp(kPropWideText, &v), kStatusOk);
  EXPECT_EQ(v, 1u);
  EXPECT_TRUE(IsError(store->SetProp(kPropChangeCount, 5)));
  EXPECT_TRUE(IsError(store->GetProp(77, &v)));
  EXPECT_EQ(Message(store.get(), kErrorUnknownProperty), "Unknown dataset property 77");

  FieldType type{};
  std::uint32_t len = 0;
  std::int16_t flag = 0;
  ASSERT_EQ(store->GetOptParameter(0, "DISABLE_DELETES", &type, &len, &flag, 2), kStatusOk);
  EXPECT_EQ(type, FieldType::kBoolean);
  EXPECT_EQ(len, 2u);
  EXPECT_EQ(flag, -1);
  EXPECT_EQ(store->GetOptParameter(0, "NO_RESET_CALL", &type, &len, nullptr, 0), kErrorNotFound);
  EXPECT_EQ(store->GetOptParameter(2, "ORIGIN", &type, &len, nullptr, 0), kErrorNotFound);
  EXPECT_TRUE(IsError(store->GetOptParameter(9, "ORIGIN", &type, &len, nullptr, 0)));
}

TEST(Store, LaterPacketsAddRowsAndMustMatchTheFirst) {
  auto store = NewStore();
  ASSERT_EQ(Append(store.get(), SongPacket(0, 2), false), kStatusOk);
  ASSERT_EQ(Append(store.get(), SongPacket(2, 2, /*withDescriptions=*/false), false), kStatusOk);
  ASSERT_EQ(Append(store.get(), SongPacket(4, 1)), kStatusOk);
  std::uint32_t rows = 0;
  ASSERT_EQ(store->GetProp(kPropRowCount, &rows), kStatusOk);
  EXPECT_EQ(rows, 5u);

  // Another layout is refused and leaves the rows as they were.
  PacketWriter other(PacketKind::kData, {FieldDef{"X", FieldType::kInt32, 4, 0, {}}});
  const Status s = Append(store.get(), other.Finish());
  EXPECT_EQ(s, kErrorInvalidPacket);
  EXPECT_EQ(Message(store.get(), s),
            "Invalid data packet: its fields differ from the first packet");
  std::vector<std::uint8_t> garbage(40, 0xEE);
  EXPECT_EQ(Append(store.get(), garbage), kErrorInvalidPacket);
  EXPECT_EQ(Message(store.get(), kErrorInvalidPacket), "Invalid data packet: not a data packet");
  ASSERT_EQ(store->GetProp(kPropRowCount, &rows), kStatusOk);
  EXPECT_EQ(rows, 5u);

  // The first packet must describe its fields.
  auto fresh = NewStore();
  EXPECT_EQ(Append(fresh.get(), SongPacket(0, 2, false)), kErrorInvalidPacket);
}

TEST(Cursor, MovesStopOnTheCracksWithTheirStatuses) {
  auto store = NewStore();
  ASSERT_EQ(Append(store.get(), SongPacket(0, 5)), kStatusOk);
  auto cursor = NewCursor(store.get());
  RowReader r(cursor.get());
  EXPECT_EQ(r.Copy(), kStatusBeforeFirst);  // attached: before the first row
  EXPECT_EQ(cursor->MoveRelative(-1), kStatusBeforeFirst);
  ASSERT_EQ(cursor->MoveRelative(1), kStatusOk);
  ASSERT_EQ(r.Copy(), kStatusOk);
  EXPECT_EQ(r.Int(1), 10000);
  for (int i = 1; i < 5; ++i) ASSERT_EQ(cursor->MoveRelative(1), kStatusOk);
  EXPECT_EQ(cursor->MoveRelative(1), kStatusAfterLast);
  EXPECT_EQ(cursor->MoveRelative(1), kStatusAfterLast);
  EXPECT_EQ(r.Copy(), kStatusAfterLast);
  ASSERT_EQ(cursor->MoveRelative(-1), kStatusOk);  // back on the last row
  ASSERT_EQ(r.Copy(), kStatusOk);
  EXPECT_EQ(r.Int(1), 10004);
  std::uint32_t seq = 0;
  ASSERT_EQ(cursor->GetSequenceNumber(&seq), kStatusOk);
  EXPECT_EQ(seq, 5u);
  EXPECT_EQ(cursor->MoveRelative(-14), kStatusBeforeFirst);
  EXPECT_EQ(cursor->GetSequenceNumber(&seq), kStatusBeforeFirst);
  ASSERT_EQ(cursor->MoveAfterLast(), kStatusOk);
  ASSERT_EQ(cursor->MoveRelative(-2), kStatusOk);
  std::uint32_t mark = 0;
  ASSERT_EQ(cursor->GetBookmark(&mark), kStatusOk);
  ASSERT_EQ(cursor->MoveBeforeFirst(), kStatusOk);
  ASSERT_EQ(cursor->MoveToBookmark(&mark), kStatusOk);
  ASSERT_EQ(cursor->GetSequenceNumber(&seq), kStatusOk);
  EXPECT_EQ(seq, 4u);
  const std::uint32_t wrong = 99;
  EXPECT_EQ(cursor->MoveToBookmark(&wrong), kErrorNoCurrentRow);
  std::uint32_t count = 0;
  ASSERT_EQ(cursor->CountRows(&count), kStatusOk);
  EXPECT_EQ(count, 5u);
}

TEST(Cursor, EmptyResultAndUnattachedCursor) {
  auto store = NewStore();
  ASSERT_EQ(Append(store.get(), SongPacket(0, 0)), kStatusOk);
  auto cursor = NewCursor(store.get());
  EXPECT_EQ(cursor->MoveRelative(1), kStatusAfterLast);
  EXPECT_EQ(cursor->MoveRelative(-1), kStatusBeforeFirst);
  std::uint32_t count = 7;
  ASSERT_EQ(cursor->CountRows(&count), kStatusOk);
  EXPECT_EQ(count, 0u);

  auto loose = NewCursor(nullptr);
  EXPECT_EQ(loose->MoveRelative(1), kErrorNotAttached);
  EXPECT_EQ(loose->Attach(nullptr), kErrorInvalidArgument);
}

TEST(Cursor, AfterLastThenBackAppendAndForwardReachesTheNewRow) {
  // The client's fetch on demand: after-last, -1, append, +1.
  auto store = NewStore();
  ASSERT_EQ(Append(store.get(), SongPacket(0, 1), false), kStatusOk);
  auto cursor = NewCursor(store.get());
  RowReader r(cursor.get());
  ASSERT_EQ(cursor->MoveRelative(1), kStatusOk);
  ASSERT_EQ(cursor->MoveRelative(1), kStatusAfterLast);
  ASSERT_EQ(cursor->MoveRelative(-1), kStatusOk);
  ASSERT_EQ(Append(store.get(), SongPacket(1, 1, false), false), kStatusOk);
  ASSERT_EQ(cursor->MoveRelative(1), kStatusOk);
  ASSERT_EQ(r.Copy(), kStatusOk);
  EXPECT_EQ(r.Int(1), 10001);
  // A cursor left after the last row stays there when rows arrive.
  ASSERT_EQ(cursor->MoveRelative(1), kStatusAfterLast);
  ASSERT_EQ(Append(store.get(), SongPacket(2, 1, false)), kStatusOk);
  ASSERT_EQ(cursor->MoveRelative(-1), kStatusOk);
  ASSERT_EQ(r.Copy(), kStatusOk);
  EXPECT_EQ(r.Int(1), 10002);
}

TEST(Cursor, ReadsFieldsInBothTextModes) {
  auto store = NewStore();
  ASSERT_EQ(Append(store.get(), SongPacket(0, 2)), kStatusOk);
  auto cursor = NewCursor(store.get());
  RowReader r(cursor.get());
  ASSERT_EQ(cursor->MoveRelative(1), kStatusOk);
  ASSERT_EQ(r.Copy(), kStatusOk);
  EXPECT_EQ(r.Narrow(2), platform::Utf8ToGbk("歌曲0"));  // default: GBK
  EXPECT_EQ(r.Narrow(3), "<blank>");                     // row 0 has no singer
  ASSERT_EQ(store->SetProp(kPropWideText, 1), kStatusOk);
  EXPECT_EQ(r.Wide(2), u"歌曲0");
  ASSERT_EQ(cursor->MoveRelative(1), kStatusOk);
  ASSERT_EQ(r.Copy(), kStatusOk);
  EXPECT_EQ(r.Wide(3), u"歌手1");

  // Bad field numbers, short buffers and foreign buffers are refused.
  const auto size = static_cast<std::uint32_t>(r.row.size());
  std::uint8_t small[4];
  bool blank = false;
  EXPECT_EQ(cursor->ReadField(r.row.data(), size, 0, small, 4, &blank), kErrorInvalidArgument);
  EXPECT_EQ(cursor->ReadField(r.row.data(), size, 4, small, 4, &blank), kErrorInvalidArgument);
  const Status s = cursor->ReadField(r.row.data(), size, 2, small, 4, &blank);
  EXPECT_EQ(s, kErrorInvalidArgument);
  EXPECT_EQ(Message(store.get(), s), "Value buffer too small for field 'SINGNAME'");
  EXPECT_EQ(cursor->ReadField(r.row.data(), size - 1, 1, small, 4, &blank), kErrorInvalidArgument);
  std::vector<std::uint8_t> foreign(size, 0);
  EXPECT_EQ(cursor->ReadField(foreign.data(), size, 1, small, 4, &blank), kErrorInvalidArgument);
}

TEST(Store, StatusMessagesFitTheBufferWithoutSplittingACharacter) {
  auto store = NewStore();
  // A field name of 200 Chinese characters is cut to fit its 256-byte slot,
  // a long message to fit the 2049-byte buffer, both on a character boundary.
  std::string longName;
  for (int i = 0; i < 85; ++i) longName += "歌";  // 255 bytes of UTF-8
  PacketWriter w(PacketKind::kData, {FieldDef{longName, FieldType::kInt32, 4, 0, {}}});
  ASSERT_EQ(Append(store.get(), w.Finish()), kStatusOk);
  DSFieldDesc d{};
  ASSERT_EQ(store->GetFieldDescs(&d), kStatusOk);
  EXPECT_EQ(std::string(d.name), platform::Utf8ToGbk(longName));

  std::string option;
  for (int i = 0; i < 1500; ++i) option += platform::Utf8ToGbk("名");
  FieldType type{};
  std::uint32_t len = 0;
  const Status s = store->GetOptParameter(0, option.c_str(), &type, &len, nullptr, 0);
  ASSERT_EQ(s, kErrorNotFound);
  const std::string text = Message(store.get(), s);
  EXPECT_LE(text.size(), 2048u);
  EXPECT_GT(text.size(), 2040u);
  EXPECT_EQ(text.rfind("No optional parameter '" + option.substr(0, 6), 0), 0u);
  EXPECT_EQ(platform::Utf16ToGbk(platform::GbkToUtf16(text)), text);  // no broken character
  EXPECT_EQ(Message(store.get(), 0x12345678), "Dataset engine error 0x12345678");
}

TEST(Store, HoldsRowsCompactly) {
  // 200,000 song rows: the store holds at most 1.5 bytes of memory per byte
  // of row data, the per-row index included.
  auto store = NewStore();
  ASSERT_EQ(Append(store.get(), SongPacket(0, 200000)), kStatusOk);
  DSProps p{};
  ASSERT_EQ(store->GetProps(&p), kStatusOk);
  ASSERT_EQ(p.rowCount, 200000u);
  const double ratio = static_cast<double>(p.rowMemoryBytes) / static_cast<double>(p.rowDataBytes);
  EXPECT_LE(ratio, 1.5) << p.rowMemoryBytes << " bytes for " << p.rowDataBytes;
  std::printf("[ memory ] %.3f bytes held per byte of row data (%.1f bytes per row)\n", ratio,
              static_cast<double>(p.rowMemoryBytes) / p.rowCount);

  // And every row is there to walk.
  auto cursor = NewCursor(store.get());
  RowReader r(cursor.get());
  std::int64_t sum = 0;
  std::uint32_t n = 0;
  while (cursor->MoveRelative(1) == kStatusOk) {
    ASSERT_EQ(r.Copy(), kStatusOk);
    sum += r.Int(1);
    ++n;
  }
  EXPECT_EQ(n, 200000u);
  EXPECT_EQ(sum, 200000ll * 10000 + 199999ll * 200000 / 2);
}

}  // namespace
}  // namespace quor::engine
