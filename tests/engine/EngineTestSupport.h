#pragma once
// Helpers shared by the engine tests: song-like packets as the server writes
// them, and a thin wrapper that creates engine objects in-process.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/Packet.h"
#include "engine/Store.h"

namespace quor::engine::test {

// SINGID (int32), SINGNAME (UTF-16, 100 bytes), SINGER (UTF-16, 40 bytes).
inline std::vector<FieldDef> SongFields() {
  return {FieldDef{"SINGID", FieldType::kInt32, 4, kFieldRequired, {}},
          FieldDef{"SINGNAME", FieldType::kText16, 100, 0, {}},
          FieldDef{"SINGER", FieldType::kText16, 40, 0, {}}};
}

// Rows first..first+count-1: SINGID 10000+i, SINGNAME "歌曲i", SINGER "歌手i%7"
// (blank every 5th row).
inline std::vector<std::uint8_t> SongPacket(int first, int count, bool withDescriptions = true,
                                            bool readOnly = false) {
  PacketWriter w(PacketKind::kData, SongFields(), withDescriptions);
  w.SetReadOnly(readOnly);
  if (withDescriptions) w.AddParam(Param::Boolean("DISABLE_DELETES", true));
  for (int i = first; i < first + count; ++i) {
    w.BeginRow();
    w.AddInt64(10000 + i);
    w.AddTextUtf8("歌曲" + std::to_string(i));
    if (i % 5 == 0)
      w.AddNull();
    else
      w.AddTextUtf8("歌手" + std::to_string(i % 7));
    w.EndRow();
  }
  return w.Finish();
}

inline Ref<IDSBase> NewStore() {
  void* p = nullptr;
  EXPECT_EQ(CreateEngineObject(kClsidDSBase, kIidDSBase, &p), kStatusOk);
  return Ref<IDSBase>::Adopt(static_cast<IDSBase*>(p));
}

inline Ref<IDSCursor> NewCursor(IDSBase* store) {
  void* p = nullptr;
  EXPECT_EQ(CreateEngineObject(kClsidDSCursor, kIidDSCursor, &p), kStatusOk);
  auto c = Ref<IDSCursor>::Adopt(static_cast<IDSCursor*>(p));
  if (store != nullptr) {
    EXPECT_EQ(c->Attach(store), kStatusOk);
  }
  return c;
}

inline Status Append(IDSBase* store, const std::vector<std::uint8_t>& packet, bool last = true) {
  return store->AppendPacket(packet.data(), static_cast<std::uint32_t>(packet.size()),
                             last ? -1 : 0);
}

inline std::string Message(IDSBase* store, Status s) {
  std::vector<char> buf(kStatusMessageSize, 'x');
  EXPECT_EQ(store->GetStatusMessage(s, buf.data(), kStatusMessageSize), kStatusOk);
  return std::string(buf.data());
}

// Reads field n of the current row as UTF-16 text (wide mode) or int.
struct RowReader {
  IDSCursor* cursor;
  std::vector<std::uint8_t> row;

  explicit RowReader(IDSCursor* c) : cursor(c) {
    DSCursorProps p{};
    EXPECT_EQ(c->GetCursorProps(&p), kStatusOk);
    row.resize(p.rowBufferSize);
  }
  Status Copy() {
    return cursor->CopyCurrentRow(row.data(), static_cast<std::uint32_t>(row.size()));
  }
  std::int32_t Int(std::uint32_t field) {
    std::int32_t v = 0;
    bool blank = true;
    EXPECT_EQ(
        cursor->ReadField(row.data(), static_cast<std::uint32_t>(row.size()), field, &v, 4, &blank),
        kStatusOk);
    return blank ? -1 : v;
  }
  // UTF-16 field in wide mode: length-prefixed units. "<blank>" when blank.
  std::u16string Wide(std::uint32_t field) {
    std::vector<std::uint8_t> v(70000);
    bool blank = false;
    EXPECT_EQ(cursor->ReadField(row.data(), static_cast<std::uint32_t>(row.size()), field, v.data(),
                                static_cast<std::uint32_t>(v.size()), &blank),
              kStatusOk);
    if (blank) return u"<blank>";
    const std::size_t len = v[0] | (v[1] << 8);
    std::u16string s(len / 2, u'\0');
    for (std::size_t i = 0; i < s.size(); ++i)
      s[i] = static_cast<char16_t>(v[2 + 2 * i] | (v[3 + 2 * i] << 8));
    return s;
  }
  // 8-bit text (or UTF-16 in the default mode, as GBK).
  std::string Narrow(std::uint32_t field) {
    std::vector<char> v(140000);
    bool blank = false;
    EXPECT_EQ(cursor->ReadField(row.data(), static_cast<std::uint32_t>(row.size()), field, v.data(),
                                static_cast<std::uint32_t>(v.size()), &blank),
              kStatusOk);
    return blank ? "<blank>" : std::string(v.data());
  }
};

}  // namespace quor::engine::test
