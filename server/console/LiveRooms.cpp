#include "server/console/LiveRooms.h"

#include <algorithm>

namespace quor::server::console {

std::string AddressOfPeer(const std::string& peer) {
  const auto colon = peer.rfind(':');
  return colon == std::string::npos ? peer : peer.substr(0, colon);
}

void LiveRooms::Started(const std::string& peer, std::int64_t now) {
  const std::lock_guard lock(mutex_);
  LiveRoom& room = rooms_[peer];
  room = LiveRoom{};
  room.peer = peer;
  room.address = AddressOfPeer(peer);
  room.connectedAt = now;
  room.lastActivity = now;
  ++version_;
}

void LiveRooms::Active(const std::string& peer, std::int64_t now) {
  const std::lock_guard lock(mutex_);
  const auto it = rooms_.find(peer);
  if (it == rooms_.end()) return;
  it->second.lastActivity = now;
  ++version_;
}

void LiveRooms::Ended(const std::string& peer) {
  const std::lock_guard lock(mutex_);
  if (rooms_.erase(peer) != 0) ++version_;
}

void LiveRooms::Named(const std::string& peer, const std::string& clientName, std::int64_t now) {
  const std::lock_guard lock(mutex_);
  const auto it = rooms_.find(peer);
  if (it == rooms_.end()) return;
  it->second.clientName = clientName;
  it->second.lastActivity = now;
  ++version_;
}

void LiveRooms::Song(const std::string& peer, std::int64_t singId, std::int64_t now) {
  const std::lock_guard lock(mutex_);
  const auto it = rooms_.find(peer);
  if (it == rooms_.end()) return;
  it->second.singId = singId;
  it->second.songAt = now;
  ++version_;
}

std::vector<LiveRoom> LiveRooms::Snapshot(std::uint64_t& version) const {
  std::vector<LiveRoom> rooms;
  {
    const std::lock_guard lock(mutex_);
    version = version_;
    rooms.reserve(rooms_.size());
    for (const auto& [peer, room] : rooms_) rooms.push_back(room);
  }
  std::sort(rooms.begin(), rooms.end(), [](const LiveRoom& a, const LiveRoom& b) {
    return a.connectedAt != b.connectedAt ? a.connectedAt < b.connectedAt : a.peer < b.peer;
  });
  return rooms;
}

std::uint64_t LiveRooms::Version() const {
  const std::lock_guard lock(mutex_);
  return version_;
}

}  // namespace quor::server::console
