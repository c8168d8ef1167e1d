#pragma once
// Song lists and singers lists as venues keep them: a spreadsheet saved as
// CSV or TSV (comma, tab or semicolon, quotes as spreadsheets write them), in
// UTF-8, GBK or UTF-16 (with its byte-order mark), first line the column
// names. Which list it is follows from the names: a title column makes a
// song list; a name and a sex column without a title make a singers list.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Text.h"

namespace quor::tools::catalogue {

// Lists larger than this are refused rather than read.
inline constexpr std::uint64_t kMaxListBytes = 256ull << 20;

struct ListTable {
  Encoding encoding = Encoding::Utf8;
  char separator = ',';
  std::vector<std::string> header;             // UTF-8, trimmed
  std::vector<std::vector<std::string>> rows;  // UTF-8 cells, trimmed; blank rows left out
  std::vector<std::size_t> lines;              // the line each row starts on (1-based)
};

// Decodes and splits list bytes. std::runtime_error with a clear text when
// the bytes are neither UTF-8 nor GBK, when a UTF-16 text is cut, or when
// there is no header line.
ListTable ParseList(std::string_view bytes);
// Reads a list file whole (at most kMaxListBytes) and parses it; the file
// name leads every error text.
ListTable ReadListFile(const std::string& path);

enum class ListKind { Songs, Singers };

// Column positions of a list, -1 where the list has none.
struct ListColumns {
  ListKind kind = ListKind::Songs;
  int number = -1, title = -1, singer = -1, type = -1, language = -1, file = -1;
  int name = -1, sex = -1, photo = -1;
  std::vector<std::string> ignored;  // column names that mean nothing here
};

// Maps the header's names (Chinese or English, any case and width).
// std::runtime_error naming the columns found when the list is neither kind.
ListColumns MapColumns(const std::vector<std::string>& header, Normaliser& normaliser);

}  // namespace quor::tools::catalogue
