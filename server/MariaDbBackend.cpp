// MariaDB backend through Connector/C.
//
// Every connection is read-only by default (SET SESSION TRANSACTION READ
// ONLY, made again with each connection): a terminal statement is prepared
// (one statement only: the prepared-statement protocol has no
// multi-statements; a statement without a result set is refused by us before
// it runs) and executed with a read-only server-side cursor, and a write in
// it (INSERT ... RETURNING and the like) is refused by the server, with no
// round trips of its own for a transaction. The server materialises the
// cursor at execution, and several cursors (one per provider) stay live on
// one connection while inserts go through it too. What the server writes
// itself runs read-write explicitly: inserts and Transaction in START
// TRANSACTION READ WRITE, Exec and the room request table with the
// session's default switched to read-write for that statement alone.

#include <mysql.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>

#include "server/MariaDbBind.h"
#include "server/MariaDbCursor.h"
#include "server/SqlBackend.h"

namespace quor::server {
namespace {

constexpr unsigned kErrDuplicateKey = 1062;
constexpr unsigned kErrParse = 1064;
constexpr unsigned kErrServerGone = 2006;
constexpr unsigned kErrServerLost = 2013;
constexpr unsigned long kPrefetchRows = 1000;
// A single value larger than this is refused rather than allocated, unless
// the session sets its own bound (SetValueLimits).
constexpr std::size_t kDefaultMaxValueBytes = 64u << 20;

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
    // A dropped connection is made again by the prepare, before anything ran.
    MariaDbStatement handle;
    handle.stmt = NewStatement(sql);
    if (mysql_stmt_field_count(handle.stmt) == 0) {
      throw SqlError("Only a statement that returns rows may be run");
    }
    const unsigned long cursorType = CURSOR_TYPE_READ_ONLY;
    mysql_stmt_attr_set(handle.stmt, STMT_ATTR_CURSOR_TYPE, &cursorType);
    mysql_stmt_attr_set(handle.stmt, STMT_ATTR_PREFETCH_ROWS, &kPrefetchRows);
    if (mysql_stmt_execute(handle.stmt) != 0)
      throw SqlError(MariaDbStatementError(handle.stmt, limitMs_));
    MYSQL_STMT* const stmt = handle.stmt;
    handle.stmt = nullptr;  // the cursor's from here on, even if it cannot be made
    return NewMariaDbCursor(connection_, stmt, limitMs_, maxValueBytes_);
  }

