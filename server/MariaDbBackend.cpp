// MariaDB backend through Connector/C.
//
// A terminal statement runs as: START TRANSACTION READ ONLY, prepare (one
// statement only: the prepared-statement protocol has no multi-statements; a
// write is refused by the server inside the read-only transaction; a statement
// without a result set is refused by us before it runs), execute with a
// read-only server-side cursor, COMMIT. The server materialises the cursor at
// execution, so it outlives the transaction, and several cursors (one per
// provider) stay live on one connection while inserts go through it too.

#include <mysql.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>

#include "server/MariaDbBind.h"
#include "server/SqlBackend.h"

namespace quor::server {
namespace {

constexpr unsigned kErrDuplicateKey = 1062;
constexpr unsigned kErrParse = 1064;
constexpr unsigned kErrReadOnlyTransaction = 1792;
constexpr unsigned kErrStatementTimeout = 1969;
constexpr unsigned kErrServerGone = 2006;
constexpr unsigned kErrServerLost = 2013;
constexpr unsigned kBinaryCharset = 63;
constexpr unsigned long kPrefetchRows = 1000;
constexpr std::size_t kInitialTextBuffer = 4096;
// A single value larger than this is refused rather than allocated, unless
// the session sets its own bound (SetValueLimits).
constexpr std::size_t kDefaultMaxValueBytes = 64u << 20;

struct Connection {
  MYSQL* mysql = nullptr;
  ~Connection() { mysql_close(mysql); }
  std::string Error() const { return mysql_error(mysql); }
  unsigned Errno() const { return mysql_errno(mysql); }
};

struct StatementHandle {
  MYSQL_STMT* stmt = nullptr;
  StatementHandle() = default;
  StatementHandle(const StatementHandle&) = delete;
  StatementHandle& operator=(const StatementHandle&) = delete;
  ~StatementHandle() {
    if (stmt != nullptr) mysql_stmt_close(stmt);
  }
};

std::string StatementError(MYSQL_STMT* stmt, unsigned limitMs) {
  const unsigned code = mysql_stmt_errno(stmt);
  if (code == kErrReadOnlyTransaction) return "Only a read-only statement may be run";
  if (code == kErrStatementTimeout) {
    return "The statement ran longer than " + std::to_string(limitMs / 1000) + " s and was stopped";
  }
  return std::string("SQL error: ") + mysql_stmt_error(stmt);
}

// Whether a text the server could not parse holds a second statement after a
// ';' outside quotes and comments; used only to word the refusal clearly.
bool HasSecondStatement(std::string_view sql) {
  bool afterSemicolon = false;
  for (std::size_t i = 0; i < sql.size(); ++i) {
    const char c = sql[i];
    const char next = i + 1 < sql.size() ? sql[i + 1] : '\0';
    if (c == '\'' || c == '"' || c == '`') {
      if (afterSemicolon) return true;
      for (++i; i < sql.size() && sql[i] != c; ++i) {
        if (sql[i] == '\\' && c != '`') ++i;
      }
    } else if (c == '#' || (c == '-' && next == '-')) {
      while (i < sql.size() && sql[i] != '\n') ++i;
    } else if (c == '/' && next == '*') {
      const auto end = sql.find("*/", i + 2);
      if (end == std::string_view::npos) return false;
      i = end + 1;
    } else if (c == ';') {
      afterSemicolon = true;
    } else if (c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != '\f' && c != '\v') {
      if (afterSemicolon) return true;
    }
  }
  return false;
}

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
  MariaDbCursor(std::shared_ptr<Connection> connection, MYSQL_STMT* stmt, unsigned limitMs,
                std::size_t maxValueBytes)
      : connection_(std::move(connection)), limitMs_(limitMs), maxValueBytes_(maxValueBytes) {
    statement_.stmt = stmt;
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
      throw SqlError(StatementError(stmt, limitMs_));
    }
  }

  const std::vector<ColumnInfo>& Columns() const override { return columns_; }

  bool Step() override {
    if (done_) return false;
    const int rc = mysql_stmt_fetch(statement_.stmt);
    if (rc == MYSQL_NO_DATA) {
      done_ = true;
      return false;
    }
    if (rc == MYSQL_DATA_TRUNCATED) {
      FetchTruncated();
    } else if (rc != 0) {
      done_ = true;
      throw SqlError(StatementError(statement_.stmt, limitMs_));
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
        done_ = true;
        throw SqlError(StatementError(statement_.stmt, limitMs_));
      }
      rebound = true;
    }
    if (rebound && mysql_stmt_bind_result(statement_.stmt, binds_.data()) != 0) {
      done_ = true;
      throw SqlError(StatementError(statement_.stmt, limitMs_));
    }
  }

  std::shared_ptr<Connection> connection_;  // declared first: the statement closes before it
  StatementHandle statement_;
  unsigned limitMs_;
  std::size_t maxValueBytes_;
  std::vector<ColumnInfo> columns_;
  std::vector<Slot> slots_;
  std::vector<MYSQL_BIND> binds_;
  bool done_ = false;
};

