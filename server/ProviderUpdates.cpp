// Provider: storing the rows of a delta (the room requests), each posted row
// once.
//
// A terminal keeps a row in its change log until an answer says the row went
// in. When the answer is lost (the connection dropped after the insert, or
// the terminal stopped waiting while the server went on), the row goes again
// with the next delta. The delta names its change log (16 random bytes) and
// each row's entry in it, and the table keeps that pair under a unique key:
// a row whose pair is already there is acknowledged as applied and not stored
// a second time.

#include <algorithm>

#include "platform/AsciiCase.h"
#include "server/Provider.h"

namespace quor::server {
namespace {

using engine::PacketKind;
using engine::PacketWriter;
using platform::EqualsNoCase;

SqlValue DeltaValue(const engine::RowView& row, std::size_t field, engine::FieldType type) {
  if (row.IsNull(field)) return std::monostate{};
  switch (type) {
    case engine::FieldType::kInt32:
    case engine::FieldType::kInt64:
    case engine::FieldType::kBoolean:
      return row.Integer(field);
    case engine::FieldType::kDouble:
      return row.Double(field);
    case engine::FieldType::kBytes: {
      const auto raw = row.Raw(field);
      return SqlBlob{std::string(reinterpret_cast<const char*>(raw.data()), raw.size())};
    }
    case engine::FieldType::kText8:
    case engine::FieldType::kText16:
      break;
  }
  return SqlText{row.TextUtf8(field)};
}

struct Rejected {
  std::int32_t row;
  std::string message;
  std::int32_t code;
};

bool ServerOwned(std::string_view column) {
  for (const char* owned :
       {kCalledAtColumn, kPeerColumn, kPostedAtColumn, kChangeLogColumn, kChangeIdColumn})
    if (EqualsNoCase(column, owned)) return true;
  return false;
}

std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (const char c : bytes) {
    const auto u = static_cast<unsigned char>(c);
    out += kDigits[u >> 4];
    out += kDigits[u & 15];
  }
  return out;
}

// What the delta says about when and where it was taken.
struct DeltaOrigin {
  std::string changeLog;                // hex; empty when the delta names no change log
  std::optional<std::int64_t> takenAt;  // the terminal's clock when the delta was taken
};

DeltaOrigin OriginOf(const engine::PacketReader& reader) {
  DeltaOrigin origin;
  if (const engine::Param* log = reader.FindParam(0, engine::kChangeLogParam);
      log != nullptr && log->type == engine::FieldType::kBytes &&
      log->value.size() == engine::kChangeLogIdSize) {
    origin.changeLog = Hex(log->value);
  }
  if (const engine::Param* taken = reader.FindParam(0, engine::kDeltaTimeParam);
      taken != nullptr && taken->type == engine::FieldType::kBytes && taken->value.size() == 8) {
    std::uint64_t ms = 0;
    for (std::size_t b = 0; b < 8; ++b)
      ms |= static_cast<std::uint64_t>(static_cast<unsigned char>(taken->value[b])) << (8 * b);
    origin.takenAt = static_cast<std::int64_t>(ms);
  }
  return origin;
}

// When the guest pressed, in server time. The terminal's clock may be off:
// what counts is how long before the delta was taken the row was posted,
// measured on that one clock, and taken back from the arrival. A row posted
// "after" its delta (the clock was set back) counts as posted on arrival.
std::string PostedAt(std::int64_t rowPostedAt, const DeltaOrigin& origin, std::int64_t arrivalMs) {
  if (rowPostedAt <= 0) return {};
  if (!origin.takenAt) return LocalTimestamp(rowPostedAt);
  const std::int64_t age = std::max<std::int64_t>(0, *origin.takenAt - rowPostedAt);
  return LocalTimestamp(arrivalMs - age);
}

}  // namespace

