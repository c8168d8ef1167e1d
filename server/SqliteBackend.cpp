// SQLite backend: terminal statements on a read-only connection, inserts on a
// writable one opened on first need.

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "server/SqlBackend.h"

namespace quor::server {
namespace {

using Clock = std::chrono::steady_clock;

// Until a session says otherwise (SetValueLimits): SQLite's own default.
constexpr std::size_t kDefaultValueLimit = 1000000000;
constexpr std::size_t kMaxSqliteLength = 0x7FFFFFFF;

// One sqlite3 connection and the deadline its progress handler enforces.
// Shared by the backend and its live cursors, so a cursor never outlives the
// connection its statement belongs to.
//
// Arming costs no clock read: a step is timed from the first progress call
// it makes (every 1000 virtual machine instructions), so the short steps of
// an ordinary scan, a few dozen instructions a row, never read the clock.
struct Connection {
  sqlite3* db = nullptr;
  unsigned limitMs = 0;  // 0: no limit
  bool started = false;  // the armed step has made a progress call
  Clock::time_point deadline;
  bool timedOut = false;

  ~Connection() { sqlite3_close_v2(db); }

  std::string Error() const { return sqlite3_errmsg(db); }

  void ArmDeadline(unsigned limit) {
    timedOut = false;
    started = false;
    limitMs = limit;
  }
};

int OnProgress(void* context) {
  auto* connection = static_cast<Connection*>(context);
  if (connection->limitMs == 0) return 0;
  const Clock::time_point now = Clock::now();
  if (!connection->started) {
    connection->started = true;
    connection->deadline = now + std::chrono::milliseconds(connection->limitMs);
    return 0;
  }
  if (now < connection->deadline) return 0;
  connection->timedOut = true;
  return 1;  // interrupts the running step with SQLITE_INTERRUPT
}

std::shared_ptr<Connection> OpenConnection(const std::string& path, int flags,
                                           std::size_t maxValueBytes) {
  auto connection = std::make_shared<Connection>();
  const int rc =
      sqlite3_open_v2(path.c_str(), &connection->db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    const std::string why =
        connection->db != nullptr ? connection->Error() : std::string(sqlite3_errstr(rc));
    throw SqlError("Cannot open the catalogue database " + path + ": " + why);
  }
  sqlite3* db = connection->db;
  sqlite3_extended_result_codes(db, 1);
  // The terminal's statements quote string literals with double quotes.
  sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DML, 1, nullptr);
  sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DDL, 1, nullptr);
  // Statement text comes from the network: nothing that reaches past the
  // database file (raw tokenizer pointers, extensions, attached files).
  sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_FTS3_TOKENIZER, 0, nullptr);
  sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0, nullptr);
  sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
  sqlite3_limit(db, SQLITE_LIMIT_ATTACHED, 0);
  // No string or blob longer than this: printf('%.*c', 400000000, 'x') or
  // zeroblob(900000000) fail with "string or blob too big" instead of taking
  // the server's memory.
  sqlite3_limit(db, SQLITE_LIMIT_LENGTH, static_cast<int>(maxValueBytes));
  sqlite3_busy_timeout(db, 5000);
  sqlite3_progress_handler(db, 1000, &OnProgress, connection.get());
  // Catalogue pages are read through the operating system's page cache,
  // shared by every session, instead of being copied into each connection.
  sqlite3_exec(db, "pragma mmap_size = 268435456", nullptr, nullptr, nullptr);
  // A readable SQLite file, not just any file: this fails on garbage.
  char* message = nullptr;
  if (sqlite3_exec(db, "select count(*) from sqlite_master", nullptr, nullptr, &message) !=
      SQLITE_OK) {
    const std::string why = message != nullptr ? message : connection->Error();
    sqlite3_free(message);
    throw SqlError("Cannot open the catalogue database " + path + ": " + why);
  }
  return connection;
}