std::string QuoteIdentifier(std::string_view name) {
  std::string quoted = "`";
  for (const char c : name) {
    if (c == '`') quoted += '`';
    quoted += c;
  }
  return quoted + '`';
}

class MariaDbBackend final : public SqlBackend {
 public:
  explicit MariaDbBackend(MariaDbAddress address) : address_(std::move(address)) { Connect(); }

  std::unique_ptr<SqlCursor> OpenReadOnly(std::string_view sql) override {
    // Blanks and semicolons after the statement mean nothing; the prepared
    // statement protocol would take them for the start of a second one.
    const auto last = sql.find_last_not_of(" \t\r\n\f\v;");
    if (last == std::string_view::npos) throw SqlError("The statement is empty");
    sql = sql.substr(0, last + 1);
    QueryReconnecting("start transaction read only");
    StatementHandle handle;
    try {
      handle.stmt = NewStatement(sql);
      if (mysql_stmt_field_count(handle.stmt) == 0) {
        throw SqlError("Only a statement that returns rows may be run");
      }
      const unsigned long cursorType = CURSOR_TYPE_READ_ONLY;
      mysql_stmt_attr_set(handle.stmt, STMT_ATTR_CURSOR_TYPE, &cursorType);
      mysql_stmt_attr_set(handle.stmt, STMT_ATTR_PREFETCH_ROWS, &kPrefetchRows);
      if (mysql_stmt_execute(handle.stmt) != 0)
        throw SqlError(StatementError(handle.stmt, limitMs_));
      Query("commit");
    } catch (...) {
      mysql_query(connection_->mysql, "rollback");
      throw;
    }
    auto cursor =
        std::make_unique<MariaDbCursor>(connection_, handle.stmt, limitMs_, maxValueBytes_);
    handle.stmt = nullptr;
    return cursor;
  }

  std::vector<std::string> TableColumns(std::string_view table) override {
    StatementHandle handle;
    handle.stmt = NewStatement(
        "select COLUMN_NAME from information_schema.COLUMNS where TABLE_SCHEMA = database() "
        "and TABLE_NAME = ? order by ORDINAL_POSITION");
    MYSQL_BIND param{};
    param.buffer_type = MYSQL_TYPE_STRING;
    param.buffer = const_cast<char*>(table.data());
    param.buffer_length = table.size();
    char name[256];
    unsigned long length = 0;
    MYSQL_BIND result{};
    result.buffer_type = MYSQL_TYPE_STRING;
    result.buffer = name;
    result.buffer_length = sizeof name;
    result.length = &length;
    if (mysql_stmt_bind_param(handle.stmt, &param) != 0 || mysql_stmt_execute(handle.stmt) != 0 ||
        mysql_stmt_bind_result(handle.stmt, &result) != 0) {
      throw SqlError(StatementError(handle.stmt, limitMs_));
    }
    std::vector<std::string> names;
    int rc;
    while ((rc = mysql_stmt_fetch(handle.stmt)) == 0 || rc == MYSQL_DATA_TRUNCATED) {
      names.emplace_back(name, std::min<std::size_t>(length, sizeof name));
    }
    if (rc != MYSQL_NO_DATA) throw SqlError(StatementError(handle.stmt, limitMs_));
    if (names.empty()) throw SqlError("No such table: " + std::string(table));
    return names;
  }

  void InsertRow(std::string_view table, const std::vector<std::string>& columns,
                 const std::vector<SqlValue>& values) override {
    const std::string sql = InsertStatement(table, columns, values.size(), QuoteIdentifier);
    StatementHandle handle;
    handle.stmt = NewStatement(sql);
    Execute(handle.stmt, values);
  }

  bool RowExists(std::string_view table, const std::vector<std::string>& columns,
                 const std::vector<SqlValue>& values) override {
    const std::string sql = ExistsStatement(table, columns, values.size(), QuoteIdentifier);
    StatementHandle handle;
    handle.stmt = NewStatement(sql);
    Execute(handle.stmt, values);
    if (mysql_stmt_store_result(handle.stmt) != 0) {
      throw SqlError(StatementError(handle.stmt, limitMs_));
    }
    return mysql_stmt_num_rows(handle.stmt) > 0;
  }

