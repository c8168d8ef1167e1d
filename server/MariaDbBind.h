#pragma once
// Our own statements' values bound to a MariaDB prepared statement's
// placeholders (Connector/C's MYSQL_BIND), every value by its type.

#include <mysql.h>

#include <cstdint>
#include <vector>

#include "server/SqlBackend.h"

namespace quor::server {

// The parameters of one statement execution, bound in order; the numbers the
// binds point at live here, the strings and blobs in `values`, which must
// outlive the execution.
struct BoundValues {
  std::vector<MYSQL_BIND> binds;
  std::vector<std::int64_t> integers;
  std::vector<double> reals;
  explicit BoundValues(const std::vector<SqlValue>& values);
};

}  // namespace quor::server