// Read-only connections of one backend. Each live cursor has a connection of
// its own, so every statement reads the database as it is when it starts
// (one connection shares one read snapshot among all its statements, and a
// cursor kept open between packets would freeze it for the others).
struct ReaderPool {
  std::string path;
  std::size_t maxValueBytes = kDefaultValueLimit;
  std::vector<std::shared_ptr<Connection>> idle;

  std::shared_ptr<Connection> Take() {
    if (idle.empty()) return OpenConnection(path, SQLITE_OPEN_READONLY, maxValueBytes);
    auto connection = std::move(idle.back());
    idle.pop_back();
    return connection;
  }
  void Give(std::shared_ptr<Connection> connection) {
    if (idle.size() < kMaxIdleReaders) idle.push_back(std::move(connection));
  }
  static constexpr std::size_t kMaxIdleReaders = 4;
};

struct Statement {
  sqlite3_stmt* stmt = nullptr;
  Statement() = default;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  Statement(Statement&& other) noexcept : stmt(std::exchange(other.stmt, nullptr)) {}
  ~Statement() { sqlite3_finalize(stmt); }
};

bool Contains(const std::string& upper, const char* word) {
  return upper.find(word) != std::string::npos;
}

// Declared length in parentheses, VARCHAR(50) -> 50; 0 when there is none.
std::uint32_t DeclaredSize(const std::string& decl) {
  const auto open = decl.find('(');
  if (open == std::string::npos) return 0;
  std::uint64_t n = 0;
  for (std::size_t i = open + 1; i < decl.size() && decl[i] >= '0' && decl[i] <= '9'; ++i) {
    n = n * 10 + static_cast<unsigned>(decl[i] - '0');
    if (n > 0xFFFFFFFFu) return 0;
  }
  return static_cast<std::uint32_t>(n);
}

// Column type from the declared type, by SQLite's own affinity rules. SQLite
// stores every integer in up to 64 bits whatever the declaration says, so
// integer columns travel as 64-bit. NUMERIC affinity (DATE, DECIMAL, BOOLEAN)
// may hold text as well as numbers; it travels as text, which shows both.
// No declared type (an expression): decided by the first row's value.
bool TypeFromDeclaration(const char* declared, ColumnInfo& column) {
  if (declared == nullptr || *declared == '\0') return false;
  std::string upper(declared);
  for (char& c : upper) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  column.size = 0;
  if (Contains(upper, "INT")) {
    column.type = FieldType::Int64;
  } else if (Contains(upper, "CHAR") || Contains(upper, "CLOB") || Contains(upper, "TEXT")) {
    column.type = FieldType::Text;
    column.size = DeclaredSize(upper);
  } else if (Contains(upper, "BLOB")) {
    column.type = FieldType::Blob;
  } else if (Contains(upper, "REAL") || Contains(upper, "FLOA") || Contains(upper, "DOUB")) {
    column.type = FieldType::Real;
  } else {
    column.type = FieldType::Text;
  }
  return true;
}

FieldType TypeFromValue(int storageClass) {
  switch (storageClass) {
    case SQLITE_INTEGER:
      return FieldType::Int64;
    case SQLITE_FLOAT:
      return FieldType::Real;
    case SQLITE_BLOB:
      return FieldType::Blob;
    default:
      return FieldType::Text;
  }
}

bool OnlySeparators(const char* text) {
  for (; *text != '\0'; ++text) {
    const char c = *text;
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != '\f' && c != '\v' && c != ';') {
      return false;
    }
  }
  return true;
}

