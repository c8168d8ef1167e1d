#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

#include "data/Engine.h"
#include "engine/Packet.h"
#include "platform/EngineRegistry.h"
#include "platform/ProgramFolder.h"

namespace quor::data {
namespace {

std::string BinDir() {
  const char* dir = std::getenv("QUOR_BIN_DIR");
  return dir != nullptr ? dir : "";
}

std::string LoadFailure() {
  try {
    CreateDSBase();
  } catch (const EngineLoadError& e) {
    EXPECT_STREQ(e.what(), "Error loading libdsengine.so");
    return e.Detail();
  }
  ADD_FAILURE() << "the engine loaded";
  return {};
}

// One process loads the library once, so the whole life of the loader runs
// in order in one test: failures first (each leaves nothing loaded), then
// the real library, which stays loaded whatever is recorded afterwards.
TEST(EngineLoader, FailsClearlyThenLoadsOnceAndCreatesWorkingObjects) {
  ASSERT_FALSE(BinDir().empty()) << "QUOR_BIN_DIR is not set";
  // Nothing recorded: the file beside the executable (not there for tests).
  EXPECT_NE(LoadFailure().find(platform::ProgramFolder() + "libdsengine.so"), std::string::npos);
  EXPECT_EQ(platform::RecordedEnginePath(), platform::ProgramFolder() + "libdsengine.so");

  const std::string text = ::testing::TempDir() + "not-a-library.so";
  std::ofstream(text) << "plain text";
  platform::RecordEnginePath(text);
  EXPECT_NE(LoadFailure().find(text), std::string::npos);

  platform::RecordEnginePath("libm.so.6");  // a real library without the entry
  EXPECT_NE(LoadFailure().find("no entry DllGetClassObject"), std::string::npos);
  EXPECT_EQ(LoadedEnginePath(), "");

  const std::string real = BinDir() + "/libdsengine.so";
  platform::RecordEnginePath(real);
  auto store = CreateDSBase();
  ASSERT_TRUE(store);
  EXPECT_EQ(LoadedEnginePath(), real);
  platform::RecordEnginePath("/nonexistent/libdsengine.so");  // loaded already: no effect

  // Objects from several threads at once, each usable.
  std::vector<std::thread> threads;
  std::vector<int> ok(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &ok] {
      for (int i = 0; i < 50; ++i) {
        auto s = CreateDSBase();
        auto c = CreateDSCursor();
        engine::PacketWriter w(engine::PacketKind::kData,
                               {engine::FieldDef{"N", engine::FieldType::kInt32, 4, 0, {}}});
        w.BeginRow();
        w.AddInt64(i);
        w.EndRow();
        const auto p = w.Finish();
        if (s->AppendPacket(p.data(), static_cast<std::uint32_t>(p.size()), -1) == 0 &&
            c->Attach(s.get()) == 0 && c->MoveRelative(1) == 0)
          ++ok[static_cast<std::size_t>(t)];
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(ok, (std::vector<int>{50, 50, 50, 50}));

  // An object the library does not make is refused, not dereferenced.
  try {
    CreateEngineObject(engine::kClsidDSBase, engine::kIidDSCursor);
    FAIL();
  } catch (const EngineLoadError& e) {
    EXPECT_STREQ(e.what(), "Error loading libdsengine.so");
    EXPECT_NE(e.Detail().find("no instance"), std::string::npos);
  }
  EXPECT_THROW(CreateEngineObject(engine::kIidDSBase, engine::kIidDSBase), EngineLoadError);
}

}  // namespace
}  // namespace quor::data
