#include "server/MariaDbCursor.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace quor::server {
namespace {

constexpr unsigned kErrReadOnlyTransaction = 1792;
constexpr unsigned kErrStatementTimeout = 1969;
constexpr unsigned kBinaryCharset = 63;
constexpr std::size_t kInitialTextBuffer = 4096;

unsigned MaxBytesPerChar(unsigned charsetNumber) {
  const MARIADB_CHARSET_INFO* info = mariadb_get_charset_by_nr(charsetNumber);
  return info != nullptr && info->char_maxlen > 0 ? info->char_maxlen : 4;
}

std::uint32_t Clamp32(unsigned long value) {
  return static_cast<std::uint32_t>(std::min<unsigned long>(value, 0xFFFFFFFFul));
}

// The column's travel type and the buffer type it is fetched into.
ColumnInfo Describe(const MYSQL_FIELD& field, enum_field_types& fetchAs) {
  ColumnInfo column;
  column.name.assign(field.name, field.name_length);
  const bool isUnsigned = (field.flags & UNSIGNED_FLAG) != 0;
  switch (field.type) {
    case MYSQL_TYPE_TINY:
    case MYSQL_TYPE_SHORT:
    case MYSQL_TYPE_INT24:
    case MYSQL_TYPE_YEAR:
      column.type = FieldType::Int32;
      fetchAs = MYSQL_TYPE_LONGLONG;
      break;
    case MYSQL_TYPE_LONG:  // an unsigned INT does not fit 32 signed bits
      column.type = isUnsigned ? FieldType::Int64 : FieldType::Int32;
      fetchAs = MYSQL_TYPE_LONGLONG;
      break;
    case MYSQL_TYPE_LONGLONG:  // an unsigned BIGINT may not fit 64 signed bits
      column.type = isUnsigned ? FieldType::Text : FieldType::Int64;
      column.size = isUnsigned ? 20 : 0;
      fetchAs = isUnsigned ? MYSQL_TYPE_STRING : MYSQL_TYPE_LONGLONG;
      break;
    case MYSQL_TYPE_FLOAT:
    case MYSQL_TYPE_DOUBLE:
      column.type = FieldType::Real;
      fetchAs = MYSQL_TYPE_DOUBLE;
      break;
    case MYSQL_TYPE_BIT:
    case MYSQL_TYPE_GEOMETRY:
      column.type = FieldType::Blob;
      column.size = Clamp32(field.type == MYSQL_TYPE_BIT ? (field.length + 7) / 8 : 0);
      fetchAs = MYSQL_TYPE_BLOB;
      break;
    case MYSQL_TYPE_TINY_BLOB:
    case MYSQL_TYPE_MEDIUM_BLOB:
    case MYSQL_TYPE_LONG_BLOB:
    case MYSQL_TYPE_BLOB:
    case MYSQL_TYPE_VAR_STRING:
    case MYSQL_TYPE_STRING:
    case MYSQL_TYPE_VARCHAR:
      if (field.charsetnr == kBinaryCharset) {
        column.type = FieldType::Blob;
        column.size = Clamp32(field.length);
        fetchAs = MYSQL_TYPE_BLOB;
      } else {
        column.type = FieldType::Text;
        column.size = Clamp32(field.length / MaxBytesPerChar(field.charsetnr));
        fetchAs = MYSQL_TYPE_STRING;
      }
      break;
    default:  // DECIMAL, dates and times, ENUM, SET, JSON, NULL: their text
      column.type = FieldType::Text;
      column.size = field.type == MYSQL_TYPE_NULL ? 0 : Clamp32(field.length);
      fetchAs = MYSQL_TYPE_STRING;
      break;
  }
  return column;
}

class MariaDbCursor final : public SqlCursor {
 public:
  MariaDbCursor(std::shared_ptr<MariaDbConnection> connection, MYSQL_STMT* stmt, unsigned limitMs,
                std::size_t maxValueBytes, bool streaming)
      : connection_(std::move(connection)),
        limitMs_(limitMs),
        maxValueBytes_(maxValueBytes),
        rowsPending_(streaming) {
    statement_.stmt = stmt;
    connection_->streamPending = streaming;
    MYSQL_RES* meta = mysql_stmt_result_metadata(stmt);
    if (meta == nullptr) throw SqlError("SQL error: the statement returns no columns");
    const unsigned count = mysql_num_fields(meta);
    const MYSQL_FIELD* fields = mysql_fetch_fields(meta);
    columns_.reserve(count);
    slots_.resize(count);
    binds_.assign(count, MYSQL_BIND{});
    for (unsigned i = 0; i < count; ++i) {
      enum_field_types fetchAs = MYSQL_TYPE_STRING;
      columns_.push_back(Describe(fields[i], fetchAs));
      Slot& slot = slots_[i];
      MYSQL_BIND& bind = binds_[i];
      bind.buffer_type = fetchAs;
      bind.length = &slot.length;
      bind.is_null = &slot.isNull;
      bind.error = &slot.error;
      if (fetchAs == MYSQL_TYPE_LONGLONG) {
        bind.buffer = &slot.integer;
        bind.is_unsigned = (fields[i].flags & UNSIGNED_FLAG) != 0;
      } else if (fetchAs == MYSQL_TYPE_DOUBLE) {
        bind.buffer = &slot.real;
      } else {
        slot.bytes.resize(std::clamp<std::size_t>(fields[i].length, 16, kInitialTextBuffer));
        bind.buffer = slot.bytes.data();
        bind.buffer_length = slot.bytes.size();
      }
    }
    mysql_free_result(meta);
    if (mysql_stmt_bind_result(stmt, binds_.data()) != 0) {
      throw SqlError(MariaDbStatementError(stmt, limitMs_));
    }
  }

