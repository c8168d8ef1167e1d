// The change log half of the store: rows inserted locally carry a change id
// (from 1, never reused in one store) and their posting time until the server
// has taken them. The log goes out as a delta packet, each row with its
// change id and posting time, the packet with the log's identity (random,
// fixed for the store's life), so that a delta sent again after a lost answer
// names the same rows and the server can store each of them once. The
// server's answer names the rows it rejected by their 1-based row in that
// delta, and reconciling matches them back by change id, so a row settled
// meanwhile is left alone. A change id of 0 marks a row that has left the log.

#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>

#include "engine/Store.h"

namespace quor::engine {

std::int64_t UnixTimeMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string NewChangeLogId() {
  std::string id(kChangeLogIdSize, '\0');
  std::size_t got = 0;
  while (got < id.size()) {
    const ssize_t n = getrandom(id.data() + got, id.size() - got, 0);
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  if (got < id.size()) {
    // No kernel randomness (never on a current Linux): time, process and a
    // counter still make two stores of one machine differ.
    static std::atomic<std::uint64_t> counter{0};
    const std::uint64_t words[2] = {
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
            (static_cast<std::uint64_t>(getpid()) << 40),
        static_cast<std::uint64_t>(UnixTimeMs()) ^ (counter.fetch_add(1) << 48)};
    std::memcpy(id.data(), words, id.size());
  }
  return id;
}

Status Store::TakeDelta(IDSBase** delta) {
  if (delta == nullptr) return Fail(kErrorInvalidArgument, "No place for the delta given");
  *delta = nullptr;
  return Guard([&]() -> Status {
    if (!hasFields_) return Fail(kErrorNoData, "The dataset holds no data packet");
    if (kind_ != PacketKind::kData)
      return Fail(kErrorInvalidArgument, "Only a dataset of rows has a change log to take");
    PacketWriter w(PacketKind::kDelta, FieldDefs());
    if (!changeLogId_.empty()) w.AddParam(Param::Bytes(kChangeLogParam, changeLogId_));
    std::string now(8, '\0');
    const auto ms = static_cast<std::uint64_t>(UnixTimeMs());
    for (std::size_t b = 0; b < 8; ++b) now[b] = static_cast<char>(ms >> (8 * b));
    w.AddParam(Param::Bytes(kDeltaTimeParam, now));
    for (const Chunk& c : chunks_) {
      if (!c.inserted) continue;
      for (std::uint32_t i = 0; i < c.offsets.size(); ++i) {
        if (c.changeIds[i] == 0) continue;
        w.AppendEncodedDeltaRow({c.changeIds[i], UpdateStatus::kInserted, c.postedAt[i]},
                                EncodedRow(c, i));
      }
    }
    const std::vector<std::uint8_t> packet = w.Finish();
    Ref<Store> d = Ref<Store>::Adopt(new Store);
    if (const Status s =
            d->AppendPacket(packet.data(), static_cast<std::uint32_t>(packet.size()), -1))
      return Fail(s, "The delta could not be built");
    d->wideText_ = wideText_;
    *delta = d.Detach();
    return kStatusOk;
  });
}

bool Store::FindChange(std::uint32_t changeId, std::size_t* chunk, std::uint32_t* index) const {
  if (changeId == 0) return false;
  for (std::size_t c = 0; c < chunks_.size(); ++c) {
    if (!chunks_[c].inserted) continue;
    const auto& ids = chunks_[c].changeIds;
    const auto it = std::find(ids.begin(), ids.end(), changeId);
    if (it != ids.end()) {
      *chunk = c;
      *index = static_cast<std::uint32_t>(it - ids.begin());
      return true;
    }
  }
  return false;
}

void Store::AcceptEntry(std::size_t chunk, std::uint32_t index) {
  std::uint32_t& id = chunks_[chunk].changeIds[index];
  if (id != 0) {
    id = 0;
    --changeCount_;
  }
}

void Store::RemoveRow(std::size_t chunk, std::uint32_t index) {
  AcceptEntry(chunk, index);
  Chunk& c = chunks_[chunk];
  dataBytes_ -= EncodedRow(c, index).size();
  // The row's bytes stay in the arena unused; only its offset goes.
  c.offsets.erase(c.offsets.begin() + index);
  c.changeIds.erase(c.changeIds.begin() + index);
  c.postedAt.erase(c.postedAt.begin() + index);
  if (c.offsets.empty()) chunks_.erase(chunks_.begin() + static_cast<std::ptrdiff_t>(chunk));
  RebuildStarts();
}

Status Store::AcceptChanges() {
  for (Chunk& c : chunks_)
    if (c.inserted) std::fill(c.changeIds.begin(), c.changeIds.end(), 0u);
  changeCount_ = 0;
  return kStatusOk;
}

Status Store::Reconcile(const std::uint8_t* delta, std::uint32_t deltaSize,
                        const std::uint8_t* errors, std::uint32_t errorsSize,
                        ReconcileCallback callback, void* context) {
  return Guard([&]() -> Status {
    if (!hasFields_) return Fail(kErrorNoData, "The dataset holds no data packet");
    if ((delta == nullptr && deltaSize != 0) || (errors == nullptr && errorsSize != 0))
      return Fail(kErrorInvalidArgument, "Reconcile: no delta or error packet given");
    PacketReader d(std::span<const std::uint8_t>(delta, deltaSize), &fields_);
    if (d.Kind() != PacketKind::kDelta)
      return Fail(kErrorInvalidPacket,
                  "Invalid data packet: reconcile needs the delta that was sent");
    PacketReader e(std::span<const std::uint8_t>(errors, errorsSize));
    const auto& ef = e.Fields();
    if (e.Kind() != PacketKind::kErrors || ef.size() != 4 || ef[0].type != FieldType::kInt32 ||
        ef[1].type != FieldType::kText16 || ef[2].type != FieldType::kInt32 ||
        ef[3].type != FieldType::kText16)
      return Fail(kErrorInvalidPacket, "Invalid data packet: not an answer of rejected rows");

    std::vector<bool> failed(d.RowCount(), false);
    for (std::uint32_t r = 0; r < e.RowCount(); ++r) {
      const std::int64_t row = e.Row(r).Integer(0);
      if (row < 1 || row > d.RowCount())
        return Fail(kErrorInvalidPacket, "Invalid data packet: a rejected row names row " +
                                             std::to_string(row) + " of a delta of " +
                                             std::to_string(d.RowCount()));
      failed[static_cast<std::size_t>(row - 1)] = true;
    }
    // Rows the answer does not name went in: they leave the change log.
    for (std::uint32_t r = 0; r < d.RowCount(); ++r) {
      std::size_t c = 0;
      std::uint32_t i = 0;
      if (!failed[r] && FindChange(d.Row(r).ChangeId(), &c, &i)) AcceptEntry(c, i);
    }
    for (std::uint32_t r = 0; r < e.RowCount(); ++r) {
      const RowView er = e.Row(r);
      const auto deltaRow = static_cast<std::uint32_t>(er.Integer(0));
      std::size_t c = 0;
      std::uint32_t i = 0;
      if (!FindChange(d.Row(deltaRow - 1).ChangeId(), &c, &i)) continue;  // already settled
      const std::string message = er.Text8(1);
      const std::string where = er.Text8(3);
      const ReconcileError info{deltaRow, static_cast<std::int32_t>(er.Integer(2)), message.c_str(),
                                where.c_str(), ReconcileAction::kSkip};
      ReconcileAction action = info.suggested;
      if (callback != nullptr) {
        try {
          action = callback(context, info);
        } catch (...) {
          action = ReconcileAction::kAbort;
        }
      }
      if (action == ReconcileAction::kAbort) break;
      if (action == ReconcileAction::kMerge || action == ReconcileAction::kRefresh)
        AcceptEntry(c, i);
      if (action == ReconcileAction::kCancel) RemoveRow(c, i);
    }
    return kStatusOk;
  });
}

}  // namespace quor::engine
