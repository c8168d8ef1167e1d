#include "server/MariaDbBind.h"

#include <variant>

namespace quor::server {
namespace {

void BindValue(const SqlValue& value, MYSQL_BIND& bind, std::int64_t& integer, double& real) {
  if (const auto* i = std::get_if<std::int64_t>(&value)) {
    integer = *i;
    bind.buffer_type = MYSQL_TYPE_LONGLONG;
    bind.buffer = &integer;
  } else if (const auto* r = std::get_if<double>(&value)) {
    real = *r;
    bind.buffer_type = MYSQL_TYPE_DOUBLE;
    bind.buffer = &real;
  } else if (const auto* text = std::get_if<SqlText>(&value)) {
    bind.buffer_type = MYSQL_TYPE_STRING;
    bind.buffer = const_cast<char*>(text->utf8.data());
    bind.buffer_length = text->utf8.size();
  } else if (const auto* blob = std::get_if<SqlBlob>(&value)) {
    bind.buffer_type = MYSQL_TYPE_BLOB;
    bind.buffer = const_cast<char*>(blob->bytes.data());
    bind.buffer_length = blob->bytes.size();
  } else {
    bind.buffer_type = MYSQL_TYPE_NULL;
  }
}

}  // namespace

BoundValues::BoundValues(const std::vector<SqlValue>& values)
    : binds(values.size(), MYSQL_BIND{}), integers(values.size()), reals(values.size()) {
  for (std::size_t i = 0; i < values.size(); ++i)
    BindValue(values[i], binds[i], integers[i], reals[i]);
}

}  // namespace quor::server
