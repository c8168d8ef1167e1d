// Fuzzes the data packet reader and the engine's use of what it accepts:
// whatever the bytes, the reader either refuses them with PacketError or
// yields rows whose every value can be read, and the store either refuses the
// packet with a status or holds rows that a cursor can walk and copy.
// The first byte picks how the rest is used (as a first packet, as a further
// packet of a known layout, or as a server's answer of rejected rows).

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/Packet.h"
#include "engine/Store.h"

using namespace quor::engine;

namespace {

const std::vector<FieldInfo>& KnownSongFields() {
  static const std::vector<FieldInfo> fields{FieldInfo{"SINGID", FieldType::kInt32, 4, 0, {}},
                                             FieldInfo{"SINGNAME", FieldType::kText16, 100, 0, {}},
                                             FieldInfo{"SINGER", FieldType::kText8, 40, 0, {}}};
  return fields;
}

void ReadEverything(const PacketReader& r) {
  for (std::uint32_t i = 0; i < r.RowCount(); ++i) {
    const RowView row = r.Row(i);
    (void)row.ChangeId();
    for (std::size_t f = 0; f < r.Fields().size(); ++f) {
      if (row.IsNull(f)) continue;
      switch (r.Fields()[f].type) {
        case FieldType::kText8:
        case FieldType::kText16:
          (void)row.Text16(f);
          break;
        case FieldType::kDouble:
          (void)row.Double(f);
          break;
        case FieldType::kBytes:
          (void)row.Raw(f);
          break;
        default:
          (void)row.Integer(f);
          break;
      }
    }
  }
}

void WalkStore(const std::uint8_t* data, std::size_t size) {
  void* p = nullptr;
  if (CreateEngineObject(kClsidDSBase, kIidDSBase, &p) != kStatusOk) return;
  auto store = Ref<IDSBase>::Adopt(static_cast<IDSBase*>(p));
  if (store->AppendPacket(data, static_cast<std::uint32_t>(size), 0) != kStatusOk) return;
  store->AppendPacket(data, static_cast<std::uint32_t>(size), -1);  // again, as a further packet
  if (CreateEngineObject(kClsidDSCursor, kIidDSCursor, &p) != kStatusOk) return;
  auto cursor = Ref<IDSCursor>::Adopt(static_cast<IDSCursor*>(p));
  cursor->Attach(store.get());
  DSProps props{};
  store->GetProps(&props);
  std::vector<DSFieldDesc> descs(props.fieldCount);
  store->GetFieldDescs(descs.data());
  std::vector<std::uint8_t> row(props.rowBufferSize);
  std::vector<std::uint8_t> value(140000);
  bool blank = false;
  for (int wide = 0; wide < 2; ++wide) {
    store->SetProp(kPropWideText, static_cast<std::uint32_t>(wide));
    cursor->MoveBeforeFirst();
    while (cursor->MoveRelative(1) == kStatusOk) {
      cursor->CopyCurrentRow(row.data(), static_cast<std::uint32_t>(row.size()));
      for (std::uint32_t f = 1; f <= props.fieldCount; ++f)
        cursor->ReadField(row.data(), static_cast<std::uint32_t>(row.size()), f, value.data(),
                          static_cast<std::uint32_t>(value.size()), &blank);
    }
  }
  // Insert a copy of the last row read and take it back as a delta.
  if (props.rowCount > 0 &&
      cursor->InsertRow(row.data(), static_cast<std::uint32_t>(row.size())) == 0) {
    IDSBase* delta = nullptr;
    if (store->TakeDelta(&delta) == kStatusOk) delta->Release();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t mode = data[0] % 3;
  const std::span<const std::uint8_t> bytes(data + 1, size - 1);
  try {
    const PacketReader r(bytes, mode == 1 ? &KnownSongFields() : nullptr);
    ReadEverything(r);
  } catch (const PacketError&) {
  }
  if (mode == 0) WalkStore(bytes.data(), bytes.size());
  if (mode == 2) {
    // The bytes as a server's answer to a delta of two room rows.
    void* p = nullptr;
    if (CreateEngineObject(kClsidDSBase, kIidDSBase, &p) != kStatusOk) return 0;
    auto store = Ref<IDSBase>::Adopt(static_cast<IDSBase*>(p));
    PacketWriter w(PacketKind::kData, {FieldDef{"ClientName", FieldType::kText16, 20, 0, {}}});
    const auto layout = w.Finish();
    store->AppendPacket(layout.data(), static_cast<std::uint32_t>(layout.size()), -1);
    if (CreateEngineObject(kClsidDSCursor, kIidDSCursor, &p) != kStatusOk) return 0;
    auto cursor = Ref<IDSCursor>::Adopt(static_cast<IDSCursor*>(p));
    cursor->Attach(store.get());
    std::vector<std::uint8_t> row(64);
    for (int i = 0; i < 2; ++i) {
      cursor->BlankRow(row.data(), 64);
      const std::uint8_t name[] = {2, 0, 'A', 0};
      cursor->WriteField(row.data(), 64, 1, name, 4);
      cursor->InsertRow(row.data(), 64);
    }
    IDSBase* delta = nullptr;
    if (store->TakeDelta(&delta) != kStatusOk) return 0;
    std::uint8_t* d = nullptr;
    std::uint32_t dsize = 0;
    if (delta->StreamPacket(&d, &dsize) == kStatusOk) {
      store->Reconcile(
          d, dsize, bytes.data(), static_cast<std::uint32_t>(bytes.size()),
          [](void*, const ReconcileError& e) {
            return static_cast<ReconcileAction>(1 + e.deltaRow % 6);
          },
          nullptr);
      delta->FreePacket(d);
    }
    delta->Release();
  }
  return 0;
}
