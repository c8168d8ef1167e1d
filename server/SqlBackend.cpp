#include "server/SqlBackend.h"

#include "platform/AsciiCase.h"

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

std::string ExistsStatement(std::string_view table, const std::vector<std::string>& columns,
                            std::size_t valueCount, std::string (*quote)(std::string_view)) {
  if (columns.empty() || columns.size() != valueCount) {
    throw SqlError("A row lookup needs one value per column");
  }
  std::string sql = "select 1 from " + quote(table) + " where ";
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (i != 0) sql += " and ";
    sql += quote(columns[i]) + " = ?";
  }
  return sql + " limit 1";
}

std::vector<RoomCallColumn> MissingRoomCallColumns(const std::vector<std::string>& present) {
  std::vector<RoomCallColumn> missing;
  for (const RoomCallColumn& column : kRoomCallAddedColumns) {
    bool found = false;
    for (const std::string& name : present)
      found = found || platform::EqualsNoCase(name, column.name);
    if (!found) missing.push_back(column);
  }
  return missing;
}

}  // namespace quor::server
