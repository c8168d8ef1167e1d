// MariaDB backend through Connector/C.
//
// A terminal statement runs inside a read-only transaction: it is prepared
// (one statement only: the prepared-statement protocol has no
// multi-statements; a statement without a result set is refused by us before
// it runs; a text that can be nothing but a query goes with its execution in
// one round trip; one that opens with SET, which could lift the session's
// bounds for itself, is refused before it reaches the database), and
// executed only when the server reports the connection inside a READ ONLY
// transaction (a write, also INSERT ... RETURNING, is refused there): with a
// read-only server-side cursor when
// its rows are fetched in packets, without one when the caller reads them
// all at once (the rows come with the execution's answer; a stream dropped
// before its end cancels the connection, which is made again).
// The transaction ends with COMMIT AND CHAIN once the session has sent its
// answer (Idle), which opens the next read-only transaction at once, so a
// statement costs no round trip for its transaction on the way to the
// terminal. Any failure on the connection forgets the transaction: the next
// statement starts one explicitly. The server materialises the cursor at
// execution, so it outlives the commit, and several cursors (one per
// provider) stay live on one connection while inserts go through it too;
// our own writes first commit the read-only transaction.

#include <mysql.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/AsciiCase.h"
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

// Whether `c` can continue a word (a keyword or an unquoted name) in the
// server's grammar, so that a keyword followed by it is no keyword.
bool ContinuesWord(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return std::isalnum(byte) != 0 || byte == '_' || byte == '$' || byte >= 0x80;
}

// Whether a text can only be one query that returns rows, so that it may be
// prepared and executed in one go without our look at its result set first:
// it opens with SELECT and holds no ';' (a second statement), no '?' (a
// placeholder), no INTO (a SELECT that stores its rows rather than return
// them), no '/*' (a comment the server may run as part of the statement) and
// no NUL. Looked for anywhere, inside quotes too: a false alarm costs only
// the prepare's round trip.
bool OnlyReturnsRows(std::string_view sql) {
  const auto start = sql.find_first_not_of(" \t\r\n\f\v");
  if (start == std::string_view::npos || sql.size() - start < 7) return false;
  if (!platform::EqualsNoCase(sql.substr(start, 6), "select")) return false;
  if (ContinuesWord(sql[start + 6])) return false;
  if (sql.find_first_of(std::string_view(";?\0", 3)) != std::string_view::npos) return false;
  if (sql.find("/*") != std::string_view::npos) return false;
  for (std::size_t i = 0; i + 4 <= sql.size(); ++i) {
    if (platform::EqualsNoCase(sql.substr(i, 4), "into")) return false;
  }
  return true;
}

