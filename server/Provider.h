#pragma once
// A data provider of one session: runs the statements a terminal sends
// through it, read-only, answers them as data packets, keeps the statement's
// cursor open between packets, and stores the rows of a delta in its table.
//
// A provider belongs to one session and is used by that session's thread
// only. Failures raise exceptions whose message the terminal shows.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/Packet.h"
#include "remote/AppServer.h"
#include "server/SqlBackend.h"

namespace quor::server {

struct ProviderDefinition {
  std::string name;
  // Run when a request with field descriptions carries no statement.
  std::string defaultStatement;
  // Table that takes the rows of AS_ApplyUpdates; empty: no updates accepted.
  std::string updateTable;
};

// The three providers of the server object: "songDataSetProvider",
// "singerDataSetProvider" and "tempDataSetProvider" (the room requests).
std::vector<ProviderDefinition> StandardProviders();

// Bytes of row data one packet may carry: a statement without end (or simply
// too large a result) is stopped with a clear error instead of exhausting the
// server's memory. Far above the largest catalogue result (about 30 MB for
// every column of 200,000 songs).
inline constexpr std::size_t kMaxPacketRowBytes = 128u << 20;

struct RecordsAnswer {
  std::optional<std::vector<std::uint8_t>> packet;  // nullopt: the null variant
  std::int32_t recsOut = 0;
  std::string statement;  // what ran or went on running, for the request log
};

struct UpdatesAnswer {
  std::optional<std::vector<std::uint8_t>> errors;  // nullopt: every row went in
  std::int32_t errorCount = 0;
  // The rows stored, as "column=value" texts, for the request log.
  std::vector<std::string> stored;
  // The ClientName text of each stored row, in the same order ("" when the
  // row had none), for whoever watches the room requests.
  std::vector<std::string> clientNames;
};

// The CODE column of a rejected row: the database's error code when the
// database refused the row (positive), else one of these.
inline constexpr std::int32_t kRowNotAttempted = -1;  // the error limit was reached first
inline constexpr std::int32_t kRowMalformed = -2;     // a row the table cannot take

// Columns of the update table that the server fills itself: when the request
// came and from where. Values a delta gives for them are ignored.
inline constexpr const char* kCalledAtColumn = "CalledAt";
inline constexpr const char* kPeerColumn = "Peer";
// The room request's own column: the room name the terminal sends.
inline constexpr const char* kClientNameColumn = "ClientName";

class Provider {
 public:
  // `database` yields the session's backend, connecting on first use.
  Provider(ProviderDefinition definition, std::function<SqlBackend&()> database);
  ~Provider();

  const std::string& Name() const { return definition_.name; }

  // Count: -1 (any negative) every row, n > 0 at most n rows keeping the
  // statement open for further packets, 0 none. Options: bit 1 starts the
  // statement (commandText, or the default one when empty) and describes the
  // fields; bit 2 drops the open statement and answers null. A request
  // without bit 1 and with an empty text goes on with the open statement.
  RecordsAnswer GetRecords(std::int32_t count, std::int32_t options, std::string_view commandUtf8);

  // Inserts the delta's rows into the provider's table. `peer` and `now`
  // ("YYYY-MM-DD HH:MM:SS") fill the columns the server owns. maxErrors -1
  // tries every row; n >= 0 stops once more than n rows failed (the rows not
  // tried come back as rejected too, so none is lost).
  UpdatesAnswer ApplyUpdates(std::span<const std::uint8_t> delta, std::int32_t maxErrors,
                             const std::string& peer, const std::string& now);

  // Drops the open statement, if any.
  void Reset();

 private:
  // How text and bytes fields are sized: from the rows of a result sent
  // whole, to hold any later packet's values, or as declared (empty result).
  enum class Sizing { kFromRows, kPaged, kDeclared };
  std::vector<engine::FieldDef> Describe(const std::vector<ColumnInfo>& columns,
                                         Sizing sizing) const;
  std::vector<std::uint8_t> WriteRows(bool withDescriptions, std::int32_t count,
                                      std::int32_t& recsOut);

  ProviderDefinition definition_;
  std::function<SqlBackend&()> database_;
  std::unique_ptr<SqlCursor> cursor_;
  std::string statement_;                 // the open statement's text
  std::vector<engine::FieldDef> fields_;  // its fields, kept after it ended
  bool described_ = false;                // fields_ belong to a statement of this provider
  bool firstPending_ = false;             // the cursor's first row was read ahead
  bool firstRow_ = false;                 // ... and it exists
};

// Current local time as "YYYY-MM-DD HH:MM:SS".
std::string LocalTimestamp();

}  // namespace quor::server
