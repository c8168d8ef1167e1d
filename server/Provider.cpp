#include "server/Provider.h"

#include <algorithm>
#include <chrono>
#include <ctime>

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

std::string SizeText(std::size_t bytes) {
  if (bytes >= (1u << 20) && bytes % (1u << 20) == 0) return std::to_string(bytes >> 20) + " MB";
  if (bytes >= 1024 && bytes % 1024 == 0) return std::to_string(bytes >> 10) + " KB";
  return std::to_string(bytes) + " bytes";
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

}  // namespace

std::vector<ProviderDefinition> StandardProviders() {
  return {
      // A terminal opens its datasets with an empty command at start and
      // never shows those rows (each screen runs its own statement first):
      // the default statements answer the layout alone, a few hundred bytes,
      // however large the catalogue.
      {"songDataSetProvider", "select * from vodinfo where 1 = 0", ""},
      {"singerDataSetProvider", "select * from singer where 1 = 0", ""},
      // The layout of the room request as a terminal fills it, without rows:
      // the columns the server fills from the change log stay out of it.
      {"tempDataSetProvider", "select ClientName, CalledAt, Peer from roomcall where 1 = 0",
       "roomcall"},
  };
}

std::string LocalTimestamp() {
  return LocalTimestamp(UnixNowMs());
}

std::string LocalTimestamp(std::int64_t unixMs) {
  const std::time_t seconds = static_cast<std::time_t>(unixMs / 1000);
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

std::int64_t UnixNowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

Provider::Provider(ProviderDefinition definition, std::function<SqlBackend&()> database,
                   ProviderLimits limits)
    : definition_(std::move(definition)), database_(std::move(database)), limits_(limits) {}

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
      // A result sent whole takes its text sizes from its rows; one that
      // comes in packets needs sizes that hold the rows still to come; an
      // empty one the declared sizes, which rows the terminal inserts must fit.
      const bool paged = count >= 0;
      cursor_ =
          paged ? database_().OpenReadOnly(statement) : database_().OpenReadOnlyWhole(statement);
      statement_ = statement;
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
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(limits_.timeLimitMs);
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
      if (writer.RowBytes() > limits_.maxResultBytes) {
        throw SqlError("The result is larger than " + SizeText(limits_.maxResultBytes) +
                       "; narrow the statement or fetch it in smaller packets");
      }
      // The clock is read once every 1024 rows: nothing on the hot path.
      if ((sent & 1023) == 1023 && limits_.timeLimitMs != 0 &&
          std::chrono::steady_clock::now() > deadline) {
        throw SqlError("The statement ran longer than " +
                       std::to_string(limits_.timeLimitMs / 1000) + " s and was stopped");
      }
      if (++sent == INT32_MAX) break;
    }
    // Fewer rows than asked for: the statement has given its last row.
    if (count < 0 || sent < count) Reset();
  }
  recsOut = sent;
  return writer.Finish();
}

}  // namespace quor::server