class SqliteCursor final : public SqlCursor {
 public:
  SqliteCursor(std::shared_ptr<ReaderPool> pool, std::shared_ptr<Connection> connection,
               sqlite3_stmt* stmt, unsigned limitMs)
      : pool_(std::move(pool)), connection_(std::move(connection)), limitMs_(limitMs) {
    statement_.stmt = stmt;
    const int count = sqlite3_column_count(stmt);
    columns_.resize(static_cast<std::size_t>(count));
    std::vector<std::size_t> undecided;
    for (int i = 0; i < count; ++i) {
      ColumnInfo& column = columns_[static_cast<std::size_t>(i)];
      const char* name = sqlite3_column_name(stmt, i);
      column.name = name != nullptr ? name : "";
      if (!TypeFromDeclaration(sqlite3_column_decltype(stmt, i), column)) {
        undecided.push_back(static_cast<std::size_t>(i));
      }
    }
    // The first row runs now: a failing statement fails when it is opened, and
    // expression columns take the type of their first value.
    pending_ = Advance();
    for (const std::size_t i : undecided) {
      columns_[i].type = pending_ ? TypeFromValue(sqlite3_column_type(stmt, static_cast<int>(i)))
                                  : FieldType::Text;
    }
    primed_ = true;
  }

  ~SqliteCursor() override {
    sqlite3_finalize(statement_.stmt);
    statement_.stmt = nullptr;
    if (auto pool = pool_.lock()) pool->Give(std::move(connection_));
  }

  const std::vector<ColumnInfo>& Columns() const override { return columns_; }

  bool Step() override {
    if (primed_) {
      primed_ = false;
      return pending_;
    }
    if (done_) return false;
    return Advance();
  }

  bool IsNull(std::size_t column) const override {
    return sqlite3_column_type(statement_.stmt, static_cast<int>(column)) == SQLITE_NULL;
  }
  std::int64_t Integer(std::size_t column) const override {
    return sqlite3_column_int64(statement_.stmt, static_cast<int>(column));
  }
  double Real(std::size_t column) const override {
    return sqlite3_column_double(statement_.stmt, static_cast<int>(column));
  }
  std::string_view Text(std::size_t column) const override {
    const int i = static_cast<int>(column);
    const void* data = columns_[column].type == FieldType::Blob
                           ? sqlite3_column_blob(statement_.stmt, i)
                           : static_cast<const void*>(sqlite3_column_text(statement_.stmt, i));
    if (data == nullptr) return {};
    return {static_cast<const char*>(data),
            static_cast<std::size_t>(sqlite3_column_bytes(statement_.stmt, i))};
  }

  bool TextValue(std::size_t column, std::string_view& out) const override {
    const int i = static_cast<int>(column);
    const void* data = columns_[column].type == FieldType::Blob
                           ? sqlite3_column_blob(statement_.stmt, i)
                           : static_cast<const void*>(sqlite3_column_text(statement_.stmt, i));
    // A null pointer is NULL, or an empty blob.
    if (data == nullptr) {
      if (sqlite3_column_type(statement_.stmt, i) == SQLITE_NULL) return false;
      out = {};
      return true;
    }
    out = {static_cast<const char*>(data),
           static_cast<std::size_t>(sqlite3_column_bytes(statement_.stmt, i))};
    return true;
  }
  bool IntegerValue(std::size_t column, std::int64_t& out) const override {
    const int i = static_cast<int>(column);
    out = sqlite3_column_int64(statement_.stmt, i);
    // Only a 0 can be a NULL: the type is asked for that value alone.
    return out != 0 || sqlite3_column_type(statement_.stmt, i) != SQLITE_NULL;
  }

 private:
  bool Advance() {
    connection_->ArmDeadline(limitMs_);
    const int rc = sqlite3_step(statement_.stmt);
    if (rc == SQLITE_ROW) return true;
    done_ = true;
    if (rc == SQLITE_DONE) return false;
    if (connection_->timedOut) {
      throw SqlError("The statement ran longer than " + std::to_string(limitMs_ / 1000) +
                     " s and was stopped");
    }
    throw SqlError("SQL error: " + connection_->Error());
  }

  std::weak_ptr<ReaderPool> pool_;
  std::shared_ptr<Connection> connection_;
  Statement statement_;
  unsigned limitMs_;
  std::vector<ColumnInfo> columns_;
  bool primed_ = false;
  bool pending_ = false;
  bool done_ = false;
};

