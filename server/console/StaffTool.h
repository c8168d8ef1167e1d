#pragma once
// quorvod-server --add-staff NAME: adds a staff account for the console, or
// gives an existing one a new password.

#include <cstdio>
#include <istream>
#include <memory>
#include <string>

#include "server/SqlBackend.h"

namespace quor::server::console {

// Reads the password (twice from a terminal, without echo; from a pipe the
// first line, and the second when there is one must match it), stores its
// Argon2id hash in the database and tells what it did on `out`. Returns
// the process exit code: 0 done, 1 failed (the reason on `err`).
int AddStaff(const std::string& name, std::unique_ptr<SqlBackend> database, bool mariadb,
             std::istream& in, bool interactive, std::FILE* out, std::FILE* err);

}  // namespace quor::server::console
