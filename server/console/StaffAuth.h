#pragma once
// Who may use the console: Argon2id password hashes (libsodium), the staff
// sessions behind the cookie with their CSRF tokens, and the brake on login
// attempts. Every class here is safe to call from any thread.

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <semaphore>
#include <string>
#include <string_view>
#include <unordered_map>

namespace quor::server::console {

using SteadyClock = std::chrono::steady_clock;

// Initialises libsodium once; std::runtime_error when it cannot.
void InitSodium();

// An Argon2id hash string (algorithm, parameters, salt and hash) of the
// password, at libsodium's interactive cost.
std::string HashPassword(std::string_view password);
// Whether the password matches a stored hash string; false for a hash that
// is not one. At most two verifications run at once (each takes 64 MiB).
bool VerifyPassword(const std::string& hash, std::string_view password);
// What a password must be: "" when it is good enough, else the reason.
std::string PasswordProblem(std::string_view password);
// What a staff name must be: 1 to 64 characters of UTF-8 text without
// control characters; "" when it is good, else the reason.
std::string StaffNameProblem(std::string_view name);

struct StaffSession {
  std::string staff;
  std::string csrf;  // sent back in X-CSRF-Token with every change
  SteadyClock::time_point created;
  SteadyClock::time_point lastSeen;
};

class StaffSessions {
 public:
  // A session ends `lifetime` after login, or `idle` after its last use.
  StaffSessions(std::chrono::seconds lifetime, std::chrono::seconds idle);

  // A new session: the cookie value (random, 256 bits, hex) and the session.
  std::string Create(const std::string& staff, StaffSession& session);
  // The session of a cookie value, marked as used now; nullopt when there is
  // none or it has expired (it is then dropped).
  std::optional<StaffSession> Find(std::string_view token);
  void End(std::string_view token);

  // Whether a token sent with a change is the session's (constant time).
  static bool CsrfMatches(const StaffSession& session, std::string_view token);

 private:
  static std::string Key(std::string_view token);
  void Prune(SteadyClock::time_point now);  // mutex_ held

  std::chrono::seconds lifetime_;
  std::chrono::seconds idle_;
  // Guarded by mutex_. Keyed by a hash of the cookie value, so that the
  // table never holds a usable cookie.
  std::mutex mutex_;
  std::unordered_map<std::string, StaffSession> sessions_;
};

// The brake on guessing: the first kFreeFailures failed logins from one
// client address cost nothing; after that each try must wait 1, 2, 4 ...
// (at most 300) seconds after the last failure, and a try before then is
// refused unseen, even with the right password. The same holds per staff
// name after kFreeNameFailures (more: a name is easily guessed, and a few
// wrong tries must not lock a clerk out). Failures are forgotten 15 minutes
// after the last one, or at a successful login.
class LoginLimiter {
 public:
  static constexpr int kFreeFailures = 5;
  static constexpr int kFreeNameFailures = 20;

  // How long a login for `name` from `address` must still wait; 0 = it may
  // be tried now.
  std::chrono::seconds Wait(const std::string& address, const std::string& name,
                            SteadyClock::time_point now);
  void Failed(const std::string& address, const std::string& name, SteadyClock::time_point now);
  void Succeeded(const std::string& address, const std::string& name);

 private:
  struct Record {
    int failures = 0;
    SteadyClock::time_point last;
  };
  std::chrono::seconds WaitFor(const std::string& key, int freeFailures,
                               SteadyClock::time_point now);
  void Fail(const std::string& key, SteadyClock::time_point now);

  // Guarded by mutex_.
  std::mutex mutex_;
  std::unordered_map<std::string, Record> records_;
};

}  // namespace quor::server::console
