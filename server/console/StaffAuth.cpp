#include "server/console/StaffAuth.h"

#include <sodium.h>

#include <algorithm>
#include <stdexcept>

namespace quor::server::console {
namespace {

// Two verifications at once at most: each takes the interactive memory cost
// (64 MiB), and a flood of logins must not take the server's memory.
std::counting_semaphore<2> gVerifications(2);

constexpr std::size_t kMaxPasswordBytes = 1024;
constexpr std::size_t kMinPasswordChars = 8;
constexpr std::size_t kMaxStaffNameChars = 64;
constexpr std::size_t kMaxLimiterRecords = 10000;
constexpr auto kForgetAfter = std::chrono::minutes(15);
constexpr std::int64_t kMaxWaitSeconds = 300;

std::string Hex(const unsigned char* bytes, std::size_t count) {
  std::string text(count * 2 + 1, '\0');
  sodium_bin2hex(text.data(), text.size(), bytes, count);
  text.pop_back();
  return text;
}

std::size_t Utf8Chars(std::string_view text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

// Whether `text` is well-formed UTF-8 (no overlong forms, no surrogates).
bool ValidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t extra = 0;
    std::uint32_t point = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
      point = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
      point = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
      point = c & 0x07;
    } else {
      return false;
    }
    if (text.size() - i <= extra) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto d = static_cast<unsigned char>(text[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      point = (point << 6) | (d & 0x3F);
    }
    if ((extra == 2 && (point < 0x800 || (point >= 0xD800 && point <= 0xDFFF))) ||
        (extra == 3 && (point < 0x10000 || point > 0x10FFFF))) {
      return false;
    }
    i += extra + 1;
  }
  return true;
}

}  // namespace

void InitSodium() {
  if (sodium_init() < 0) throw std::runtime_error("libsodium cannot be initialised");
}

std::string HashPassword(std::string_view password) {
  InitSodium();
  char hash[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str_alg(hash, password.data(), password.size(),
                            crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE,
                            crypto_pwhash_ALG_ARGON2ID13) != 0) {
    throw std::runtime_error("Not enough memory to hash the password");
  }
  return hash;
}

bool VerifyPassword(const std::string& hash, std::string_view password) {
  if (password.size() > kMaxPasswordBytes) return false;
  if (hash.empty() || hash.size() >= crypto_pwhash_STRBYTES) return false;
  gVerifications.acquire();
  const int rc = crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size());
  gVerifications.release();
  return rc == 0;
}

std::string PasswordProblem(std::string_view password) {
  if (password.size() > kMaxPasswordBytes) {
    return "The password is longer than " + std::to_string(kMaxPasswordBytes) + " bytes";
  }
  if (Utf8Chars(password) < kMinPasswordChars) {
    return "The password must have at least " + std::to_string(kMinPasswordChars) + " characters";
  }
  return {};
}

std::string StaffNameProblem(std::string_view name) {
  if (name.empty()) return "The staff name is empty";
  if (!ValidUtf8(name)) return "The staff name is not UTF-8 text";
  if (Utf8Chars(name) > kMaxStaffNameChars) {
    return "The staff name is longer than " + std::to_string(kMaxStaffNameChars) + " characters";
  }
  for (const char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      return "The staff name holds a control character";
    }
  }
  return {};
}

StaffSessions::StaffSessions(std::chrono::seconds lifetime, std::chrono::seconds idle)
    : lifetime_(lifetime), idle_(idle) {
  InitSodium();
}

std::string StaffSessions::Key(std::string_view token) {
  unsigned char digest[crypto_generichash_BYTES];
  crypto_generichash(digest, sizeof digest, reinterpret_cast<const unsigned char*>(token.data()),
                     token.size(), nullptr, 0);
  return std::string(reinterpret_cast<const char*>(digest), sizeof digest);
}

