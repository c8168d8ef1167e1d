// libFuzzer target: request blocks from a hostile terminal, handled by a
// session's interpreter and server object over a small real catalogue.
// Whatever arrives, the server answers or refuses; it never crashes, hangs
// or allocates without bound.
//
// The input is a run of blocks as they lie on the wire (signature, size,
// data); a size beyond the input ends the run. The server object exists
// before the first block (object id 0), so invokes reach the providers. The
// catalogue lies in /dev/shm: room requests the fuzzer stores cost no fsync.

#include <sqlite3.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "remote/Remote.h"
#include "server/AppServerObject.h"
#include "server/RequestLog.h"

namespace {

using namespace quor;

class Sink final : public remote::ISendDataBlock {
 public:
  remote::Ref<remote::IDataBlock> Send(const remote::Ref<remote::IDataBlock>&, bool) override {
    return nullptr;
  }
};

std::string MakeCatalogue() {
  const std::string path = "/dev/shm/quor-server-fuzz-" + std::to_string(getpid()) + ".db";
  std::remove(path.c_str());
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_exec(db,
               "create table vodinfo (SINGID integer, SINGNAME varchar(50), SINGER varchar(50), "
               "PATH1 varchar(200));"
               "insert into vodinfo values (10001,'歌曲','歌手','V:/a.mpg'),(10002,'x',null,'');"
               "create table singer (SEX varchar(4), SINGNAME varchar(50), Path varchar(100));"
               "insert into singer values ('男','歌手','Photo/a.jpg');",
               nullptr, nullptr, nullptr);
  sqlite3_close(db);
  server::OpenSqliteBackend(path)->EnsureRoomCallTable();
  return path;
}

struct World {
  std::string path = MakeCatalogue();
  std::unique_ptr<server::RequestLog> log = server::RequestLog::Open("/dev/null");
  std::unique_ptr<server::SqlBackend> backend;
  server::SessionContext context;
  remote::ClassRegistry registry;

  World() {
    context.peer = "fuzz";
    context.log = log.get();
    context.database = [this]() -> server::SqlBackend& {
      if (!backend) {
        backend = server::OpenSqliteBackend(path);
        // Fuzzed statements may be endless; each step gets a short leash.
        backend->SetStatementTimeLimit(50);
      }
      return *backend;
    };
    registry.Register(server::kServerClassId, server::kServerProgId, [this] {
      return remote::Ref<remote::IUnknown>(new server::AppServerObject(context));
    });
    registry.SetValue(server::kServerClassId, "Sockets", "1");
  }
  ~World() {
    backend.reset();
    for (const char* suffix : {"", "-wal", "-shm"}) std::remove((path + suffix).c_str());
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static World world;
  Sink sink;
  remote::DataBlockInterpreter interpreter(sink, "Sockets", &world.registry);
  interpreter.StoreObject(remote::Variant::Dispatch(
      remote::Ref<remote::IDispatch>(new server::AppServerObject(world.context))));
  std::size_t at = 0;
  while (size - at >= 8) {
    std::int32_t length = 0;
    std::memcpy(&length, data + at + 4, 4);
    if (length < 0 || static_cast<std::size_t>(length) > size - at - 8) break;
    auto block = remote::DataBlock::Create();
    const std::size_t whole = 8 + static_cast<std::size_t>(length);
    try {
      block->LoadFrom(data + at, static_cast<std::int32_t>(whole), true);
      interpreter.HandleBlock(block);
    } catch (const remote::Exception&) {
      // A received error block, or a block refused as a whole: both are
      // answers the session survives.
    }
    at += whole;
  }
  return 0;
}
