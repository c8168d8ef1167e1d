#include "server/SqlBackend.h"

namespace quor::server {

std::string InsertStatement(std::string_view table, const std::vector<std::string>& columns,
                            std::size_t valueCount, std::string (*quote)(std::string_view)) {
  if (columns.empty() || columns.size() != valueCount) {
    throw SqlError("An inserted row needs one value per column");
  }
  std::string sql = "insert into " + quote(table) + " (";
  std::string marks;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (i != 0) sql += ',';
    sql += quote(columns[i]);
    marks += (i != 0 ? ",?" : "?");
  }
  sql += ") values (" + marks + ")";
  return sql;
}

}  // namespace quor::server
