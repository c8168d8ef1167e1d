// What only the SQLite backend does: the catalogue file, its hardening, and
// room requests beside other sessions' live cursors.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "server/SqlBackend.h"
#include "tests/server/SqlTestCatalogue.h"

namespace quor::server {
namespace {

using ::testing::HasSubstr;

class SqliteBackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string whyNot;
    catalogue_ = testing::SqlTestCatalogue::Create(testing::Flavour::Sqlite, "", whyNot);
    backend_ = catalogue_->Open();
  }
  std::string Refusal(const std::string& sql) {
    try {
      backend_->OpenReadOnly(sql);
    } catch (const SqlError& e) {
      return e.what();
    }
    return "(accepted)";
  }
  std::unique_ptr<testing::SqlTestCatalogue> catalogue_;
  std::unique_ptr<SqlBackend> backend_;
};

TEST_F(SqliteBackendTest, NeverCreatesOrAcceptsAFileThatIsNoCatalogue) {
  const std::string folder = std::filesystem::path(catalogue_->ServerArgument()).parent_path();
  const std::string missing = folder + "/typo.db";
  try {
    OpenSqliteBackend(missing);
    FAIL() << "opened a missing file";
  } catch (const SqlError& e) {
    EXPECT_THAT(e.what(), HasSubstr("Cannot open the catalogue database " + missing));
  }
  EXPECT_FALSE(std::filesystem::exists(missing));

  const std::string garbage = folder + "/garbage.db";
  std::ofstream(garbage) << std::string(8192, 'x');
  EXPECT_THROW(OpenSqliteBackend(garbage), SqlError);
}

TEST_F(SqliteBackendTest, RefusesStatementsThatReachPastTheCatalogue) {
  const std::string folder = std::filesystem::path(catalogue_->ServerArgument()).parent_path();
  EXPECT_NE(Refusal("attach database '" + folder + "/new.db' as x"), "(accepted)");
  EXPECT_FALSE(std::filesystem::exists(folder + "/new.db"));
  EXPECT_NE(Refusal("pragma user_version = 3"), "(accepted)");
  EXPECT_NE(Refusal("vacuum"), "(accepted)");
  EXPECT_THAT(Refusal("select 1; select 2"), HasSubstr("one statement"));
  EXPECT_THAT(Refusal("select 1; garbage"), HasSubstr("one statement"));
  EXPECT_EQ(Refusal("select 1; -- a comment is nothing"), "(accepted)");
  EXPECT_EQ(Refusal("select name from pragma_table_info('vodinfo')"), "(accepted)");
}

TEST_F(SqliteBackendTest, TypesExpressionsByTheirFirstValueAndNumericColumnsAsText) {
  catalogue_->Admin(
      "create table dated (d date, n numeric); insert into dated values ('2026-12-08', 12.5)");
  auto cursor = backend_->OpenReadOnly("select d, n, 1.5 * 2, 'x' || 'y', null from dated");
  const auto& columns = cursor->Columns();
  EXPECT_EQ(columns[0].type, FieldType::Text);
  EXPECT_EQ(columns[1].type, FieldType::Text);
  EXPECT_EQ(columns[2].type, FieldType::Real);
  EXPECT_EQ(columns[3].type, FieldType::Text);
  EXPECT_EQ(columns[4].type, FieldType::Text);
  ASSERT_TRUE(cursor->Step());
  EXPECT_EQ(cursor->Text(0), "2026-12-08");
  EXPECT_EQ(cursor->Text(1), "12.5");
  EXPECT_DOUBLE_EQ(cursor->Real(2), 3.0);
  EXPECT_TRUE(cursor->IsNull(4));
}

TEST_F(SqliteBackendTest, StoresARoomRequestWhileAnotherSessionHoldsALiveCursor) {
  backend_->EnsureRoomCallTable();
  auto otherSession = catalogue_->Open();
  auto live = otherSession->OpenReadOnly("select * from vodinfo");
  ASSERT_TRUE(live->Step());  // one row sent, the statement kept open
  const auto start = std::chrono::steady_clock::now();
  backend_->InsertRow("roomcall", {"ClientName", "CalledAt", "Peer"},
                      {SqlText{"Room8"}, SqlText{"2026-12-08 02:00:00"}, SqlText{"peer"}});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  ASSERT_TRUE(live->Step());
  auto check = otherSession->OpenReadOnly("select count(*) from roomcall");
  ASSERT_TRUE(check->Step());
  EXPECT_EQ(check->Integer(0), 1);
}

}  // namespace
}  // namespace quor::server
