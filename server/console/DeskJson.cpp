#include "server/console/DeskJson.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <set>

namespace quor::server::console {
namespace {

using nlohmann::json;

std::string Dump(const json& value) {
  return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

json Nullable(const std::string& text) {
  return text.empty() ? json(nullptr) : json(text);
}

json NullableTime(std::int64_t ms) {
  return ms == 0 ? json(nullptr) : json(ms);
}

std::string FirstOf(std::initializer_list<const std::string*> texts) {
  for (const std::string* text : texts) {
    if (!text->empty()) return *text;
  }
  return {};
}

}  // namespace

std::string CallsJson(const std::vector<Call>& calls, const NameLookup& names) {
  json list = json::array();
  for (const Call& call : calls) {
    const std::string staffName = names(call.address);
    list.push_back({{"id", call.id},
                    {"name", FirstOf({&staffName, &call.room, &call.address})},
                    {"room", call.room},
                    {"address", call.address},
                    {"peer", call.peer},
                    {"presses", call.presses},
                    {"firstAt", call.firstAt},
                    {"lastAt", call.lastAt},
                    {"state", CallStateName(call.state)},
                    {"ackBy", Nullable(call.ackBy)},
                    {"ackAt", NullableTime(call.ackAt)},
                    {"doneBy", Nullable(call.doneBy)},
                    {"doneAt", NullableTime(call.doneAt)}});
  }
  return Dump({{"calls", std::move(list)}});
}

std::string RoomsJson(const std::vector<LiveRoom>& live, const std::vector<RoomRecord>& table,
                      const std::string& serverName, const SongLookup& songs) {
  auto recordOf = [&](const std::string& address) -> const RoomRecord* {
    const auto it = std::find_if(table.begin(), table.end(),
                                 [&](const RoomRecord& r) { return r.address == address; });
    return it == table.end() ? nullptr : &*it;
  };
  const std::string none;
  json connected = json::array();
  std::set<std::string> here;
  for (const LiveRoom& room : live) {
    here.insert(room.address);
    const RoomRecord* record = recordOf(room.address);
    const std::string& staffName = record != nullptr ? record->name : none;
    const std::string& sent = !room.clientName.empty() ? room.clientName
                              : record != nullptr      ? record->clientName
                                                       : none;
    json song = nullptr;
    if (room.singId != 0) {
      const auto info = songs(room.singId);
      song = {{"singId", room.singId},
              {"singer", info ? json(info->singer) : json(nullptr)},
              {"title", info ? json(info->title) : json(nullptr)},
              {"at", room.songAt}};
    }
    connected.push_back({{"peer", room.peer},
                         {"address", room.address},
                         {"name", FirstOf({&staffName, &sent, &room.address})},
                         {"staffName", Nullable(staffName)},
                         {"clientName", Nullable(sent)},
                         {"connectedAt", room.connectedAt},
                         {"lastActivity", room.lastActivity},
                         {"song", std::move(song)}});
  }
  json offline = json::array();
  for (const RoomRecord& record : table) {
    if (here.count(record.address) != 0) continue;
    if (!record.server.empty() && record.server != serverName) continue;
    offline.push_back({{"address", record.address},
                       {"name", FirstOf({&record.name, &record.clientName, &record.address})},
                       {"staffName", Nullable(record.name)},
                       {"clientName", Nullable(record.clientName)},
                       {"lastSeen", NullableTime(record.lastSeen)}});
  }
  return Dump({{"connected", std::move(connected)}, {"offline", std::move(offline)}});
}

std::string TodayJson(const TodayFigures& today, const NameLookup& names, const SongLookup& songs) {
  json rooms = json::array();
  for (const RoomCalls& room : today.rooms) {
    const std::string staffName = names(room.address);
    rooms.push_back({{"address", room.address},
                     {"name", FirstOf({&staffName, &room.room, &room.address})},
                     {"calls", room.calls},
                     {"presses", room.presses}});
  }
  json played = json::array();
  for (const SongPlays& song : today.songs) {
    const auto info = songs(song.singId);
    played.push_back({{"singId", song.singId},
                      {"singer", info ? json(info->singer) : json(nullptr)},
                      {"title", info ? json(info->title) : json(nullptr)},
                      {"plays", song.plays}});
  }
  json answered = json::array();
  std::vector<std::int64_t> waits;
  for (const Call& call : today.answered) {
    const std::string staffName = names(call.address);
    const std::int64_t wait = std::max<std::int64_t>(0, call.ackAt - call.firstAt);
    waits.push_back(wait);
    answered.push_back({{"id", call.id},
                        {"name", FirstOf({&staffName, &call.room, &call.address})},
                        {"firstAt", call.firstAt},
                        {"ackAt", call.ackAt},
                        {"ackBy", call.ackBy},
                        {"waitMs", wait}});
  }
  json summary = {{"count", waits.size()}, {"calls", std::move(answered)}};
  if (waits.empty()) {
    summary["averageMs"] = nullptr;
    summary["medianMs"] = nullptr;
    summary["longestMs"] = nullptr;
  } else {
    std::int64_t total = 0;
    for (const std::int64_t w : waits) total += w;
    std::sort(waits.begin(), waits.end());
    const std::size_t n = waits.size();
    summary["averageMs"] = total / static_cast<std::int64_t>(n);
    summary["medianMs"] = n % 2 == 1 ? waits[n / 2] : (waits[n / 2 - 1] + waits[n / 2]) / 2;
    summary["longestMs"] = waits.back();
  }
  return Dump({{"dayStart", today.dayStart},
               {"rooms", std::move(rooms)},
               {"songs", std::move(played)},
               {"answered", std::move(summary)}});
}

}  // namespace quor::server::console
