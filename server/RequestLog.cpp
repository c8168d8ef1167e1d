#include "server/RequestLog.h"

#include <sys/time.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <stdexcept>

namespace quor::server {
namespace {

// "2026-12-08 02:03:04.123", local time.
std::string Now() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  std::tm local{};
  const std::time_t seconds = tv.tv_sec;
  localtime_r(&seconds, &local);
  char text[40];
  const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  std::snprintf(text + n, sizeof text - n, ".%03d", static_cast<int>(tv.tv_usec / 1000));
  return text;
}

std::string Milliseconds(double ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", ms);
  return text;
}

}  // namespace

std::unique_ptr<RequestLog> RequestLog::Open(const std::string& path) {
  if (path.empty()) return std::unique_ptr<RequestLog>(new RequestLog(stderr, false));
  std::FILE* file = std::fopen(path.c_str(), "a");
  if (file == nullptr) {
    throw std::runtime_error("Cannot open the log file " + path + ": " + std::strerror(errno));
  }
  return std::unique_ptr<RequestLog>(new RequestLog(file, true));
}

RequestLog::~RequestLog() {
  if (owned_) std::fclose(file_);
}

std::string RequestLog::Quote(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (u < 0x20 || u == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", u);
      out += hex;
    } else {
      out += c;
    }
  }
  return out + '"';
}

void RequestLog::Request(std::string_view peer, std::string_view provider,
                         std::string_view statement, long rows, double ms) {
  Write(Now() + "  " + std::string(peer) + "  " + std::string(provider) + "  " + Quote(statement) +
        "  rows=" + std::to_string(rows) + "  ms=" + Milliseconds(ms));
}

void RequestLog::Failure(std::string_view peer, std::string_view provider,
                         std::string_view statement, std::string_view message, double ms) {
  Write(Now() + "  " + std::string(peer) + "  " + std::string(provider) + "  " + Quote(statement) +
        "  FAILED: " + std::string(message) + "  ms=" + Milliseconds(ms));
}

void RequestLog::RoomRequest(std::string_view peer, std::string_view provider,
                             std::string_view row) {
  Write(Now() + "  " + std::string(peer) + "  " + std::string(provider) +
        "  ******** ROOM REQUEST ******** " + std::string(row));
}

void RequestLog::RoomRequestRepeat(std::string_view peer, std::string_view provider,
                                   std::string_view row) {
  Write(Now() + "  " + std::string(peer) + "  " + std::string(provider) +
        "  room request already stored, acknowledged again: " + std::string(row));
}

void RequestLog::Notice(std::string_view text) {
  Write(Now() + "  " + std::string(text));
}

void RequestLog::Write(const std::string& line) {
  const std::lock_guard lock(mutex_);
  std::fputs(line.c_str(), file_);
  std::fputc('\n', file_);
  std::fflush(file_);
}

}  // namespace quor::server
