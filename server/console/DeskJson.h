#pragma once
// The JSON the page is sent: the calls, the rooms and today's figures. Texts
// from terminals and staff go in as JSON strings only; the page shows them
// as text. Invalid UTF-8 (a terminal may send anything) becomes U+FFFD.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "server/console/DeskStore.h"
#include "server/console/LiveRooms.h"

namespace quor::server::console {

// Staff's name for an address ("" = none).
using NameLookup = std::function<std::string(const std::string& address)>;
using SongLookup = std::function<std::optional<SongInfo>(std::int64_t singId)>;

// {"calls":[{id, name, room, address, peer, presses, firstAt, lastAt, state,
//   ackBy, ackAt, doneBy, doneAt}, ...]}; name: staff's name, else the room
// name the terminal sent, else the address.
std::string CallsJson(const std::vector<Call>& calls, const NameLookup& names);

// {"connected":[{peer, address, name, clientName, connectedAt, lastActivity,
//   song:{singId, singer, title, at}|null}], "offline":[{address, name,
//   clientName, lastSeen}]}. A connected room's name: staff's name, else the
// room name of its last request, else the address. Offline: the rooms of the
// table last seen by `serverName` (or never seen, only named) and not
// connected now.
std::string RoomsJson(const std::vector<LiveRoom>& live, const std::vector<RoomRecord>& table,
                      const std::string& serverName, const SongLookup& songs);

struct TodayFigures {
  std::int64_t dayStart = 0;
  std::vector<RoomCalls> rooms;
  std::vector<SongPlays> songs;
  std::vector<Call> answered;
};

// {"dayStart", "rooms":[{address, name, calls, presses}], "songs":[{singId,
//   singer, title, plays}], "answered":{count, averageMs, medianMs,
//   longestMs, calls:[{id, name, firstAt, ackAt, ackBy, waitMs}]}}
std::string TodayJson(const TodayFigures& today, const NameLookup& names, const SongLookup& songs);

}  // namespace quor::server::console