  void EnsureRoomCallTable() override {
    QueryReconnecting(
        "create table if not exists roomcall (ClientName varchar(64) not null, "
        "CalledAt datetime not null, Peer varchar(64) not null, PostedAt datetime null, "
        "ChangeLog char(32) null, ChangeId int unsigned null, "
        "unique key roomcall_change (ChangeLog, ChangeId)) character set utf8mb4");
    for (const RoomCallColumn& column : MissingRoomCallColumns(TableColumns("roomcall"))) {
      Query(std::string("alter table roomcall add column ") + column.name + " " + column.mariadb);
    }
    // Rows of older terminals have no change log (NULL), and NULLs never
    // collide in a unique key: only posted rows are kept unique.
    Query("create unique index if not exists roomcall_change on roomcall (ChangeLog, ChangeId)");
  }

  void SetValueLimits(std::size_t maxValueBytes, std::size_t sessionMemoryBytes) override {
    maxValueBytes_ = maxValueBytes;
    sessionMemoryBytes_ = sessionMemoryBytes;
    ApplyValueLimits();
  }

  std::uint64_t Exec(std::string_view sql, const std::vector<SqlValue>& params) override {
    StatementHandle handle;
    handle.stmt = NewStatement(sql);
    Execute(handle.stmt, params);
    const my_ulonglong changed = mysql_stmt_affected_rows(handle.stmt);
    return changed == static_cast<my_ulonglong>(-1) ? 0 : static_cast<std::uint64_t>(changed);
  }

  std::unique_ptr<SqlCursor> Select(std::string_view sql,
                                    const std::vector<SqlValue>& params) override {
    StatementHandle handle;
    handle.stmt = NewStatement(sql);
    if (mysql_stmt_field_count(handle.stmt) == 0) throw SqlError("The statement returns no rows");
    // A cursor of its own, so that the connection is free for the next
    // statement while these rows are read.
    const unsigned long cursorType = CURSOR_TYPE_READ_ONLY;
    mysql_stmt_attr_set(handle.stmt, STMT_ATTR_CURSOR_TYPE, &cursorType);
    mysql_stmt_attr_set(handle.stmt, STMT_ATTR_PREFETCH_ROWS, &kPrefetchRows);
    Execute(handle.stmt, params);
    auto cursor =
        std::make_unique<MariaDbCursor>(connection_, handle.stmt, limitMs_, maxValueBytes_);
    handle.stmt = nullptr;
    return cursor;
  }

  void Transaction(const std::function<void()>& work) override {
    QueryReconnecting("start transaction");
    try {
      work();
      Query("commit");
    } catch (...) {
      mysql_query(connection_->mysql, "rollback");
      throw;
    }
  }

  void SetStatementTimeLimit(unsigned milliseconds) override {
    limitMs_ = milliseconds;
    // The network timeouts are fixed at connection; a new limit that needs
    // others takes a new connection (a session sets its limit first thing).
    if (IoTimeoutFor(limitMs_) != ioTimeoutS_) {
      Connect();
    } else {
      ApplyTimeLimit();
    }
  }

 private:
  void Connect() {
    auto connection = std::make_shared<Connection>();
    connection->mysql = mysql_init(nullptr);
    if (connection->mysql == nullptr) throw SqlError("Cannot connect to MariaDB: out of memory");
    MYSQL* mysql = connection->mysql;
    const unsigned connectTimeout = 10;
    const my_bool noLocalFiles = 0;
    mysql_optionsv(mysql, MYSQL_SET_CHARSET_NAME, "utf8mb4");
    mysql_optionsv(mysql, MYSQL_OPT_CONNECT_TIMEOUT, &connectTimeout);
    mysql_optionsv(mysql, MYSQL_OPT_LOCAL_INFILE, &noLocalFiles);
    // The database's own statement limit stops a long statement; this one
    // stops a session waiting for ever on a database that hangs.
    ioTimeoutS_ = IoTimeoutFor(limitMs_);
    mysql_optionsv(mysql, MYSQL_OPT_READ_TIMEOUT, &ioTimeoutS_);
    mysql_optionsv(mysql, MYSQL_OPT_WRITE_TIMEOUT, &ioTimeoutS_);
    const char* database = address_.database.empty() ? nullptr : address_.database.c_str();
    const char* socket = address_.socket.empty() ? nullptr : address_.socket.c_str();
    if (mysql_real_connect(mysql, address_.host.c_str(), address_.user.c_str(),
                           address_.password.c_str(), database, address_.port, socket,
                           0) == nullptr) {
      throw SqlError("Cannot connect to MariaDB at " + Where() + ": " + connection->Error());
    }
    connection_ = std::move(connection);
    // The terminal's statements quote string literals with double quotes.
    Query("set session sql_mode = replace(@@session.sql_mode, 'ANSI_QUOTES', '')");
    ApplyTimeLimit();
    if (sessionMemoryBytes_ != 0) ApplyValueLimits();
  }

