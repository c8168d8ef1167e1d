#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "EngineTestSupport.h"
#include "engine/Packet.h"
#include "platform/Codepage.h"

namespace quor::engine {
namespace {

using test::SongFields;
using test::SongPacket;

std::vector<FieldDef> AllTypes() {
  return {FieldDef{"i32", FieldType::kInt32, 0, kFieldRequired, {Param::Text("ORIGIN", "t.i32")}},
          FieldDef{"i64", FieldType::kInt64, 0, 0, {}},
          FieldDef{"dbl", FieldType::kDouble, 0, 0, {}},
          FieldDef{"t8", FieldType::kText8, 20, 0, {}},
          FieldDef{"t16", FieldType::kText16, kSizeFromRows, 0, {}},
          FieldDef{"flag", FieldType::kBoolean, 0, 0, {}},
          FieldDef{"blob", FieldType::kBytes, 16, 0, {Param::Integer("PROVFLAGS", 7)}},
          FieldDef{"名字", FieldType::kText16, 10, kFieldReadOnly, {}},
          FieldDef{"n9", FieldType::kInt32, 0, 0, {}}};
}

TEST(Packet, EveryTypeNullsAndParametersRoundTrip) {
  PacketWriter w(PacketKind::kData, AllTypes());
  w.SetReadOnly(true);
  w.AddParam(Param::Boolean("DISABLE_INSERTS", true));
  w.AddParam(Param::Bytes("FIELDPROPS", std::string("\0\1\2", 3)));
  // Texts outside GBK: a CJK extension B character (a surrogate pair) and an emoji.
  const std::u16string rare = u"\U00020000\U0001F600 ok";
  w.BeginRow();
  w.AddInt64(std::numeric_limits<std::int32_t>::min());
  w.AddInt64(std::numeric_limits<std::int64_t>::max());
  w.AddDouble(-2.5);
  w.AddText8(platform::Utf8ToGbk("男"));
  w.AddText16(rare);
  w.AddBoolean(true);
  w.AddBytes(std::string("\0\xFF", 2));
  w.AddTextUtf8("周杰");
  w.AddNull();
  w.EndRow();
  w.BeginRow();
  for (int i = 0; i < 9; ++i) w.AddNull();
  w.EndRow();
  const auto packet = w.Finish();
  ASSERT_GT(packet.size(), 22u);

  PacketReader r(packet);
  EXPECT_EQ(r.Kind(), PacketKind::kData);
  EXPECT_TRUE(r.ReadOnly());
  ASSERT_EQ(r.FieldCount(), 9u);
  EXPECT_EQ(r.Fields()[7].name, "名字");
  EXPECT_EQ(r.Fields()[7].attributes, kFieldReadOnly);
  EXPECT_EQ(r.Fields()[4].size, rare.size() * 2);  // taken from the rows
  EXPECT_EQ(r.Fields()[3].size, 20u);
  EXPECT_EQ(r.Fields()[1].size, 8u);
  ASSERT_NE(r.FindParam(0, "DISABLE_INSERTS"), nullptr);
  EXPECT_TRUE(r.FindParam(0, "DISABLE_INSERTS")->AsBoolean());
  EXPECT_EQ(r.FindParam(1, "ORIGIN")->value, "t.i32");
  EXPECT_EQ(r.FindParam(7, "PROVFLAGS")->AsInteger(), 7);
  EXPECT_EQ(r.FindParam(0, "FIELDPROPS")->value, std::string("\0\1\2", 3));
  EXPECT_EQ(r.FindParam(0, "NO_RESET_CALL"), nullptr);

  ASSERT_EQ(r.RowCount(), 2u);
  const RowView a = r.Row(0);
  EXPECT_EQ(a.Integer(0), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(a.Integer(1), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(a.Double(2), -2.5);
  EXPECT_EQ(a.TextUtf8(3), "男");
  EXPECT_EQ(a.Text16(4), rare);
  EXPECT_EQ(platform::GbkToUtf16(a.Text8(4)), rare);  // GB18030 keeps them
  EXPECT_TRUE(a.Boolean(5));
  EXPECT_EQ(a.Raw(6).size(), 2u);
  EXPECT_EQ(a.TextUtf8(7), "周杰");
  EXPECT_TRUE(a.IsNull(8));
  for (std::size_t f = 0; f < 9; ++f) EXPECT_TRUE(r.Row(1).IsNull(f));
}

TEST(Packet, EmptyResultCarriesFieldsOnly) {
  PacketWriter w(PacketKind::kData, SongFields());
  const auto packet = w.Finish();
  EXPECT_GT(packet.size(), 22u);
  PacketReader r(packet);
  EXPECT_EQ(r.FieldCount(), 3u);
  EXPECT_EQ(r.RowCount(), 0u);
  // Even a packet without fields has more than 22 bytes.
  EXPECT_GT(PacketWriter(PacketKind::kData, {}).Finish().size(), 22u);
}

TEST(Packet, WriterConvertsLosslesslyAndRefusesTheRest) {
  PacketWriter w(PacketKind::kData, {FieldDef{"a", FieldType::kText16, 20, 0, {}},
                                     FieldDef{"b", FieldType::kInt32, 0, 0, {}},
                                     FieldDef{"c", FieldType::kText8, 4, 0, {}}});
  w.BeginRow();
  w.AddInt64(-42);                                   // integer into text: decimal digits
  EXPECT_THROW(w.AddInt64(1ll << 40), PacketError);  // does not fit 32 bits
  w.AddInt64(7);
  EXPECT_THROW(w.AddText8("12345"), PacketError);  // longer than its 4 bytes
  w.AddTextUtf8("\xE4\xB8\xAD");                   // 中 into 8-bit text: GBK
  w.EndRow();
  w.BeginRow();
  w.AddTextUtf8(
      "a\xFF"
      "b");  // invalid UTF-8 byte becomes U+FFFD
  w.AddNull();
  w.AddNull();
  w.EndRow();
  const auto packet = w.Finish();
  PacketReader r(packet);
  EXPECT_EQ(r.Row(0).TextUtf8(0), "-42");
  EXPECT_EQ(r.Row(0).Integer(1), 7);
  EXPECT_EQ(r.Row(0).Text8(2), platform::Utf8ToGbk("中"));
  EXPECT_EQ(r.Row(1).Text16(0), u"a\uFFFDb");

  PacketWriter bad(PacketKind::kData, {FieldDef{"x", FieldType::kInt32, 0, 0, {}}});
  bad.BeginRow();
  EXPECT_THROW(bad.AddTextUtf8("text"), PacketError);
  EXPECT_THROW(bad.EndRow(), PacketError);  // a value is missing
  EXPECT_THROW(PacketWriter(PacketKind::kData, {FieldDef{"", FieldType::kInt32, 0, 0, {}}}),
               PacketError);
  EXPECT_THROW(PacketWriter(PacketKind::kData, {FieldDef{"big", FieldType::kText8, 70000, 0, {}}}),
               PacketError);
}

// The writer converts UTF-8 on its own fast path (ASCII eight bytes at a
// time, three-byte sequences straight) and reserves room for the longest
// result before it knows the real one; the room left over is reused by the
// next row. Every shape of text must come out as the general converter
// gives it, and no leftover byte may show up as a later row's null flags.
TEST(Packet, TextsOfEveryShapeConvertAsTheGeneralConverterDoesAndLeaveNothingBehind) {
  const std::string pieces[] = {
      "a",    "ABCDEFGH", "0123456789abcdef", "\xE4\xB8\xAD", "\xC3\xA9", "\xF0\x9F\x8E\xA4",
      "\xFF", "\xE4\xB8", "\xC0\xAF",         "\xED\xA0\x80", "\x80",     " "};
  std::uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 16;
  };
  std::vector<std::string> texts;
  for (int i = 0; i < 3000; ++i) {
    std::string t;
    const unsigned count = next() % 9;
    for (unsigned k = 0; k < count; ++k) t += pieces[next() % std::size(pieces)];
    texts.push_back(t);
  }
  PacketWriter w(PacketKind::kData, {FieldDef{"t", FieldType::kText16, kSizeFromRows, 0, {}},
                                     FieldDef{"n", FieldType::kInt32, 0, 0, {}}});
  for (std::size_t i = 0; i < texts.size(); ++i) {
    w.BeginRow();
    w.AddTextUtf8(texts[i]);
    if (i % 3 == 0) {
      w.AddNull();
    } else {
      w.AddInt64(static_cast<std::int64_t>(i));
    }
    w.EndRow();
  }
  const auto packet = w.Finish();
  PacketReader r(packet);
  ASSERT_EQ(r.RowCount(), texts.size());
  for (std::uint32_t i = 0; i < r.RowCount(); ++i) {
    ASSERT_FALSE(r.Row(i).IsNull(0)) << i;
    ASSERT_EQ(r.Row(i).Text16(0), platform::Utf8ToUtf16(texts[i])) << i;
    ASSERT_EQ(r.Row(i).IsNull(1), i % 3 == 0) << i;
    if (i % 3 != 0) ASSERT_EQ(r.Row(i).Integer(1), i);
  }

  // A refused value has been converted before it was measured: its bytes lie
  // beyond the row's end, where the next row's null flags go.
  PacketWriter refused(PacketKind::kData, {FieldDef{"t", FieldType::kText16, 4, 0, {}},
                                           FieldDef{"n", FieldType::kInt32, 0, 0, {}}});
  refused.BeginRow();
  EXPECT_THROW(refused.AddTextUtf8("cccccccc"), PacketError);
  refused.AddTextUtf8("ab");
  refused.AddInt64(1);
  refused.EndRow();
  refused.BeginRow();
  refused.AddTextUtf8("x");
  refused.AddInt64(2);
  refused.EndRow();
  const auto two = refused.Finish();
  PacketReader rr(two);
  ASSERT_EQ(rr.RowCount(), 2u);
  EXPECT_FALSE(rr.Row(1).IsNull(0));
  EXPECT_EQ(rr.Row(1).Text16(0), u"x");
  EXPECT_EQ(rr.Row(1).Integer(1), 2);
}

TEST(Packet, TwoHundredThousandRowsRoundTrip) {
  const auto packet = SongPacket(0, 200000);
  PacketReader r(packet);
  ASSERT_EQ(r.RowCount(), 200000u);
  for (std::uint32_t i = 0; i < r.RowCount(); i += 9973) {
    EXPECT_EQ(r.Row(i).Integer(0), 10000 + i);
    EXPECT_EQ(r.Row(i).TextUtf8(1), "歌曲" + std::to_string(i));
  }
  EXPECT_EQ(r.Row(199999).TextUtf8(2), "歌手" + std::to_string(199999 % 7));
}

TEST(Packet, RowsOnlyPacketsDecodeByTheFirstPacketsFields) {
  const auto first = SongPacket(0, 1);
  const auto further = SongPacket(1, 3, /*withDescriptions=*/false);
  EXPECT_THROW(PacketReader{further}, PacketError);  // nothing to decode it by
  PacketReader head(first);
  PacketReader r(further, &head.Fields());
  ASSERT_EQ(r.RowCount(), 3u);
  EXPECT_EQ(r.Row(2).Integer(0), 10003);
  // Known fields of another shape are refused.
  const std::vector<FieldInfo> other{FieldInfo{"x", FieldType::kInt32, 4, 0, {}}};
  EXPECT_THROW(PacketReader(further, &other), PacketError);
  EXPECT_THROW(PacketReader(first, &other), PacketError);
  // A value that fits the packet's own size but not the first packet's.
  std::vector<FieldInfo> narrow = head.Fields();
  narrow[1].size = 4;
  EXPECT_THROW(PacketReader(further, &narrow), PacketError);
}

TEST(Packet, DeltaAndErrorPacketsCarryTheirRowInformation) {
  PacketWriter d(PacketKind::kDelta, SongFields());
  d.BeginDeltaRow(41, UpdateStatus::kInserted, 1765000000123);
  d.AddInt64(5);
  d.AddTextUtf8("房间");
  d.AddNull();
  d.EndRow();
  EXPECT_THROW(d.BeginRow(), PacketError);  // delta rows need their change id
  const auto delta = d.Finish();
  PacketReader dr(delta);
  EXPECT_EQ(dr.Kind(), PacketKind::kDelta);
  EXPECT_EQ(dr.Row(0).ChangeId(), 41u);
  EXPECT_EQ(dr.Row(0).Status(), UpdateStatus::kInserted);
  EXPECT_EQ(dr.Row(0).PostedAt(), 1765000000123);
  EXPECT_EQ(dr.Row(0).TextUtf8(1), "房间");
  // A delta is version 2, its rows carry the posting time; a data packet
  // stays version 1, and neither kind is read in the other's version.
  EXPECT_EQ(delta[4], kDeltaPacketVersion);
  auto relabelled = delta;
  relabelled[4] = kPacketVersion;
  EXPECT_THROW(PacketReader{relabelled}, PacketError);

  // A row a data packet holds becomes the same delta row once its prefix is
  // put in front, and the prefix reads back from the encoded row alone.
  PacketWriter plain(PacketKind::kData, SongFields());
  plain.BeginRow();
  plain.AddInt64(5);
  plain.AddTextUtf8("房间");
  plain.AddNull();
  plain.EndRow();
  const auto data = plain.Finish();
  PacketWriter again(PacketKind::kDelta, SongFields());
  again.AppendEncodedDeltaRow({41, UpdateStatus::kInserted, 1765000000123},
                              PacketReader(data).Row(0).Encoded());
  EXPECT_EQ(again.Finish(), delta);
  EXPECT_EQ(data[4], kPacketVersion);
  const DeltaRowPrefix prefix = ReadDeltaRowPrefix(dr.Row(0).Encoded());
  EXPECT_EQ(prefix.changeId, 41u);
  EXPECT_EQ(prefix.status, UpdateStatus::kInserted);
  EXPECT_EQ(prefix.postedAt, 1765000000123);
  EXPECT_EQ(dr.Row(0).Encoded().size(),
            kDeltaRowPrefixSize + PacketReader(data).Row(0).Encoded().size());
  EXPECT_THROW(ReadDeltaRowPrefix(dr.Row(0).Encoded().first(4)), PacketError);
  EXPECT_THROW(plain.AppendEncodedDeltaRow({1, UpdateStatus::kInserted}, {}), PacketError);

  PacketWriter e(PacketKind::kErrors, ErrorPacketFields());
  e.BeginRow();
  e.AddInt64(1);
  e.AddTextUtf8("UNIQUE constraint failed");
  e.AddInt64(19);
  e.AddTextUtf8("roomcall");
  e.EndRow();
  const auto errors = e.Finish();
  PacketReader er(errors);
  EXPECT_EQ(er.Kind(), PacketKind::kErrors);
  EXPECT_EQ(er.Fields()[1].name, kErrorMessageField);
  EXPECT_EQ(er.Row(0).TextUtf8(1), "UNIQUE constraint failed");
  EXPECT_EQ(er.Row(0).Integer(2), 19);
}

void Patch32(std::vector<std::uint8_t>& p, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    p[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

TEST(Packet, ReaderRefusesEveryDamagedForm) {
  const auto good = SongPacket(0, 6);
  // Every cut of a valid packet is refused (the total length no longer
  // matches, and with it patched every section runs short).
  for (std::size_t n = 0; n < good.size(); ++n) {
    std::vector<std::uint8_t> cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_THROW(PacketReader{cut}, PacketError) << n;
    if (n >= kPacketHeaderSize) {
      Patch32(cut, 8, static_cast<std::uint32_t>(n));
      EXPECT_THROW(PacketReader{cut}, PacketError) << n;
    }
  }
  auto bad = good;
  bad[0] = 'X';
  EXPECT_THROW(PacketReader{bad}, PacketError);
  bad = good;
  bad[4] = 2;  // version
  EXPECT_THROW(PacketReader{bad}, PacketError);
  bad = good;
  Patch32(bad, 16, 0xFFFFFFFF);  // row count far beyond the bytes: no allocation for it
  EXPECT_THROW(PacketReader{bad}, PacketError);
  bad = good;
  Patch32(bad, 12, 1000);  // field count beyond the descriptions
  EXPECT_THROW(PacketReader{bad}, PacketError);
  bad = good;
  Patch32(bad, 20, 0xFFFFFFF0);  // descriptions past the end
  EXPECT_THROW(PacketReader{bad}, PacketError);
  try {
    bad = good;
    bad[0] = 0;
    PacketReader r(bad);
    FAIL();
  } catch (const PacketError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Invalid data packet", 0), 0u);
  }
}

}  // namespace
}  // namespace quor::engine