  ~MariaDbCursor() override {
    if (!rowsPending_) return;
    // Reading the rest could take as long as the statement may run: the
    // connection is cancelled instead (the database stops the statement)
    // and the backend makes a new one.
    connection_->broken = true;
    mariadb_cancel(connection_->mysql);
  }

  const std::vector<ColumnInfo>& Columns() const override { return columns_; }

  bool Step() override {
    if (done_) return false;
    const int rc = mysql_stmt_fetch(statement_.stmt);
    if (rc == MYSQL_NO_DATA) {
      done_ = true;
      Drained();
      return false;
    }
    if (rc == MYSQL_DATA_TRUNCATED) {
      FetchTruncated();
    } else if (rc != 0) {
      Fail();
    }
    return true;
  }

  bool IsNull(std::size_t column) const override { return slots_[column].isNull != 0; }

  std::int64_t Integer(std::size_t column) const override {
    const Slot& slot = slots_[column];
    switch (binds_[column].buffer_type) {
      case MYSQL_TYPE_LONGLONG:
        return slot.integer;
      case MYSQL_TYPE_DOUBLE:
        return static_cast<std::int64_t>(slot.real);
      default:
        return std::strtoll(std::string(Text(column)).c_str(), nullptr, 10);
    }
  }

  double Real(std::size_t column) const override {
    const Slot& slot = slots_[column];
    switch (binds_[column].buffer_type) {
      case MYSQL_TYPE_LONGLONG:
        return static_cast<double>(slot.integer);
      case MYSQL_TYPE_DOUBLE:
        return slot.real;
      default:
        return std::strtod(std::string(Text(column)).c_str(), nullptr);
    }
  }

  std::string_view Text(std::size_t column) const override {
    const Slot& slot = slots_[column];
    if (slot.isNull != 0 || slot.bytes.empty()) return {};
    return {slot.bytes.data(), std::min<std::size_t>(slot.length, slot.bytes.size())};
  }

 private:
  struct Slot {
    std::vector<char> bytes;
    unsigned long length = 0;
    my_bool isNull = 0;
    my_bool error = 0;
    std::int64_t integer = 0;
    double real = 0;
  };

  // A value longer than its buffer: grow the buffer, fetch the whole value
  // again into it, and keep the bigger buffer bound for the rows to come.
  void FetchTruncated() {
    bool rebound = false;
    for (std::size_t i = 0; i < slots_.size(); ++i) {
      Slot& slot = slots_[i];
      MYSQL_BIND& bind = binds_[i];
      if (slot.error == 0 || slot.bytes.empty() || slot.length <= slot.bytes.size()) continue;
      if (slot.length > maxValueBytes_) {
        done_ = true;
        throw SqlError("A value of column " + columns_[i].name + " is longer than " +
                       std::to_string(maxValueBytes_) + " bytes");
      }
      slot.bytes.resize(slot.length);
      bind.buffer = slot.bytes.data();
      bind.buffer_length = slot.bytes.size();
      if (mysql_stmt_fetch_column(statement_.stmt, &bind, static_cast<unsigned>(i), 0) != 0) {
        Fail();
      }
      rebound = true;
    }
    if (rebound && mysql_stmt_bind_result(statement_.stmt, binds_.data()) != 0) {
      Fail();
    }
  }

  // A failed fetch ends the rows; what it did to the connection's
  // transaction is not known, so the next statement starts one anew.
  [[noreturn]] void Fail() {
    done_ = true;
    Drained();  // the database's error ended the rows
    connection_->readOnly = false;
    throw SqlError(MariaDbStatementError(statement_.stmt, limitMs_));
  }

  void Drained() {
    if (!rowsPending_) return;
    rowsPending_ = false;
    connection_->streamPending = false;
  }

  std::shared_ptr<MariaDbConnection> connection_;  // declared first: the statement closes before it
  MariaDbStatement statement_;
  unsigned limitMs_;
  std::size_t maxValueBytes_;
  std::vector<ColumnInfo> columns_;
  std::vector<Slot> slots_;
  std::vector<MYSQL_BIND> binds_;
  bool done_ = false;
  bool rowsPending_;  // streaming, and its last row not read yet
};

}  // namespace

std::string MariaDbStatementError(MYSQL_STMT* stmt, unsigned limitMs) {
  const unsigned code = mysql_stmt_errno(stmt);
  if (code == kErrReadOnlyTransaction) return "Only a read-only statement may be run";
  if (code == kErrStatementTimeout) {
    return "The statement ran longer than " + std::to_string(limitMs / 1000) + " s and was stopped";
  }
  return std::string("SQL error: ") + mysql_stmt_error(stmt);
}

std::unique_ptr<SqlCursor> NewMariaDbCursor(std::shared_ptr<MariaDbConnection> connection,
                                            MYSQL_STMT* stmt, unsigned limitMs,
                                            std::size_t maxValueBytes, bool streaming) {
  return std::make_unique<MariaDbCursor>(std::move(connection), stmt, limitMs, maxValueBytes,
                                         streaming);
}

}  // namespace quor::server
