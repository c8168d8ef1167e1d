#include "server/console/DeskStore.h"

#include <algorithm>

namespace quor::server::console {
namespace {

constexpr const char* kCallColumns =
    "Id, Room, Address, Peer, Presses, FirstAt, LastAt, State, AckBy, AckAt, DoneBy, DoneAt, Rev";

// Table definitions per dialect: SQLite takes the MariaDB types by affinity,
// but its row id column and MariaDB's auto increment are spelled apart.
constexpr const char* kSqliteTables[] = {
    "create table if not exists deskcall (Id integer primary key autoincrement, "
    "Room varchar(64) not null, Address varchar(64) not null, Peer varchar(64) not null, "
    "Presses integer not null, FirstAt bigint not null, LastAt bigint not null, "
    "State varchar(12) not null, AckBy varchar(64), AckAt bigint, DoneBy varchar(64), "
    "DoneAt bigint, Rev integer not null)",
    "create table if not exists deskstaff (Name varchar(64) not null primary key, "
    "Hash varchar(255) not null, CreatedAt bigint not null)",
    "create table if not exists deskroom (Address varchar(64) not null primary key, "
    "Name varchar(64) not null, ClientName varchar(64) not null, Server varchar(128) not null, "
    "LastSeen bigint not null)",
    "create table if not exists deskplay (PlayedAt bigint not null, "
    "Address varchar(64) not null, SingId bigint not null)",
};
constexpr const char* kMariaDbTables[] = {
    "create table if not exists deskcall (Id bigint not null auto_increment primary key, "
    "Room varchar(64) not null, Address varchar(64) not null, Peer varchar(64) not null, "
    "Presses integer not null, FirstAt bigint not null, LastAt bigint not null, "
    "State varchar(12) not null, AckBy varchar(64), AckAt bigint, DoneBy varchar(64), "
    "DoneAt bigint, Rev integer not null) character set utf8mb4",
    "create table if not exists deskstaff (Name varchar(64) not null primary key, "
    "Hash varchar(255) not null, CreatedAt bigint not null) character set utf8mb4",
    "create table if not exists deskroom (Address varchar(64) not null primary key, "
    "Name varchar(64) not null, ClientName varchar(64) not null, Server varchar(128) not null, "
    "LastSeen bigint not null) character set utf8mb4",
    "create table if not exists deskplay (PlayedAt bigint not null, "
    "Address varchar(64) not null, SingId bigint not null) character set utf8mb4",
};
constexpr const char* kIndexes[] = {
    "create index if not exists deskcall_state on deskcall (State)",
    "create index if not exists deskcall_done on deskcall (DoneAt)",
    "create index if not exists deskcall_first on deskcall (FirstAt)",
    "create index if not exists deskplay_at on deskplay (PlayedAt)",
};

std::int64_t Int(const SqlCursor& cursor, std::size_t column) {
  return cursor.IsNull(column) ? 0 : cursor.Integer(column);
}

std::string Text(const SqlCursor& cursor, std::size_t column) {
  return std::string(cursor.Text(column));
}

CallState StateFromName(std::string_view name) {
  if (name == "acknowledged") return CallState::kAcknowledged;
  if (name == "done") return CallState::kDone;
  return CallState::kPending;
}

SqlValue T(const std::string& text) {
  return SqlText{text};
}

}  // namespace

const char* CallStateName(CallState state) {
  switch (state) {
    case CallState::kAcknowledged:
      return "acknowledged";
    case CallState::kDone:
      return "done";
    case CallState::kPending:
      break;
  }
  return "pending";
}

std::string CutUtf8(const std::string& text, std::size_t chars) {
  std::size_t at = 0;
  for (std::size_t n = 0; at < text.size(); ++n) {
    if (n == chars) return text.substr(0, at);
    ++at;
    while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) ++at;
  }
  return text;
}

DeskStore::DeskStore(std::unique_ptr<SqlBackend> database, bool mariadb)
    : db_(std::move(database)), mariadb_(mariadb) {
  // The desk's own statements are short; a database that hangs is cut off
  // like a terminal statement would be.
  db_->SetStatementTimeLimit(kDefaultStatementTimeLimitMs);
  // SQLite has one writer at a time: while a burst of room requests goes in,
  // each its own transaction, the desk's batch waits its turn rather than
  // giving up after the sessions' few seconds.
  if (!mariadb_) db_->Exec("pragma busy_timeout = 60000", {});
}

DeskStore::~DeskStore() = default;

