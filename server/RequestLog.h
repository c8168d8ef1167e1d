#pragma once
// The server's log: one line per request (time, peer, provider, statement,
// rows sent, milliseconds), a line for every refusal and failure, a
// prominent line for every room request, and the server's own notices.
//
// Shared by every session thread: each line is written whole under one mutex
// and flushed, so lines never interleave and `tail -f` sees them at once.

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace quor::server {

class RequestLog {
 public:
  // Standard error when `path` is empty, else the file (appended to);
  // std::runtime_error when the file cannot be opened.
  static std::unique_ptr<RequestLog> Open(const std::string& path);
  ~RequestLog();
  RequestLog(const RequestLog&) = delete;
  RequestLog& operator=(const RequestLog&) = delete;

  void Request(std::string_view peer, std::string_view provider, std::string_view statement,
               long rows, double ms);
  void Failure(std::string_view peer, std::string_view provider, std::string_view statement,
               std::string_view message, double ms);
  void RoomRequest(std::string_view peer, std::string_view provider, std::string_view row);
  // A room request sent again after its answer was lost: acknowledged, not
  // stored a second time.
  void RoomRequestRepeat(std::string_view peer, std::string_view provider, std::string_view row);
  void Notice(std::string_view text);

  // A statement as the log shows it: in double quotes, quotes and backslashes
  // escaped, control characters as \n, \t or \xNN (a line stays one line).
  static std::string Quote(std::string_view text);

 private:
  RequestLog(std::FILE* file, bool owned) : file_(file), owned_(owned) {}
  void Write(const std::string& line);

  // Guarded by mutex_.
  std::mutex mutex_;
  std::FILE* file_;
  bool owned_;
};

}  // namespace quor::server