void BindAll(sqlite3_stmt* stmt, const std::vector<SqlValue>& values) {
  for (std::size_t i = 0; i < values.size(); ++i) {
    const int n = static_cast<int>(i + 1);
    const SqlValue& value = values[i];
    if (const auto* integer = std::get_if<std::int64_t>(&value)) {
      sqlite3_bind_int64(stmt, n, *integer);
    } else if (const auto* real = std::get_if<double>(&value)) {
      sqlite3_bind_double(stmt, n, *real);
    } else if (const auto* text = std::get_if<SqlText>(&value)) {
      sqlite3_bind_text64(stmt, n, text->utf8.data(), text->utf8.size(), SQLITE_TRANSIENT,
                          SQLITE_UTF8);
    } else if (const auto* blob = std::get_if<SqlBlob>(&value)) {
      sqlite3_bind_blob64(stmt, n, blob->bytes.data(), blob->bytes.size(), SQLITE_TRANSIENT);
    } else {
      sqlite3_bind_null(stmt, n);
    }
  }
}

// Room requests of every session of this process go in one at a time.
// SQLite has one writer, and its busy handler polls for the lock with sleeps
// of up to 100 ms: in a burst of sessions competing for it, the lock sits
// idle between polls and some sessions wait past the busy timeout and are
// refused. A mutex hands the lock on at once, in turn. One per database file.
std::mutex& WriterMutex(const std::string& path) {
  static std::mutex guard;
  static std::map<std::string, std::unique_ptr<std::mutex>> mutexes;
  const std::lock_guard lock(guard);
  auto& mutex = mutexes[path];
  if (!mutex) mutex = std::make_unique<std::mutex>();
  return *mutex;
}