void DeskStore::EnsureTables() {
  for (const char* sql : mariadb_ ? kMariaDbTables : kSqliteTables) db_->Exec(sql, {});
  for (const char* sql : kIndexes) db_->Exec(sql, {});
}

void DeskStore::Transaction(const std::function<void()>& work) {
  db_->Transaction(work);
}

std::int64_t DeskStore::Press(const std::string& room, const std::string& address,
                              const std::string& peer, std::int64_t now) {
  const std::string name = CutUtf8(room, kMaxNameChars);
  auto openCall = [&]() -> std::optional<std::int64_t> {
    auto cursor = db_->Select(
        "select Id from deskcall where Address = ? and Room = ? and State in "
        "('pending', 'acknowledged') order by Id desc limit 1",
        {T(address), T(name)});
    if (!cursor->Step()) return std::nullopt;
    return Int(*cursor, 0);
  };
  if (const auto id = openCall()) {
    db_->Exec(
        "update deskcall set Presses = Presses + 1, LastAt = ?, Peer = ?, Rev = Rev + 1 "
        "where Id = ?",
        {now, T(peer), *id});
    return *id;
  }
  db_->Exec(
      "insert into deskcall (Room, Address, Peer, Presses, FirstAt, LastAt, State, Rev) "
      "values (?, ?, ?, 1, ?, ?, 'pending', 1)",
      {T(name), T(address), T(peer), now, now});
  const auto id = openCall();
  if (!id) throw SqlError("The new call could not be read back");
  return *id;
}

CallChange DeskStore::Acknowledge(std::int64_t id, const std::string& staff, std::int64_t now) {
  CallChange change;
  const auto changed = db_->Exec(
      "update deskcall set State = 'acknowledged', AckBy = ?, AckAt = ?, Rev = Rev + 1 "
      "where Id = ? and State = 'pending'",
      {T(staff), now, id});
  const auto call = FindCall(id);
  if (!call) return change;
  change.call = *call;
  change.outcome = changed > 0 ? CallChange::kChanged : CallChange::kConflict;
  return change;
}

CallChange DeskStore::Finish(std::int64_t id, const std::string& staff, std::int64_t now) {
  CallChange change;
  const auto changed = db_->Exec(
      "update deskcall set State = 'done', DoneBy = ?, DoneAt = ?, "
      "AckBy = coalesce(AckBy, ?), AckAt = coalesce(AckAt, ?), Rev = Rev + 1 "
      "where Id = ? and State <> 'done'",
      {T(staff), now, T(staff), now, id});
  const auto call = FindCall(id);
  if (!call) return change;
  change.call = *call;
  change.outcome = changed > 0 ? CallChange::kChanged : CallChange::kConflict;
  return change;
}

std::optional<Call> DeskStore::FindCall(std::int64_t id) {
  auto calls = ReadCalls(
      db_->Select(std::string("select ") + kCallColumns + " from deskcall where Id = ?", {id}));
  if (calls.empty()) return std::nullopt;
  return calls.front();
}

std::vector<Call> DeskStore::Calls(std::int64_t since, std::size_t limit) {
  std::vector<Call> calls = ReadCalls(
      db_->Select(std::string("select ") + kCallColumns +
                      " from deskcall where State in ('pending', 'acknowledged') order by Id desc",
                  {}));
  std::vector<Call> done = ReadCalls(db_->Select(
      std::string("select ") + kCallColumns +
          " from deskcall where DoneAt >= ? and State = 'done' order by Id desc limit ?",
      {since, static_cast<std::int64_t>(limit)}));
  calls.insert(calls.end(), done.begin(), done.end());
  return calls;
}

std::vector<Call> DeskStore::ReadCalls(std::unique_ptr<SqlCursor> cursor) {
  std::vector<Call> calls;
  while (cursor->Step()) {
    Call call;
    call.id = Int(*cursor, 0);
    call.room = Text(*cursor, 1);
    call.address = Text(*cursor, 2);
    call.peer = Text(*cursor, 3);
    call.presses = Int(*cursor, 4);
    call.firstAt = Int(*cursor, 5);
    call.lastAt = Int(*cursor, 6);
    call.state = StateFromName(cursor->Text(7));
    call.ackBy = Text(*cursor, 8);
    call.ackAt = Int(*cursor, 9);
    call.doneBy = Text(*cursor, 10);
    call.doneAt = Int(*cursor, 11);
    call.rev = Int(*cursor, 12);
    calls.push_back(std::move(call));
  }
  return calls;
}