  std::vector<std::string> TableColumns(std::string_view table) override {
    MariaDbStatement handle;
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
      throw SqlError(MariaDbStatementError(handle.stmt, limitMs_));
    }
    std::vector<std::string> names;
    int rc;
    while ((rc = mysql_stmt_fetch(handle.stmt)) == 0 || rc == MYSQL_DATA_TRUNCATED) {
      names.emplace_back(name, std::min<std::size_t>(length, sizeof name));
    }
    if (rc != MYSQL_NO_DATA) throw SqlError(MariaDbStatementError(handle.stmt, limitMs_));
    if (names.empty()) throw SqlError("No such table: " + std::string(table));
    return names;
  }

  void InsertRow(std::string_view table, const std::vector<std::string>& columns,
                 const std::vector<SqlValue>& values) override {
    const std::string sql = InsertStatement(table, columns, values.size(), QuoteIdentifier);
    auto insert = [&] {
      MariaDbStatement handle;
      handle.stmt = NewStatement(sql);
      Execute(handle.stmt, values);
    };
    if (inTransaction_) {
      insert();
    } else {
      Transaction(insert);
    }
  }

  bool RowExists(std::string_view table, const std::vector<std::string>& columns,
                 const std::vector<SqlValue>& values) override {
    const std::string sql = ExistsStatement(table, columns, values.size(), QuoteIdentifier);
    MariaDbStatement handle;
    handle.stmt = NewStatement(sql);
    Execute(handle.stmt, values);
    if (mysql_stmt_store_result(handle.stmt) != 0) {
      throw SqlError(MariaDbStatementError(handle.stmt, limitMs_));
    }
    return mysql_stmt_num_rows(handle.stmt) > 0;
  }

  void EnsureRoomCallTable() override {
    ReadWriteSession([this] { MakeRoomCallTable(); });
  }

  void MakeRoomCallTable() {
    Query(
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
    my_ulonglong changed = 0;
    auto exec = [&] {
      MariaDbStatement handle;
      handle.stmt = NewStatement(sql);
      Execute(handle.stmt, params);
      changed = mysql_stmt_affected_rows(handle.stmt);
    };
    // Inside a transaction it is already read-write; alone it may be a
    // table's definition, which no transaction can hold.
    if (inTransaction_) {
      exec();
    } else {
      ReadWriteSession(exec);
    }
    return changed == static_cast<my_ulonglong>(-1) ? 0 : static_cast<std::uint64_t>(changed);
  }

  std::unique_ptr<SqlCursor> Select(std::string_view sql,
                                    const std::vector<SqlValue>& params) override {
    MariaDbStatement handle;
    handle.stmt = NewStatement(sql);
    if (mysql_stmt_field_count(handle.stmt) == 0) throw SqlError("The statement returns no rows");
    // A cursor of its own, so that the connection is free for the next
    // statement while these rows are read.
    const unsigned long cursorType = CURSOR_TYPE_READ_ONLY;
    mysql_stmt_attr_set(handle.stmt, STMT_ATTR_CURSOR_TYPE, &cursorType);
    mysql_stmt_attr_set(handle.stmt, STMT_ATTR_PREFETCH_ROWS, &kPrefetchRows);
    Execute(handle.stmt, params);
    MYSQL_STMT* const stmt = handle.stmt;
    handle.stmt = nullptr;  // the cursor's from here on, even if it cannot be made
    return NewMariaDbCursor(connection_, stmt, limitMs_, maxValueBytes_);
  }

  void Transaction(const std::function<void()>& work) override {
    QueryReconnecting("start transaction read write");
    inTransaction_ = true;
    try {
      work();
      inTransaction_ = false;
      Query("commit");
    } catch (...) {
      inTransaction_ = false;
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
    auto connection = std::make_shared<MariaDbConnection>();
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
    inTransaction_ = false;
    Query("set session transaction read only");
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

  // Runs `work` with the session read-write, and read-only again afterwards
  // whatever happens: a connection that cannot be made read-only again is
  // replaced (a new one starts read-only), never left writable.
  void ReadWriteSession(const std::function<void()>& work) {
    QueryReconnecting("set session transaction read write");
    auto restore = [this] {
      if (mysql_query(connection_->mysql, "set session transaction read only") != 0) Connect();
    };
    try {
      work();
    } catch (...) {
      try {
        restore();
      } catch (const SqlError&) {  // the statement's own error is the one to report
      }
      throw;
    }
    restore();
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
      std::string why = MariaDbStatementError(stmt, limitMs_);
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
      throw SqlError(MariaDbStatementError(stmt, limitMs_), static_cast<int>(code),
                     code == kErrDuplicateKey);
    }
  }

  // No limit on statements: none on the network either.
  static unsigned IoTimeoutFor(unsigned limitMs) { return limitMs == 0 ? 0 : limitMs / 1000 + 60; }

  MariaDbAddress address_;
  std::shared_ptr<MariaDbConnection> connection_;
  unsigned limitMs_ = kDefaultStatementTimeLimitMs;
  unsigned ioTimeoutS_ = 0;
  std::size_t maxValueBytes_ = kDefaultMaxValueBytes;
  std::size_t sessionMemoryBytes_ = 0;  // 0: the database's own setting
  bool inTransaction_ = false;          // inside Transaction(): read-write
};

}  // namespace

std::unique_ptr<SqlBackend> OpenMariaDbBackend(const MariaDbAddress& address) {
  static std::once_flag initialised;
  std::call_once(initialised, [] { mysql_library_init(0, nullptr, nullptr); });
  return std::make_unique<MariaDbBackend>(address);
}

}  // namespace quor::server
