#pragma once
// The front desk's tables in the catalogue database: the calls as tickets,
// the staff accounts, the rooms' names and last sightings, and the songs the
// rooms started. Every statement here is a constant of this file with its
// values bound; nothing of a request or of a terminal is ever SQL text.
//
// Times are milliseconds since 1970 (UTC), so that several servers over one
// database agree on them whatever their time zones.
//
// A DeskStore owns its database connection and is used by one thread at a
// time. Failures raise SqlError.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "server/SqlBackend.h"

namespace quor::server::console {

enum class CallState { kPending, kAcknowledged, kDone };

// "pending", "acknowledged", "done": as stored and as the page sees them.
const char* CallStateName(CallState state);

// One ticket: the presses of one room (address and the room name it sent)
// from the first press until staff mark it done.
struct Call {
  std::int64_t id = 0;
  std::string room;     // ClientName the terminal sent
  std::string address;  // the terminal's IPv4 address
  std::string peer;     // address:port of the last press
  std::int64_t presses = 0;
  std::int64_t firstAt = 0;
  std::int64_t lastAt = 0;
  CallState state = CallState::kPending;
  std::string ackBy;
  std::int64_t ackAt = 0;  // 0: not acknowledged
  std::string doneBy;
  std::int64_t doneAt = 0;  // 0: not done
  std::int64_t rev = 0;     // grows with every change of the row
};

// What the desk knows of a room PC, by address.
struct RoomRecord {
  std::string address;
  std::string name;        // given by staff; "" = none
  std::string clientName;  // sent with its last room request; "" = none yet
  std::string server;      // the server it was last connected to
  std::int64_t lastSeen = 0;
};

struct SongInfo {
  std::string singer;
  std::string title;
};

struct RoomCalls {
  std::string address;
  std::string room;
  std::int64_t calls = 0;
  std::int64_t presses = 0;
};

struct SongPlays {
  std::int64_t singId = 0;
  std::int64_t plays = 0;
};

// The answer to an acknowledge or done: the call as it stands afterwards.
struct CallChange {
  enum Outcome { kChanged, kNotFound, kConflict } outcome = kNotFound;
  Call call;
};

// Longest texts the desk stores, in characters; longer ones are cut.
inline constexpr std::size_t kMaxNameChars = 64;

// `text` cut to at most `chars` UTF-8 characters (never inside one).
std::string CutUtf8(const std::string& text, std::size_t chars);

class DeskStore {
 public:
  // `mariadb` chooses the dialect of the table definitions and transactions.
  DeskStore(std::unique_ptr<SqlBackend> database, bool mariadb);
  ~DeskStore();
  DeskStore(const DeskStore&) = delete;
  DeskStore& operator=(const DeskStore&) = delete;

  // Creates the desk's tables and indexes that are missing.
  void EnsureTables();

  // Runs `work` as one transaction (see SqlBackend::Transaction).
  void Transaction(const std::function<void()>& work);

  // A room request: adds a press to the room's open call (same address and
  // room name, not done), or opens a new call. Returns the call's id.
  std::int64_t Press(const std::string& room, const std::string& address, const std::string& peer,
                     std::int64_t now);
  // pending -> acknowledged. A call that is no longer pending is a conflict.
  CallChange Acknowledge(std::int64_t id, const std::string& staff, std::int64_t now);
  // pending or acknowledged -> done; a pending call counts as acknowledged
  // by whoever finishes it. A call already done is a conflict.
  CallChange Finish(std::int64_t id, const std::string& staff, std::int64_t now);
  std::optional<Call> FindCall(std::int64_t id);
  // Every open call and the calls done since `since`, newest first; at most
  // `limit` done ones.
  std::vector<Call> Calls(std::int64_t since, std::size_t limit);

  std::vector<RoomRecord> Rooms();
  // Staff's name for the room at `address`; "" takes the name away.
  void SetRoomName(const std::string& address, const std::string& name);
  // The room was seen (connected, disconnected) by `server`; a non-empty
  // clientName is remembered as the name it last sent.
  void RoomSeen(const std::string& address, const std::string& clientName,
                const std::string& server, std::int64_t now);

  void RecordPlay(const std::string& address, std::int64_t singId, std::int64_t now);
  // Singer and title of a catalogue song; nullopt when the catalogue has no
  // such song.
  std::optional<SongInfo> Song(std::int64_t singId);

  // Calls per room, most played songs and answered calls since `since`.
  std::vector<RoomCalls> CallsPerRoom(std::int64_t since);
  std::vector<SongPlays> TopSongs(std::int64_t since, std::size_t limit);
  std::vector<Call> AnsweredCalls(std::int64_t since, std::size_t limit);

  // The stored Argon2id hash of a staff account.
  std::optional<std::string> StaffHash(const std::string& name);
  // Adds the account or replaces its password; true when it is new.
  bool PutStaff(const std::string& name, const std::string& hash, std::int64_t now);
  std::int64_t StaffCount();

 private:
  std::vector<Call> ReadCalls(std::unique_ptr<SqlCursor> cursor);

  std::unique_ptr<SqlBackend> db_;
  bool mariadb_;
};

}  // namespace quor::server::console
