// What only the MariaDB backend does: connecting, its column types, long
// values fetched in pieces, queries in one round trip, and a connection the
// server dropped.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <unistd.h>

#include "server/SqlBackend.h"
#include "tests/server/MariaDbTestServer.h"
#include "tests/server/SqlTestCatalogue.h"

namespace quor::server {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class MariaDbBackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string whyNot;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    catalogue_ = testing::SqlTestCatalogue::Create(testing::Flavour::MariaDb,
                                                   std::string("M") + info->name(), whyNot);
    if (!catalogue_) GTEST_SKIP() << "MariaDB tests skipped: " << whyNot;
    server_ = testing::MariaDbTestServer::Shared(whyNot);
    backend_ = catalogue_->Open();
  }
  // Why the statement was refused, opened in packets or whole; "(accepted)"
  // when it was not.
  std::string RefusalOf(const std::string& sql, bool whole) {
    try {
      if (whole) {
        backend_->OpenReadOnlyWhole(sql);
      } else {
        backend_->OpenReadOnly(sql);
      }
      return "(accepted)";
    } catch (const SqlError& e) {
      return e.what();
    }
  }
  std::unique_ptr<testing::SqlTestCatalogue> catalogue_;
  testing::MariaDbTestServer* server_ = nullptr;
  std::unique_ptr<SqlBackend> backend_;
};

TEST_F(MariaDbBackendTest, ReportsWhyItCannotConnect) {
  MariaDbAddress wrongPassword = server_->Address("mysql");
  wrongPassword.password = "not-the-password";
  try {
    OpenMariaDbBackend(wrongPassword);
    FAIL() << "connected with a wrong password";
  } catch (const SqlError& e) {
    EXPECT_THAT(e.what(), HasSubstr("Cannot connect to MariaDB at 127.0.0.1:"));
  }
  MariaDbAddress nobody = server_->Address("mysql");
  nobody.port = 1;  // nothing listens there
  EXPECT_THROW(OpenMariaDbBackend(nobody), SqlError);
}

// A plain query is prepared and executed in one round trip, without a look
// at its result set first: a SELECT that stores its rows (INTO, also inside
// a comment the server runs) must never go that way, and is refused before
// it runs.
TEST_F(MariaDbBackendTest, RefusesAQueryThatStoresItsRowsBeforeItRuns) {
  const std::string file = "/tmp/quor-into-" + std::to_string(::getpid());
  const std::string storing[] = {
      "select 1 into @x",
      "SELECT 2 INTO @x",
      "select 3\ninto @x;",
      "select/*!100000 4 into @x*/",
      "select 5 /*M!100000 into @x */",
      "select SINGID into @x from vodinfo limit 1",
  };
  for (const std::string& sql : storing) {
    for (const bool whole : {false, true}) {
      EXPECT_THAT(RefusalOf(sql, whole), HasSubstr("returns rows")) << sql;
    }
  }
  auto x = backend_->OpenReadOnlyWhole("select @x is null, connection_id()");
  ASSERT_TRUE(x->Step());
  EXPECT_EQ(x->Integer(0), 1);
  const std::int64_t connectionId = x->Integer(1);
  EXPECT_FALSE(x->Step());  // read to its end: the connection stays
  x.reset();
  // Refused either way (our user lacks the FILE privilege, too).
  EXPECT_THROW(
      backend_->OpenReadOnlyWhole("select SINGID from vodinfo into outfile '" + file + "'"),
      SqlError);
  EXPECT_NE(::access(file.c_str(), F_OK), 0);

  // A query that fails on its way in one round trip leaves the connection
  // fit for the next, paged or whole.
  EXPECT_THROW(backend_->OpenReadOnlyWhole("select nosuchcolumn from vodinfo"), SqlError);
  EXPECT_THROW(backend_->OpenReadOnly("select from vodinfo"), SqlError);
  for (const bool whole : {false, true}) {
    auto next = whole ? backend_->OpenReadOnlyWhole("select count(*), connection_id() from vodinfo")
                      : backend_->OpenReadOnly("select count(*), connection_id() from vodinfo");
    ASSERT_TRUE(next->Step());
    EXPECT_EQ(next->Integer(0), 25);
    EXPECT_EQ(next->Integer(1), connectionId);
    next.reset();
    backend_->Idle();
  }
}

