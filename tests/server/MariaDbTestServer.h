#pragma once
// A real mariadbd for the tests: installed into a fresh temporary folder,
// listening on a free loopback port, killed when the test program ends (and
// by the kernel should the test program die first).

#include <sys/types.h>

#include <memory>
#include <string>

#include "server/SqlBackend.h"

namespace quor::server::testing {

class MariaDbTestServer {
 public:
  // The process-wide server, started on first use. Null when it cannot start;
  // `whyNot` then says why (for GTEST_SKIP).
  static MariaDbTestServer* Shared(std::string& whyNot);

  ~MariaDbTestServer();
  MariaDbTestServer(const MariaDbTestServer&) = delete;
  MariaDbTestServer& operator=(const MariaDbTestServer&) = delete;

  // Address of a database for the test user over TCP (user "quor", a password).
  MariaDbAddress Address(const std::string& database) const;
  unsigned Port() const { return port_; }

  // Runs administrative SQL as root over the local socket (several statements
  // separated by ';' allowed); throws std::runtime_error with the server's text.
  void Admin(const std::string& sql) const;
  // First column of the first row of an administrative query, as text.
  std::string AdminValue(const std::string& sql) const;

  // Drops and creates a database the test user may use.
  void FreshDatabase(const std::string& name) const;

 private:
  MariaDbTestServer() = default;
  bool Start(std::string& whyNot);

  std::string folder_;
  std::string socket_;
  unsigned port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace quor::server::testing
