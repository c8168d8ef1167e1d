#pragma once
// The terminals connected to this server now, as the sessions report them:
// when each connected, its last request, the room name it last sent and the
// song it last started. Written by the session threads, read by the desk's
// worker; every operation is a few field writes under one mutex, so that a
// terminal never waits for the console.

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace quor::server::console {

struct LiveRoom {
  std::string peer;     // address:port of the session
  std::string address;  // the terminal's IPv4 address
  std::int64_t connectedAt = 0;
  std::int64_t lastActivity = 0;
  std::string clientName;   // sent with a room request of this session; "" = none yet
  std::int64_t singId = 0;  // the song last started; 0 = none
  std::int64_t songAt = 0;
};

// "10.0.0.7" of "10.0.0.7:40112".
std::string AddressOfPeer(const std::string& peer);

class LiveRooms {
 public:
  void Started(const std::string& peer, std::int64_t now);
  void Active(const std::string& peer, std::int64_t now);
  void Ended(const std::string& peer);
  void Named(const std::string& peer, const std::string& clientName, std::int64_t now);
  void Song(const std::string& peer, std::int64_t singId, std::int64_t now);

  // The rooms in the order they connected; `version` gets a number that
  // grows with every change.
  std::vector<LiveRoom> Snapshot(std::uint64_t& version) const;
  std::uint64_t Version() const;

 private:
  // Guarded by mutex_.
  mutable std::mutex mutex_;
  std::unordered_map<std::string, LiveRoom> rooms_;
  std::uint64_t version_ = 0;
};

}  // namespace quor::server::console
