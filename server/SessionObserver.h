#pragma once
// What the sessions tell a watcher of the server (the front-desk console):
// terminals coming and going, each request block, every room request row
// stored and every song a room starts.
//
// Called on the session threads, in the order things happen within one
// session. An observer must return at once and never throw: it takes the
// news over to threads of its own, so that no terminal ever waits for it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quor::server {

class SessionObserver {
 public:
  virtual ~SessionObserver() = default;

  // A terminal connected; `peer` ("address:port") names the session in the
  // calls that follow.
  virtual void SessionStarted(const std::string& peer) = 0;
  // A request block of the session arrived.
  virtual void SessionActive(const std::string& peer) = 0;
  virtual void SessionEnded(const std::string& peer) = 0;
  // A room request row went into the database; `clientName` is its
  // ClientName text (UTF-8, as the terminal sent it; empty when it had none).
  virtual void RoomRequestStored(const std::string& peer, const std::string& clientName) = 0;
  // The terminal looked up the media path of song `singId` and got a row:
  // the room is about to play that song.
  virtual void SongStarted(const std::string& peer, std::int64_t singId) = 0;
};

// The song number of a terminal's path lookup
// "select PATH1 from vodinfo where SINGID=<digits>" (letter case and blanks
// around the parts as any SQL reader takes them, blanks after the number);
// nullopt for every other statement.
std::optional<std::int64_t> PathLookupSongId(std::string_view statement);

}  // namespace quor::server