std::vector<RoomRecord> DeskStore::Rooms() {
  auto cursor = db_->Select(
      "select Address, Name, ClientName, Server, LastSeen from deskroom order by Address", {});
  std::vector<RoomRecord> rooms;
  while (cursor->Step()) {
    rooms.push_back(
        {Text(*cursor, 0), Text(*cursor, 1), Text(*cursor, 2), Text(*cursor, 3), Int(*cursor, 4)});
  }
  return rooms;
}

void DeskStore::SetRoomName(const std::string& address, const std::string& name) {
  const std::string cut = CutUtf8(name, kMaxNameChars);
  if (db_->Select("select Address from deskroom where Address = ?", {T(address)})->Step()) {
    db_->Exec("update deskroom set Name = ? where Address = ?", {T(cut), T(address)});
  } else {
    db_->Exec(
        "insert into deskroom (Address, Name, ClientName, Server, LastSeen) "
        "values (?, ?, '', '', 0)",
        {T(address), T(cut)});
  }
}

void DeskStore::RoomSeen(const std::string& address, const std::string& clientName,
                         const std::string& server, std::int64_t now) {
  const std::string name = CutUtf8(clientName, kMaxNameChars);
  if (db_->Select("select Address from deskroom where Address = ?", {T(address)})->Step()) {
    if (name.empty()) {
      db_->Exec("update deskroom set Server = ?, LastSeen = ? where Address = ?",
                {T(server), now, T(address)});
    } else {
      db_->Exec("update deskroom set ClientName = ?, Server = ?, LastSeen = ? where Address = ?",
                {T(name), T(server), now, T(address)});
    }
  } else {
    db_->Exec(
        "insert into deskroom (Address, Name, ClientName, Server, LastSeen) "
        "values (?, '', ?, ?, ?)",
        {T(address), T(name), T(server), now});
  }
}

void DeskStore::RecordPlay(const std::string& address, std::int64_t singId, std::int64_t now) {
  db_->Exec("insert into deskplay (PlayedAt, Address, SingId) values (?, ?, ?)",
            {now, T(address), singId});
}

std::optional<SongInfo> DeskStore::Song(std::int64_t singId) {
  auto cursor =
      db_->Select("select SINGER, SINGNAME from vodinfo where SINGID = ? limit 1", {singId});
  if (!cursor->Step()) return std::nullopt;
  return SongInfo{Text(*cursor, 0), Text(*cursor, 1)};
}

std::vector<RoomCalls> DeskStore::CallsPerRoom(std::int64_t since) {
  auto cursor = db_->Select(
      "select Address, Room, count(*), sum(Presses) from deskcall where FirstAt >= ? "
      "group by Address, Room order by count(*) desc, Room",
      {since});
  std::vector<RoomCalls> rooms;
  while (cursor->Step()) {
    rooms.push_back({Text(*cursor, 0), Text(*cursor, 1), Int(*cursor, 2), Int(*cursor, 3)});
  }
  return rooms;
}

std::vector<SongPlays> DeskStore::TopSongs(std::int64_t since, std::size_t limit) {
  auto cursor = db_->Select(
      "select SingId, count(*) from deskplay where PlayedAt >= ? group by SingId "
      "order by count(*) desc, SingId limit ?",
      {since, static_cast<std::int64_t>(limit)});
  std::vector<SongPlays> songs;
  while (cursor->Step()) songs.push_back({Int(*cursor, 0), Int(*cursor, 1)});
  return songs;
}

std::vector<Call> DeskStore::AnsweredCalls(std::int64_t since, std::size_t limit) {
  return ReadCalls(db_->Select(std::string("select ") + kCallColumns +
                                   " from deskcall where FirstAt >= ? and AckAt is not null "
                                   "order by FirstAt desc limit ?",
                               {since, static_cast<std::int64_t>(limit)}));
}

std::optional<std::string> DeskStore::StaffHash(const std::string& name) {
  auto cursor = db_->Select("select Hash from deskstaff where Name = ?", {T(name)});
  if (!cursor->Step()) return std::nullopt;
  return Text(*cursor, 0);
}

bool DeskStore::PutStaff(const std::string& name, const std::string& hash, std::int64_t now) {
  if (StaffHash(name)) {
    db_->Exec("update deskstaff set Hash = ? where Name = ?", {T(hash), T(name)});
    return false;
  }
  db_->Exec("insert into deskstaff (Name, Hash, CreatedAt) values (?, ?, ?)",
            {T(name), T(hash), now});
  return true;
}

std::int64_t DeskStore::StaffCount() {
  auto cursor = db_->Select("select count(*) from deskstaff", {});
  return cursor->Step() ? Int(*cursor, 0) : 0;
}

}  // namespace quor::server::console