  // What a statement may make and spend on the database server: a string
  // made by group_concat no longer than a value may be, and the session's
  // memory there (a statement past it fails with the server's message).
  // repeat() and the like are held to max_allowed_packet by the server.
  void ApplyValueLimits() {
    Query("set session group_concat_max_len = " + std::to_string(maxValueBytes_) +
          ", max_session_mem_used = " +
          std::to_string(std::max<std::size_t>(sessionMemoryBytes_, 8192)));
  }

  std::string Where() const {
    if (!address_.socket.empty()) return address_.socket;
    return address_.host + ":" + std::to_string(address_.port);
  }

  static bool IsLost(unsigned code) { return code == kErrServerGone || code == kErrServerLost; }

  // A connection that the server dropped (idle timeout, restart) is made
  // again once, before anything of the new request has run; live cursors keep
  // the old connection until they are dropped.
  void QueryReconnecting(const std::string& sql) {
    if (mysql_real_query(connection_->mysql, sql.data(), sql.size()) == 0) return;
    if (!IsLost(connection_->Errno())) throw SqlError("SQL error: " + connection_->Error());
    Connect();
    Query(sql);
  }

  void ApplyTimeLimit() {
    Query("set session max_statement_time = " + std::to_string(limitMs_ / 1000.0));
  }

  void Query(const std::string& sql) {
    if (mysql_real_query(connection_->mysql, sql.data(), sql.size()) != 0) {
      throw SqlError("SQL error: " + connection_->Error());
    }
  }

  MYSQL_STMT* NewStatement(std::string_view sql) {
    for (int attempt = 0;; ++attempt) {
      MYSQL_STMT* stmt = mysql_stmt_init(connection_->mysql);
      if (stmt == nullptr) throw SqlError("SQL error: " + connection_->Error());
      if (mysql_stmt_prepare(stmt, sql.data(), sql.size()) == 0) return stmt;
      const unsigned code = mysql_stmt_errno(stmt);
      std::string why = StatementError(stmt, limitMs_);
      mysql_stmt_close(stmt);
      if (code == kErrParse && HasSecondStatement(sql)) {
        why = "Only one statement may be run at a time";
      }
      if (!IsLost(code) || attempt > 0) throw SqlError(why, static_cast<int>(code));
      Connect();
    }
  }

  // Binds the values to the statement's placeholders and runs it. A refusal
  // by a unique key says so, for the room requests' repeats.
  void Execute(MYSQL_STMT* stmt, const std::vector<SqlValue>& values) {
    if (mysql_stmt_param_count(stmt) != values.size()) {
      throw SqlError("SQL error: the statement takes " +
                     std::to_string(mysql_stmt_param_count(stmt)) + " values, not " +
                     std::to_string(values.size()));
    }
    BoundValues bound(values);
    if ((!values.empty() && mysql_stmt_bind_param(stmt, bound.binds.data()) != 0) ||
        mysql_stmt_execute(stmt) != 0) {
      const unsigned code = mysql_stmt_errno(stmt);
      throw SqlError(StatementError(stmt, limitMs_), static_cast<int>(code),
                     code == kErrDuplicateKey);
    }
  }

  // No limit on statements: none on the network either.
  static unsigned IoTimeoutFor(unsigned limitMs) { return limitMs == 0 ? 0 : limitMs / 1000 + 60; }

  MariaDbAddress address_;
  std::shared_ptr<Connection> connection_;
  unsigned limitMs_ = kDefaultStatementTimeLimitMs;
  unsigned ioTimeoutS_ = 0;
  std::size_t maxValueBytes_ = kDefaultMaxValueBytes;
  std::size_t sessionMemoryBytes_ = 0;  // 0: the database's own setting
};

}  // namespace

std::unique_ptr<SqlBackend> OpenMariaDbBackend(const MariaDbAddress& address) {
  static std::once_flag initialised;
  std::call_once(initialised, [] { mysql_library_init(0, nullptr, nullptr); });
  return std::make_unique<MariaDbBackend>(address);
}

}  // namespace quor::server