// SET STATEMENT name=value FOR <query> would run a query under its own time
// limit and memory bound: refused before it reaches the database, however
// the SET is hidden at the start.
TEST_F(MariaDbBackendTest, AQueryCannotLiftTheSessionsBoundsForItself) {
  const std::string lifting[] = {
      "set statement max_statement_time=0 for select sleep(30)",
      "SET STATEMENT max_session_mem_used=4000000000 FOR select 1",
      "  -- a remark\n# another\n/* and one more */ Set\tstatement group_concat_max_len=1 for "
      "select 1",
      "/*!100000 set statement max_statement_time=0 for */ select sleep(30)",
      "/*M!100000set statement max_statement_time=0 for*/select sleep(30)",
      "set",
  };
  for (const std::string& sql : lifting) {
    for (const bool whole : {false, true}) {
      const auto start = std::chrono::steady_clock::now();
      EXPECT_THAT(RefusalOf(sql, whole), HasSubstr("SET STATEMENT")) << sql;
      EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << sql;
    }
  }
  // A word that only begins with the letters, or a SET later on, is no such thing.
  for (const char* sql : {"select 1 as settings", "/* set */ select 'set statement'",
                          "-- set\nselect 1", "settings"}) {
    try {
      auto cursor = backend_->OpenReadOnlyWhole(sql);
      while (cursor->Step()) {
      }
    } catch (const SqlError& e) {
      EXPECT_THAT(e.what(), Not(HasSubstr("SET STATEMENT"))) << sql;
    }
  }
}

TEST_F(MariaDbBackendTest, FetchesLongValuesWholeAndTypesServerColumns) {
  catalogue_->Admin(
      "create table wide (id int, body mediumtext, u bigint unsigned, d decimal(8,2), "
      "at datetime);"
      "insert into wide values (1, repeat('歌', 10000), 18446744073709551615, 12.50, "
      "'2026-12-08 01:02:03'), (2, 'short', 0, null, null)");
  auto cursor = backend_->OpenReadOnly("select id, body, u, d, at from wide order by id");
  const auto& columns = cursor->Columns();
  EXPECT_EQ(columns[0].type, FieldType::Int32);
  EXPECT_EQ(columns[1].type, FieldType::Text);
  EXPECT_EQ(columns[2].type, FieldType::Text);
  EXPECT_EQ(columns[3].type, FieldType::Text);
  EXPECT_EQ(columns[4].type, FieldType::Text);
  ASSERT_TRUE(cursor->Step());
  std::string expected;
  for (int i = 0; i < 10000; ++i) expected += "歌";
  EXPECT_EQ(cursor->Text(1), expected);
  EXPECT_EQ(cursor->Text(2), "18446744073709551615");
  EXPECT_EQ(cursor->Text(3), "12.50");
  EXPECT_EQ(cursor->Text(4), "2026-12-08 01:02:03");
  ASSERT_TRUE(cursor->Step());
  EXPECT_EQ(cursor->Text(1), "short");
  EXPECT_TRUE(cursor->IsNull(3));
  EXPECT_FALSE(cursor->Step());
}

TEST_F(MariaDbBackendTest, ConnectsAgainAfterTheServerDroppedTheConnection) {
  auto id = backend_->OpenReadOnly("select connection_id()");
  ASSERT_TRUE(id->Step());
  const std::int64_t connectionId = id->Integer(0);
  id.reset();
  server_->Admin("kill " + std::to_string(connectionId));
  auto cursor = backend_->OpenReadOnly("select count(*) from vodinfo");
  ASSERT_TRUE(cursor->Step());
  EXPECT_EQ(cursor->Integer(0), 25);
}

// A result read at once comes without a server-side cursor, its rows on the
// wire as the database makes them. One dropped early, or left unread while
// something else runs, must not block the connection nor let the database
// go on making rows: the connection is cancelled and made again.
TEST_F(MariaDbBackendTest, AStreamDroppedEarlyOrLeftUnreadNeverBlocksTheNextStatement) {
  const std::string endless =
      "with recursive n(i) as (select 1 union all select i + 1 from n where i < 100000000) "
      "select i, repeat('x', 200) from n";
  auto whole = backend_->OpenReadOnlyWhole("select SINGID from vodinfo order by SINGID");
  std::int64_t rows = 0;
  while (whole->Step()) ++rows;
  EXPECT_EQ(rows, 25);
  whole.reset();
  backend_->Idle();

  for (int round = 0; round < 2; ++round) {
    const auto start = std::chrono::steady_clock::now();
    auto stream = backend_->OpenReadOnlyWhole(endless);
    ASSERT_TRUE(stream->Step());
    EXPECT_EQ(stream->Integer(0), 1);
    if (round == 0) stream.reset();  // dropped after one row
    // Left unread (round 1): the next statement still runs.
    auto next = backend_->OpenReadOnly("select count(*) from vodinfo");
    ASSERT_TRUE(next->Step());
    EXPECT_EQ(next->Integer(0), 25);
    if (stream) EXPECT_THROW(while (stream->Step()){}, SqlError);
    next.reset();
    backend_->Idle();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << round;
  }
  // The database is not left making the cancelled rows.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(
      server_->AdminValue("select count(*) from information_schema.PROCESSLIST where INFO like "
                          "'with recursive n(i)%'"),
      "0");
  // The server's own statements go on after it too.
  backend_->EnsureRoomCallTable();
  backend_->InsertRow("roomcall", {"ClientName", "CalledAt", "Peer"},
                      {SqlText{"Room1"}, SqlText{"2026-12-08 01:02:03"}, SqlText{"p"}});
}

}  // namespace
}  // namespace quor::server