// Whether a text opens with SET (SET STATEMENT name=value FOR <query>): a
// query under settings of its own could lift the session's time limit and
// memory bound. Comments before it are passed over, except that what a
// comment the server runs ('/*!', '/*M!') holds counts as text.
bool OpensWithSet(std::string_view sql) {
  std::size_t i = 0;
  while (i < sql.size()) {
    const std::string_view rest = sql.substr(i);
    if (std::isspace(static_cast<unsigned char>(rest[0])) != 0) {
      ++i;
    } else if (rest.starts_with("/*!") || rest.starts_with("/*M!")) {
      i += rest[2] == '!' ? 3 : 4;
      while (i < sql.size() && std::isdigit(static_cast<unsigned char>(sql[i])) != 0) ++i;
    } else if (rest.starts_with("/*")) {
      const auto end = rest.find("*/", 2);
      if (end == std::string_view::npos) return false;
      i += end + 2;
    } else if (rest[0] == '#' ||
               (rest.starts_with("--") &&
                (rest.size() == 2 || std::isspace(static_cast<unsigned char>(rest[2])) != 0))) {
      const auto end = rest.find('\n');
      if (end == std::string_view::npos) return false;
      i += end + 1;
    } else {
      break;
    }
  }
  if (sql.size() - i < 3 || !platform::EqualsNoCase(sql.substr(i, 3), "set")) return false;
  return sql.size() - i == 3 || !ContinuesWord(sql[i + 3]);
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
    return Open(sql, false);
  }

  // Read at once: no server-side cursor, the rows come with the execution's
  // answer, one round trip fewer and nothing kept by the database.
  std::unique_ptr<SqlCursor> OpenReadOnlyWhole(std::string_view sql) override {
    return Open(sql, true);
  }

  std::vector<std::string> TableColumns(std::string_view table) override {
    if (!inTransaction_) LeaveReadOnly();
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
    if (!inTransaction_) LeaveReadOnly();
    MariaDbStatement handle;
    handle.stmt = NewStatement(sql);
    Execute(handle.stmt, values);
  }

  bool RowExists(std::string_view table, const std::vector<std::string>& columns,
                 const std::vector<SqlValue>& values) override {
    const std::string sql = ExistsStatement(table, columns, values.size(), QuoteIdentifier);
    if (!inTransaction_) LeaveReadOnly();
    MariaDbStatement handle;
    handle.stmt = NewStatement(sql);
    Execute(handle.stmt, values);
    if (mysql_stmt_store_result(handle.stmt) != 0) {
      throw SqlError(MariaDbStatementError(handle.stmt, limitMs_));
    }
    return mysql_stmt_num_rows(handle.stmt) > 0;
  }

  void EnsureRoomCallTable() override {
    LeaveReadOnly();
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
    if (!inTransaction_) LeaveReadOnly();
    MariaDbStatement handle;
    handle.stmt = NewStatement(sql);
    Execute(handle.stmt, params);
    const my_ulonglong changed = mysql_stmt_affected_rows(handle.stmt);
    return changed == static_cast<my_ulonglong>(-1) ? 0 : static_cast<std::uint64_t>(changed);
  }

  std::unique_ptr<SqlCursor> Select(std::string_view sql,
                                    const std::vector<SqlValue>& params) override {
    if (!inTransaction_) LeaveReadOnly();
    MariaDbStatement handle;
    handle.stmt = NewStatement(sql);
    if (mysql_stmt_field_count(handle.stmt) == 0) throw SqlError("The statement returns no rows");
    // A cursor of its own, so that the connection is free for the next
    // statement while these rows are read.
    AskForCursor(handle.stmt);
    Execute(handle.stmt, params);
    MYSQL_STMT* const stmt = handle.stmt;
    handle.stmt = nullptr;  // the cursor's from here on, even if it cannot be made
    return NewMariaDbCursor(connection_, stmt, limitMs_, maxValueBytes_, false);
  }

  void Transaction(const std::function<void()>& work) override {
    LeaveReadOnly();
    QueryReconnecting("start transaction");
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

  // The answer is out: the read-only transaction of the statements it ran
  // ends (releasing their snapshot and table locks) and the next begins.
  void Idle() override {
    try {
      if (commitPending_) CommitAndChain();
    } catch (const SqlError&) {  // no connection now: the next request makes one
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
  std::unique_ptr<SqlCursor> Open(std::string_view sql, bool whole) {
    // Blanks and semicolons after the statement mean nothing; the prepared
    // statement protocol would take them for the start of a second one.
    const auto last = sql.find_last_not_of(" \t\r\n\f\v;");
    if (last == std::string_view::npos) throw SqlError("The statement is empty");
    sql = sql.substr(0, last + 1);
    if (OpensWithSet(sql)) {
      throw SqlError("SQL error: a statement may not set variables of its own (SET STATEMENT)");
    }
    // A second statement before the answer went out reads a fresh snapshot.
    if (commitPending_) CommitAndChain();
    MariaDbStatement handle;
    if (OnlyReturnsRows(sql)) {
      ExecuteDirect(handle, sql, whole);
    } else {
      Prepare(handle, sql);
      if (!whole) AskForCursor(handle.stmt);
      if (mysql_stmt_execute(handle.stmt) != 0) {
        connection_->readOnly = false;  // a failure may have ended the transaction
        throw SqlError(MariaDbStatementError(handle.stmt, limitMs_));
      }
    }
    commitPending_ = true;
    MYSQL_STMT* const stmt = handle.stmt;
    handle.stmt = nullptr;  // the cursor's from here on, even if it cannot be made
    return NewMariaDbCursor(connection_, stmt, limitMs_, maxValueBytes_, whole);
  }

  // Prepared, looked at, and left to be executed: a statement without a
  // result set is refused here before anything of it ran.
  void Prepare(MariaDbStatement& handle, std::string_view sql) {
    // A dropped connection is made again by the prepare, before anything
    // ran; the new one has no transaction yet, so both steps go again.
    for (int attempt = 0; handle.stmt == nullptr; ++attempt) {
      EnterReadOnly();
      const MariaDbConnection* before = connection_.get();
      MYSQL_STMT* stmt = NewStatement(sql);
      if (connection_.get() == before || attempt > 0) {
        handle.stmt = stmt;
      } else {
        mysql_stmt_close(stmt);
      }
    }
    if (mysql_stmt_field_count(handle.stmt) == 0) {
      throw SqlError("Only a statement that returns rows may be run");
    }
    RequireReadOnly();
  }

  // A query (OnlyReturnsRows) prepared and executed in one round trip. A
  // connection found dropped here is made again and the query goes once
  // more: the first can have done nothing but read.
  void ExecuteDirect(MariaDbStatement& handle, std::string_view sql, bool whole) {
    for (int attempt = 0;; ++attempt) {
      EnterReadOnly();
      RequireReadOnly();
      handle.stmt = mysql_stmt_init(connection_->mysql);
      if (handle.stmt == nullptr) throw SqlError("SQL error: " + connection_->Error());
      if (!whole) AskForCursor(handle.stmt);
      if (mariadb_stmt_execute_direct(handle.stmt, sql.data(), sql.size()) == 0) break;
      connection_->readOnly = false;  // a failure may have ended the transaction
      const unsigned code = mysql_stmt_errno(handle.stmt);
      std::string why = MariaDbStatementError(handle.stmt, limitMs_);
      mysql_stmt_close(handle.stmt);
      handle.stmt = nullptr;
      if (!IsLost(code) || attempt > 0) throw SqlError(why, static_cast<int>(code));
      Connect();
    }
    if (mysql_stmt_field_count(handle.stmt) == 0) {
      connection_->readOnly = false;
      throw SqlError("Only a statement that returns rows may be run");
    }
  }

  void RequireReadOnly() {
    if (!connection_->readOnly || !ServerSaysReadOnly()) {
      connection_->readOnly = false;
      throw SqlError("SQL error: the statement could not be run in a read-only transaction");
    }
  }

  // Rows fetched a batch at a time from a read-only server-side cursor.
  static void AskForCursor(MYSQL_STMT* stmt) {
    const unsigned long cursorType = CURSOR_TYPE_READ_ONLY;
    mysql_stmt_attr_set(stmt, STMT_ATTR_CURSOR_TYPE, &cursorType);
    mysql_stmt_attr_set(stmt, STMT_ATTR_PREFETCH_ROWS, &kPrefetchRows);
  }

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
    commitPending_ = false;
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

  // Rows of a dropped stream left unread, or a connection cancelled under
  // one: nothing more can run on it, a new connection takes its place.
  void MakeUsable() {
    if (connection_->streamPending) {
      connection_->broken = true;
      mariadb_cancel(connection_->mysql);
    }
    if (connection_->broken) Connect();
  }

  bool ServerSaysReadOnly() const {
    unsigned status = 0;
    mariadb_get_infov(connection_->mysql, MARIADB_CONNECTION_SERVER_STATUS, &status);
    return (status & SERVER_STATUS_IN_TRANS) != 0 &&
           (status & SERVER_STATUS_IN_TRANS_READONLY) != 0;
  }

  // Inside a read-only transaction: the one left open by the last commit, or
  // a new one (connecting again if the server dropped the connection).
  void EnterReadOnly() {
    MakeUsable();
    if (connection_->readOnly && ServerSaysReadOnly()) return;
    connection_->readOnly = false;
    QueryReconnecting("start transaction read only");
    connection_->readOnly = ServerSaysReadOnly();
  }

  // Ends the read-only transaction and opens the next at once.
  void CommitAndChain() {
    commitPending_ = false;
    MakeUsable();
    connection_->readOnly =
        mysql_query(connection_->mysql, "commit and chain") == 0 && ServerSaysReadOnly();
  }

  // Before our own statements: out of the read-only transaction, so that
  // they run as before any terminal statement (each its own transaction,
  // holding no table's lock once it is done).
  void LeaveReadOnly() {
    commitPending_ = false;
    MakeUsable();
    if (!connection_->readOnly && !ServerSaysReadOnly()) return;
    connection_->readOnly = false;
    QueryReconnecting("commit");
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
  bool inTransaction_ = false;          // inside Transaction()
  bool commitPending_ = false;          // a terminal statement ran since the last commit
};

}  // namespace

std::unique_ptr<SqlBackend> OpenMariaDbBackend(const MariaDbAddress& address) {
  static std::once_flag initialised;
  std::call_once(initialised, [] { mysql_library_init(0, nullptr, nullptr); });
  return std::make_unique<MariaDbBackend>(address);
}

}  // namespace quor::server
