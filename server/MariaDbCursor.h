#pragma once
// The rows of a statement run on MariaDB through Connector/C: the connection
// the backend and its live cursors share, and the cursor that fetches a
// prepared statement's rows (from a read-only server-side cursor a batch at
// a time, or as they stream in) into buffers that grow to the longest value,
// up to a bound.

#include <mysql.h>

#include <cstddef>
#include <memory>
#include <string>

#include "server/SqlBackend.h"

namespace quor::server {

// Shared by the backend and its live cursors, so a cursor never outlives the
// connection its statement belongs to.
struct MariaDbConnection {
  MYSQL* mysql = nullptr;
  ~MariaDbConnection() { mysql_close(mysql); }
  std::string Error() const { return mysql_error(mysql); }
  unsigned Errno() const { return mysql_errno(mysql); }
  // We know it to be inside a READ ONLY transaction; any failure on it
  // clears this (a failed statement may have ended the transaction).
  bool readOnly = false;
  // A cursor without a server-side cursor has rows still on the wire:
  // nothing else can run on the connection until they are read.
  bool streamPending = false;
  // Cancelled under a pending stream: the backend connects again.
  bool broken = false;
};

struct MariaDbStatement {
  MYSQL_STMT* stmt = nullptr;
  MariaDbStatement() = default;
  MariaDbStatement(const MariaDbStatement&) = delete;
  MariaDbStatement& operator=(const MariaDbStatement&) = delete;
  ~MariaDbStatement() {
    if (stmt != nullptr) mysql_stmt_close(stmt);
  }
};

// The message for a statement's failure: a refused write and the time limit
// in our words, anything else as the server says it.
std::string MariaDbStatementError(MYSQL_STMT* stmt, unsigned limitMs);

// The cursor over an executed statement. It owns `stmt` from the call on,
// closing it also when it cannot be made (SqlError).
// `streaming`: the statement ran without a server-side cursor and its rows
// come as they are read; a cursor dropped before its last row cancels the
// connection (the database stops the statement) instead of reading the rest.
std::unique_ptr<SqlCursor> NewMariaDbCursor(std::shared_ptr<MariaDbConnection> connection,
                                            MYSQL_STMT* stmt, unsigned limitMs,
                                            std::size_t maxValueBytes, bool streaming);

}  // namespace quor::server