UpdatesAnswer Provider::ApplyUpdates(std::span<const std::uint8_t> delta, std::int32_t maxErrors,
                                     const std::string& peer, std::int64_t arrivalMs) {
  if (definition_.updateTable.empty()) {
    throw SqlError("Provider " + definition_.name + " does not accept updates");
  }
  UpdatesAnswer answer;
  if (delta.empty()) return answer;
  const engine::PacketReader reader(delta);
  if (reader.Kind() != PacketKind::kDelta) {
    throw SqlError("Invalid data packet: the updates are not a delta");
  }
  SqlBackend& database = database_();
  const std::string& table = definition_.updateTable;
  const std::vector<std::string> tableColumns = database.TableColumns(table);
  const DeltaOrigin origin = OriginOf(reader);
  const std::string calledAt = LocalTimestamp(arrivalMs);

  // Where each delta field goes: a table column, nowhere (a column the server
  // fills), or unknown (the row cannot be stored as the terminal meant it).
  const auto& fields = reader.Fields();
  std::vector<std::optional<std::size_t>> target(fields.size());
  std::string unknownField;
  for (std::size_t k = 0; k < fields.size(); ++k) {
    if (ServerOwned(fields[k].name)) continue;
    const auto it =
        std::find_if(tableColumns.begin(), tableColumns.end(),
                     [&](const std::string& c) { return EqualsNoCase(c, fields[k].name); });
    if (it == tableColumns.end()) {
      if (unknownField.empty()) unknownField = fields[k].name;
    } else {
      target[k] = static_cast<std::size_t>(it - tableColumns.begin());
    }
  }
  // The identity columns, when the table has them (an older table the
  // server could not extend stores rows without them, and cannot tell a
  // repeat).
  std::string logColumn;
  std::string idColumn;
  for (const std::string& c : tableColumns) {
    if (EqualsNoCase(c, kChangeLogColumn)) logColumn = c;
    if (EqualsNoCase(c, kChangeIdColumn)) idColumn = c;
  }
  const bool identified = !origin.changeLog.empty() && !logColumn.empty() && !idColumn.empty();

  std::vector<Rejected> rejected;
  bool stopped = false;
  for (std::uint32_t r = 0; r < reader.RowCount(); ++r) {
    const std::int32_t rowNo = static_cast<std::int32_t>(r + 1);
    if (stopped) {
      rejected.push_back(
          {rowNo,
           "Not applied: more than " + std::to_string(maxErrors) + " rows of this delta failed",
           kRowNotAttempted});
      continue;
    }
    const engine::RowView row = reader.Row(r);
    if (row.Status() != engine::UpdateStatus::kInserted) {
      rejected.push_back({rowNo, "Only inserted rows can be applied", kRowMalformed});
    } else if (!unknownField.empty()) {
      rejected.push_back(
          {rowNo, "Field '" + unknownField + "' is not a column of " + table, kRowMalformed});
    } else {
      PostedRow posted;
      posted.changeLog = origin.changeLog;
      posted.changeId = row.ChangeId();
      posted.postedAt = PostedAt(row.PostedAt(), origin, arrivalMs);
      std::vector<std::string> columns;
      std::vector<SqlValue> values;
      for (std::size_t k = 0; k < fields.size(); ++k) {
        if (!target[k]) continue;
        columns.push_back(tableColumns[*target[k]]);
        values.push_back(DeltaValue(row, k, fields[k].type));
        if (const auto* text = std::get_if<SqlText>(&values.back())) {
          if (!posted.described.empty()) posted.described += ' ';
          posted.described += columns.back() + "=" + text->utf8;
          if (EqualsNoCase(columns.back(), kClientNameColumn)) posted.clientName = text->utf8;
        }
      }
      for (const std::string& c : tableColumns) {
        std::optional<SqlValue> value;
        if (EqualsNoCase(c, kCalledAtColumn)) {
          value = SqlText{calledAt};
        } else if (EqualsNoCase(c, kPeerColumn)) {
          value = SqlText{peer};
        } else if (EqualsNoCase(c, kPostedAtColumn)) {
          value = posted.postedAt.empty() ? SqlValue{} : SqlValue{SqlText{posted.postedAt}};
        } else if (EqualsNoCase(c, kChangeLogColumn)) {
          value = identified ? SqlValue{SqlText{posted.changeLog}} : SqlValue{};
        } else if (EqualsNoCase(c, kChangeIdColumn)) {
          value = identified ? SqlValue{std::int64_t{posted.changeId}} : SqlValue{};
        }
        if (!value) continue;
        columns.push_back(c);
        values.push_back(std::move(*value));
      }
      try {
        database.InsertRow(table, columns, values);
        answer.stored.push_back(std::move(posted));
      } catch (const SqlError& e) {
        // A repeat only when the unique key that refused it is the one on
        // the change log entry: any other key refuses the row as it is.
        if (identified && e.DuplicateKey() &&
            database.RowExists(table, {logColumn, idColumn},
                               {SqlText{posted.changeLog}, std::int64_t{posted.changeId}})) {
          answer.repeated.push_back(std::move(posted));
        } else {
          rejected.push_back({rowNo, e.what(), e.Code()});
        }
      }
    }
    if (maxErrors >= 0 && rejected.size() > static_cast<std::size_t>(maxErrors)) stopped = true;
  }

  answer.errorCount = static_cast<std::int32_t>(rejected.size());
  if (!rejected.empty()) {
    PacketWriter writer(PacketKind::kErrors, engine::ErrorPacketFields());
    const std::string context = "insert into " + table;
    for (const Rejected& r : rejected) {
      writer.BeginRow();
      writer.AddInt64(r.row);
      writer.AddTextUtf8(r.message);
      writer.AddInt64(r.code);
      writer.AddTextUtf8(context);
      writer.EndRow();
    }
    answer.errors = writer.Finish();
  }
  return answer;
}

}  // namespace quor::server
