#include "server/Provider.h"

#include <algorithm>
#include <ctime>

#include "platform/AsciiCase.h"

namespace quor::server {
namespace {

using engine::FieldDef;
using engine::PacketKind;
using engine::PacketWriter;

// A text or bytes field of a result sent in several packets keeps, in every
// packet, the size the first one declared; the database may not know (or, as
// SQLite, not enforce) a length, so such fields get a share of the largest
// row buffer, at most the largest value a packet carries.
constexpr std::uint32_t kPagedValueBytes = (engine::kMaxValueBytes - 1) & ~1u;
constexpr std::uint32_t kPagedRowBudget = engine::kMaxRowBufferBytes / 2;
// Characters a text field of an empty result holds when the database declares
// no length.
constexpr std::uint32_t kUndeclaredChars = 255;

// Field names travel as 1 to 255 bytes of UTF-8; a longer name (an expression
// column is named by its text) is cut at a character boundary.
std::string FieldName(const std::string& name, std::size_t index) {
  if (name.empty()) return "COLUMN" + std::to_string(index + 1);
  if (name.size() <= 255) return name;
  std::size_t cut = 255;
  while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
  return name.substr(0, cut);
}

engine::FieldType PacketType(FieldType type) {
  switch (type) {
    case FieldType::Int32:
      return engine::FieldType::kInt32;
    case FieldType::Int64:
      return engine::FieldType::kInt64;
    case FieldType::Real:
      return engine::FieldType::kDouble;
    case FieldType::Blob:
      return engine::FieldType::kBytes;
    case FieldType::Text:
      break;
  }
  return engine::FieldType::kText16;
}

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

}  // namespace

std::vector<ProviderDefinition> StandardProviders() {
  return {
      {"songDataSetProvider", "select * from vodinfo", ""},
      {"singerDataSetProvider", "select * from singer", ""},
      // The layout of the room request table, without its rows.
      {"tempDataSetProvider", "select * from roomcall where 1 = 0", "roomcall"},
  };
}

std::string LocalTimestamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

Provider::Provider(ProviderDefinition definition, std::function<SqlBackend&()> database)
    : definition_(std::move(definition)), database_(std::move(database)) {}

Provider::~Provider() = default;

void Provider::Reset() {
  firstPending_ = false;
  cursor_.reset();
  statement_.clear();
}

RecordsAnswer Provider::GetRecords(std::int32_t count, std::int32_t options,
                                   std::string_view commandUtf8) {
  RecordsAnswer answer;
  if ((options & remote::kOptionReset) != 0) {
    Reset();
    return answer;
  }
  const bool start = (options & remote::kOptionFieldDescriptions) != 0 || !commandUtf8.empty();
  if (!start && !described_) {
    throw SqlError("No statement has been run on provider " + definition_.name +
                   "; the first request must ask for the field descriptions");
  }
  try {
    if (start) {
      Reset();
      const std::string statement =
          commandUtf8.empty() ? definition_.defaultStatement : std::string(commandUtf8);
      answer.statement = statement;
      cursor_ = database_().OpenReadOnly(statement);
      statement_ = statement;
      // A result sent whole takes its text sizes from its rows; one that
      // comes in packets needs sizes that hold the rows still to come; an
      // empty one the declared sizes, which rows the terminal inserts must fit.
      const bool paged = count >= 0;
      if (!paged) {
        firstRow_ = cursor_->Step();
        firstPending_ = true;
      }
      fields_ = Describe(cursor_->Columns(), paged       ? Sizing::kPaged
                                             : firstRow_ ? Sizing::kFromRows
                                                         : Sizing::kDeclared);
      described_ = true;
    } else {
      answer.statement = statement_.empty() ? "(ended statement)" : statement_;
    }
    answer.packet = WriteRows(start, count, answer.recsOut);
  } catch (...) {
    // A statement that failed on the way is not left open half-read.
    Reset();
    throw;
  }
  return answer;
}

std::vector<FieldDef> Provider::Describe(const std::vector<ColumnInfo>& columns,
                                         Sizing sizing) const {
  std::vector<FieldDef> fields;
  fields.reserve(columns.size());
  std::size_t variable = 0;
  for (const ColumnInfo& column : columns) {
    variable += column.type == FieldType::Text || column.type == FieldType::Blob;
  }
  const std::uint32_t share =
      variable == 0 ? kPagedValueBytes
                    : std::min<std::uint32_t>(
                          kPagedValueBytes, static_cast<std::uint32_t>(kPagedRowBudget / variable));
  for (std::size_t i = 0; i < columns.size(); ++i) {
    FieldDef field;
    field.name = FieldName(columns[i].name, i);
    field.type = PacketType(columns[i].type);
    const bool isVariable =
        field.type == engine::FieldType::kText16 || field.type == engine::FieldType::kBytes;
    if (!isVariable) {
      field.size = 0;
    } else if (sizing == Sizing::kPaged) {
      field.size = share & ~1u;
    } else if (sizing == Sizing::kFromRows) {
      field.size = engine::kSizeFromRows;
    } else {
      const std::uint64_t declared = columns[i].size != 0 ? columns[i].size : kUndeclaredChars;
      const std::uint64_t bytes =
          field.type == engine::FieldType::kText16 ? declared * 2 : declared;
      field.size = static_cast<std::uint32_t>(std::min<std::uint64_t>(bytes, kPagedValueBytes));
    }
    fields.push_back(std::move(field));
  }
  return fields;
}

std::vector<std::uint8_t> Provider::WriteRows(bool withDescriptions, std::int32_t count,
                                              std::int32_t& recsOut) {
  PacketWriter writer(PacketKind::kData, fields_, withDescriptions);
  writer.SetReadOnly(definition_.updateTable.empty());
  std::int32_t sent = 0;
  if (cursor_) {
    const std::vector<ColumnInfo>& columns = cursor_->Columns();
    const std::size_t width = columns.size();
    SqlCursor& cursor = *cursor_;
    auto next = [&] {
      if (firstPending_) {
        firstPending_ = false;
        return firstRow_;
      }
      return cursor.Step();
    };
    while ((count < 0 || sent < count) && next()) {
      writer.BeginRow();
      for (std::size_t i = 0; i < width; ++i) {
        std::int64_t integer = 0;
        std::string_view text;
        switch (columns[i].type) {
          case FieldType::Int32:
          case FieldType::Int64:
            if (cursor.IntegerValue(i, integer)) {
              writer.AddInt64(integer);
            } else {
              writer.AddNull();
            }
            break;
          case FieldType::Real:
            if (cursor.IsNull(i)) {
              writer.AddNull();
            } else {
              writer.AddDouble(cursor.Real(i));
            }
            break;
          case FieldType::Text:
            if (cursor.TextValue(i, text)) {
              writer.AddTextUtf8(text);
            } else {
              writer.AddNull();
            }
            break;
          case FieldType::Blob:
            if (cursor.TextValue(i, text)) {
              writer.AddBytes(text);
            } else {
              writer.AddNull();
            }
            break;
        }
      }
      writer.EndRow();
      if (writer.RowBytes() > kMaxPacketRowBytes) {
        throw SqlError("The result is larger than " + std::to_string(kMaxPacketRowBytes >> 20) +
                       " MB; narrow the statement or fetch it in smaller packets");
      }
      if (++sent == INT32_MAX) break;
    }
    // Fewer rows than asked for: the statement has given its last row.
    if (count < 0 || sent < count) Reset();
  }
  recsOut = sent;
  return writer.Finish();
}

UpdatesAnswer Provider::ApplyUpdates(std::span<const std::uint8_t> delta, std::int32_t maxErrors,
                                     const std::string& peer, const std::string& now) {
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

  // Where each delta field goes: a table column, nowhere (a column the server
  // fills), or unknown (the row cannot be stored as the terminal meant it).
  const auto& fields = reader.Fields();
  std::vector<std::optional<std::size_t>> target(fields.size());
  std::string unknownField;
  for (std::size_t k = 0; k < fields.size(); ++k) {
    if (platform::EqualsNoCase(fields[k].name, kCalledAtColumn) ||
        platform::EqualsNoCase(fields[k].name, kPeerColumn)) {
      continue;
    }
    const auto it = std::find_if(
        tableColumns.begin(), tableColumns.end(),
        [&](const std::string& c) { return platform::EqualsNoCase(c, fields[k].name); });
    if (it == tableColumns.end()) {
      if (unknownField.empty()) unknownField = fields[k].name;
    } else {
      target[k] = static_cast<std::size_t>(it - tableColumns.begin());
    }
  }

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
      std::vector<std::string> columns;
      std::vector<SqlValue> values;
      std::string described;
      std::string clientName;
      for (std::size_t k = 0; k < fields.size(); ++k) {
        if (!target[k]) continue;
        columns.push_back(tableColumns[*target[k]]);
        values.push_back(DeltaValue(row, k, fields[k].type));
        if (const auto* text = std::get_if<SqlText>(&values.back())) {
          if (!described.empty()) described += ' ';
          described += columns.back() + "=" + text->utf8;
          if (platform::EqualsNoCase(columns.back(), kClientNameColumn)) clientName = text->utf8;
        }
      }
      for (const std::string& c : tableColumns) {
        if (platform::EqualsNoCase(c, kCalledAtColumn)) {
          columns.push_back(c);
          values.emplace_back(SqlText{now});
        } else if (platform::EqualsNoCase(c, kPeerColumn)) {
          columns.push_back(c);
          values.emplace_back(SqlText{peer});
        }
      }
      try {
        database.InsertRow(table, columns, values);
        answer.stored.push_back(described);
        answer.clientNames.push_back(std::move(clientName));
      } catch (const SqlError& e) {
        rejected.push_back({rowNo, e.what(), e.Code()});
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