std::string QuoteIdentifier(std::string_view name) {
  std::string quoted = "\"";
  for (const char c : name) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

class SqliteBackend final : public SqlBackend {
 public:
  explicit SqliteBackend(std::string path) : path_(std::move(path)) {
    pool_->path = path_;
    pool_->Give(OpenConnection(path_, SQLITE_OPEN_READONLY, pool_->maxValueBytes));
  }

  std::unique_ptr<SqlCursor> OpenReadOnly(std::string_view sql) override {
    if (sql.size() > 0x7FFFFFF0u) throw SqlError("The statement is too long");
    std::shared_ptr<Connection> reader = pool_->Take();
    sqlite3* db = reader->db;
    Statement first;
    const char* tail = nullptr;
    reader->ArmDeadline(limitMs_);
    if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &first.stmt, &tail) !=
        SQLITE_OK) {
      const std::string why = "SQL error: " + reader->Error();
      pool_->Give(std::move(reader));
      throw SqlError(why);
    }
    if (first.stmt == nullptr) {
      pool_->Give(std::move(reader));
      throw SqlError("The statement is empty");
    }
    // Whatever follows the first statement must be nothing at all: blanks,
    // semicolons or a comment. A second statement is refused, not ignored.
    const std::string rest(tail, static_cast<std::size_t>(sql.data() + sql.size() - tail));
    if (!OnlySeparators(rest.c_str())) {
      Statement second;
      const int rc = sqlite3_prepare_v2(db, rest.c_str(), -1, &second.stmt, nullptr);
      if (rc != SQLITE_OK || second.stmt != nullptr) {
        Refuse(first, reader, "Only one statement may be run at a time");
      }
    }
    if (sqlite3_stmt_readonly(first.stmt) == 0) {
      Refuse(first, reader, "Only a read-only statement may be run");
    }
    // BEGIN, ATTACH, PRAGMA settings and the like count as read-only for
    // SQLite but return no rows; a terminal has no business with them.
    if (sqlite3_column_count(first.stmt) == 0) {
      Refuse(first, reader, "Only a statement that returns rows may be run");
    }
    sqlite3_stmt* stmt = first.stmt;
    first.stmt = nullptr;
    return std::make_unique<SqliteCursor>(pool_, std::move(reader), stmt, limitMs_);
  }

  std::vector<std::string> TableColumns(std::string_view table) override {
    std::shared_ptr<Connection> reader = pool_->Take();
    Statement query;
    if (sqlite3_prepare_v2(reader->db, "select name from pragma_table_info(?1) order by cid", -1,
                           &query.stmt, nullptr) != SQLITE_OK) {
      throw SqlError("SQL error: " + reader->Error());
    }
    sqlite3_bind_text(query.stmt, 1, table.data(), static_cast<int>(table.size()),
                      SQLITE_TRANSIENT);
    std::vector<std::string> names;
    reader->ArmDeadline(limitMs_);
    int rc;
    while ((rc = sqlite3_step(query.stmt)) == SQLITE_ROW) {
      names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(query.stmt, 0)));
    }
    if (rc != SQLITE_DONE) throw SqlError("SQL error: " + reader->Error());
    sqlite3_finalize(query.stmt);
    query.stmt = nullptr;
    pool_->Give(std::move(reader));
    if (names.empty()) throw SqlError("No such table: " + std::string(table));
    return names;
  }

  void InsertRow(std::string_view table, const std::vector<std::string>& columns,
                 const std::vector<SqlValue>& values) override {
    const std::string sql = InsertStatement(table, columns, values.size(), QuoteIdentifier);
    const std::lock_guard turn(writerMutex_);
    Connection& writer = Writer();
    Statement insert = PrepareOwn(writer, sql, values);
    writer.ArmDeadline(limitMs_);
    if (sqlite3_step(insert.stmt) != SQLITE_DONE) {
      const int code = sqlite3_extended_errcode(writer.db);
      throw SqlError("SQL error: " + writer.Error(), code,
                     code == SQLITE_CONSTRAINT_UNIQUE || code == SQLITE_CONSTRAINT_PRIMARYKEY);
    }
  }

  bool RowExists(std::string_view table, const std::vector<std::string>& columns,
                 const std::vector<SqlValue>& values) override {
    // On the writer: it sees the rows this session stored a moment ago.
    const std::string sql = ExistsStatement(table, columns, values.size(), QuoteIdentifier);
    Connection& writer = Writer();
    Statement lookup = PrepareOwn(writer, sql, values);
    writer.ArmDeadline(limitMs_);
    const int rc = sqlite3_step(lookup.stmt);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) throw SqlError("SQL error: " + writer.Error());
    return rc == SQLITE_ROW;
  }

  void EnsureRoomCallTable() override {
    Connection& writer = Writer();
    // Write-ahead logging lets a room request go in while terminals hold live
    // cursors on the catalogue; with a rollback journal every open cursor
    // would block the insert. The mode is kept in the file.
    Exec(writer, "pragma journal_mode=wal");
    Exec(writer,
         "create table if not exists roomcall (ClientName varchar(64) not null, "
         "CalledAt varchar(19) not null, Peer varchar(64) not null, PostedAt varchar(19), "
         "ChangeLog varchar(32), ChangeId integer)");
    for (const RoomCallColumn& column : MissingRoomCallColumns(TableColumns("roomcall"))) {
      Exec(writer,
           (std::string("alter table roomcall add column ") + column.name + " " + column.sqlite)
               .c_str());
    }
    // Rows of older terminals have no change log (NULL), and NULLs never
    // collide in a unique index: only posted rows are kept unique.
    Exec(writer,
         "create unique index if not exists roomcall_change on roomcall (ChangeLog, ChangeId)");
  }

  std::uint64_t Exec(std::string_view sql, const std::vector<SqlValue>& params) override {
    Connection& writer = Writer();
    Statement statement = PrepareOwn(writer, sql, params);
    writer.ArmDeadline(limitMs_);
    int rc;
    while ((rc = sqlite3_step(statement.stmt)) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE) {
      throw SqlError("SQL error: " + writer.Error(), sqlite3_extended_errcode(writer.db));
    }
    return static_cast<std::uint64_t>(sqlite3_changes64(writer.db));
  }

  std::unique_ptr<SqlCursor> Select(std::string_view sql,
                                    const std::vector<SqlValue>& params) override {
    Statement statement = PrepareOwn(Writer(), sql, params);
    sqlite3_stmt* stmt = statement.stmt;
    statement.stmt = nullptr;
    // No pool: the writer is never handed out to terminal statements.
    return std::make_unique<SqliteCursor>(nullptr, writer_, stmt, limitMs_);
  }

  void Transaction(const std::function<void()>& work) override {
    const std::lock_guard turn(writerMutex_);
    // The write lock up front: no statement of the transaction meets a busy
    // database half-way.
    Exec("begin immediate", {});
    try {
      work();
      Exec("commit", {});
    } catch (...) {
      sqlite3_exec(writer_->db, "rollback", nullptr, nullptr, nullptr);
      throw;
    }
  }

  void SetStatementTimeLimit(unsigned milliseconds) override { limitMs_ = milliseconds; }

  void SetValueLimits(std::size_t maxValueBytes, std::size_t /*sessionMemoryBytes*/) override {
    const int limit = static_cast<int>(std::min<std::size_t>(maxValueBytes, kMaxSqliteLength));
    pool_->maxValueBytes = static_cast<std::size_t>(limit);
    for (const auto& connection : pool_->idle)
      sqlite3_limit(connection->db, SQLITE_LIMIT_LENGTH, limit);
    if (writer_) sqlite3_limit(writer_->db, SQLITE_LIMIT_LENGTH, limit);
  }

 private:
  Statement PrepareOwn(Connection& connection, std::string_view sql,
                       const std::vector<SqlValue>& params) {
    Statement statement;
    if (sqlite3_prepare_v2(connection.db, sql.data(), static_cast<int>(sql.size()), &statement.stmt,
                           nullptr) != SQLITE_OK) {
      throw SqlError("SQL error: " + connection.Error(), sqlite3_extended_errcode(connection.db));
    }
    if (statement.stmt == nullptr) throw SqlError("The statement is empty");
    BindAll(statement.stmt, params);
    return statement;
  }

  Connection& Writer() {
    if (!writer_) {
      writer_ = OpenConnection(path_, SQLITE_OPEN_READWRITE, pool_->maxValueBytes);
    }
    return *writer_;
  }

  void Exec(Connection& connection, const char* sql) {
    connection.ArmDeadline(limitMs_);
    char* message = nullptr;
    if (sqlite3_exec(connection.db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
      const std::string why = message != nullptr ? message : connection.Error();
      sqlite3_free(message);
      throw SqlError("SQL error: " + why);
    }
  }

  // A refused statement is finalised and its connection goes back to the pool.
  [[noreturn]] void Refuse(Statement& statement, std::shared_ptr<Connection>& reader,
                           const char* why) {
    sqlite3_finalize(statement.stmt);
    statement.stmt = nullptr;
    pool_->Give(std::move(reader));
    throw SqlError(why);
  }

  std::string path_;
  std::mutex& writerMutex_ = WriterMutex(path_);
  std::shared_ptr<ReaderPool> pool_ = std::make_shared<ReaderPool>();
  std::shared_ptr<Connection> writer_;
  unsigned limitMs_ = kDefaultStatementTimeLimitMs;
};

}  // namespace

void SetSqliteHeapLimit(std::size_t bytes) {
  // Past the soft limit SQLite first gives back cached pages; past the hard
  // one an allocation fails.
  sqlite3_hard_heap_limit64(static_cast<sqlite3_int64>(bytes));
  sqlite3_soft_heap_limit64(static_cast<sqlite3_int64>(bytes / 4 * 3));
}

std::unique_ptr<SqlBackend> OpenSqliteBackend(const std::string& path) {
  return std::make_unique<SqliteBackend>(path);
}

}  // namespace quor::server