std::string StaffSessions::Create(const std::string& staff, StaffSession& session) {
  unsigned char random[32];
  randombytes_buf(random, sizeof random);
  std::string token = Hex(random, sizeof random);
  randombytes_buf(random, sizeof random);
  session.staff = staff;
  session.csrf = Hex(random, sizeof random);
  session.created = SteadyClock::now();
  session.lastSeen = session.created;
  const std::lock_guard lock(mutex_);
  Prune(session.created);
  sessions_[Key(token)] = session;
  return token;
}

std::optional<StaffSession> StaffSessions::Find(std::string_view token) {
  // A cookie value is 64 hex digits; anything else is no session (and is
  // not hashed: a huge header value costs nothing here).
  if (token.size() != 64) return std::nullopt;
  const auto now = SteadyClock::now();
  const std::string key = Key(token);
  const std::lock_guard lock(mutex_);
  const auto it = sessions_.find(key);
  if (it == sessions_.end()) return std::nullopt;
  StaffSession& session = it->second;
  if (now - session.created >= lifetime_ || now - session.lastSeen >= idle_) {
    sessions_.erase(it);
    return std::nullopt;
  }
  session.lastSeen = now;
  return session;
}

void StaffSessions::End(std::string_view token) {
  const std::string key = Key(token);
  const std::lock_guard lock(mutex_);
  sessions_.erase(key);
}

bool StaffSessions::CsrfMatches(const StaffSession& session, std::string_view token) {
  return token.size() == session.csrf.size() && !session.csrf.empty() &&
         sodium_memcmp(token.data(), session.csrf.data(), token.size()) == 0;
}

void StaffSessions::Prune(SteadyClock::time_point now) {
  std::erase_if(sessions_, [&](const auto& entry) {
    return now - entry.second.created >= lifetime_ || now - entry.second.lastSeen >= idle_;
  });
}

std::chrono::seconds LoginLimiter::Wait(const std::string& address, const std::string& name,
                                        SteadyClock::time_point now) {
  const std::lock_guard lock(mutex_);
  return std::max(WaitFor("a:" + address, kFreeFailures, now),
                  WaitFor("n:" + name, kFreeNameFailures, now));
}

std::chrono::seconds LoginLimiter::WaitFor(const std::string& key, int freeFailures,
                                           SteadyClock::time_point now) {
  const auto it = records_.find(key);
  if (it == records_.end()) return std::chrono::seconds(0);
  const Record& record = it->second;
  if (now - record.last >= kForgetAfter) {
    records_.erase(it);
    return std::chrono::seconds(0);
  }
  if (record.failures < freeFailures) return std::chrono::seconds(0);
  const int doublings = std::min(record.failures - freeFailures, 16);
  const auto delay =
      std::chrono::seconds(std::min<std::int64_t>(std::int64_t{1} << doublings, kMaxWaitSeconds));
  const auto until = record.last + delay;
  if (now >= until) return std::chrono::seconds(0);
  // Rounded up: a client that waits the seconds it is told gets through.
  return std::chrono::ceil<std::chrono::seconds>(until - now);
}

void LoginLimiter::Failed(const std::string& address, const std::string& name,
                          SteadyClock::time_point now) {
  const std::lock_guard lock(mutex_);
  if (records_.size() >= kMaxLimiterRecords) {
    std::erase_if(records_, [&](const auto& entry) {
      return now - entry.second.last >= kForgetAfter || entry.second.failures < kFreeFailures;
    });
  }
  Fail("a:" + address, now);
  Fail("n:" + name, now);
}

void LoginLimiter::Fail(const std::string& key, SteadyClock::time_point now) {
  // Full even after pruning (a flood from very many addresses): the keys it
  // has go on counting, new ones are not added, and the memory stays bounded.
  if (records_.size() >= kMaxLimiterRecords && records_.count(key) == 0) return;
  Record& record = records_[key];
  if (record.failures > 0 && now - record.last >= kForgetAfter) record.failures = 0;
  ++record.failures;
  record.last = now;
}

void LoginLimiter::Succeeded(const std::string& address, const std::string& name) {
  const std::lock_guard lock(mutex_);
  records_.erase("a:" + address);
  records_.erase("n:" + name);
}

}  // namespace quor::server::console
