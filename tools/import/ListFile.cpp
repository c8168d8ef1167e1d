#include "ListFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <unordered_map>

#include "platform/Codepage.h"

namespace quor::tools::catalogue {
namespace {

std::string Utf16ToUtf8(std::string_view bytes, bool littleEndian) {
  if (bytes.size() % 2 != 0) throw std::runtime_error("the UTF-16 text is cut (odd length)");
  std::u16string text;
  text.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    const auto a = static_cast<unsigned char>(bytes[i]);
    const auto b = static_cast<unsigned char>(bytes[i + 1]);
    text += static_cast<char16_t>(littleEndian ? a | (b << 8) : (a << 8) | b);
  }
  return platform::Utf16ToUtf8(text);
}

std::string Decode(std::string_view bytes, Encoding& encoding) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    bytes.remove_prefix(3);
    if (!IsUtf8(bytes)) throw std::runtime_error("the text has a UTF-8 mark but is not UTF-8");
    encoding = Encoding::Utf8;
    return std::string(bytes);
  }
  if (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF") {
    encoding = Encoding::Utf16;
    return Utf16ToUtf8(bytes.substr(2), bytes[0] == '\xFF');
  }
  std::string utf8;
  if (!DecodeName(bytes, utf8, &encoding)) {
    // Tell the line, so the venue can find the bad cell.
    const std::size_t bad = utf8.find("\xEF\xBF\xBD");
    std::size_t line = 1;
    for (std::size_t i = 0; i < bad && i < utf8.size(); ++i)
      if (utf8[i] == '\n') ++line;
    throw std::runtime_error("the text is neither UTF-8 nor GBK (line " + std::to_string(line) +
                             "); save the list as UTF-8 or GBK");
  }
  return utf8;
}

// The separator that splits the header line into the most cells.
char PickSeparator(std::string_view text) {
  std::size_t counts[3] = {0, 0, 0};
  const char seps[3] = {'\t', ',', ';'};
  bool quoted = false;
  for (const char c : text) {
    if (c == '"') quoted = !quoted;
    if (quoted) continue;
    if (c == '\n') break;
    for (int i = 0; i < 3; ++i)
      if (c == seps[i]) ++counts[i];
  }
  int best = 1;  // a one-column list: comma
  for (int i = 0; i < 3; ++i)
    if (counts[i] > counts[best]) best = i;
  return seps[best];
}

}  // namespace

ListTable ParseList(std::string_view bytes) {
  ListTable table;
  const std::string text = Decode(bytes, table.encoding);
  table.separator = PickSeparator(text);

  std::vector<std::string> row;
  std::string cell;
  bool quoted = false;      // inside a quoted cell
  bool wasQuoted = false;   // the cell was quoted (keep its blanks)
  bool rowHasText = false;  // not a blank line
  std::size_t line = 1;
  std::size_t rowLine = 1;
  bool headerTaken = false;
  auto endCell = [&] {
    row.emplace_back(wasQuoted ? cell : std::string(Trim(cell)));
    if (!row.back().empty() || wasQuoted) rowHasText = true;
    cell.clear();
    wasQuoted = false;
  };
  auto endRow = [&] {
    endCell();
    if (rowHasText) {
      if (!headerTaken) {
        table.header = std::move(row);
        headerTaken = true;
      } else {
        table.rows.push_back(std::move(row));
        table.lines.push_back(rowLine);
      }
    }
    row.clear();
    rowHasText = false;
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"') {
        if (i + 1 < text.size() && text[i + 1] == '"') {
          cell += '"';
          ++i;
        } else {
          quoted = false;
        }
      } else {
        if (c == '\n') ++line;
        cell += c;
      }
      continue;
    }
    if (c == '"' && Trim(cell).empty() && !wasQuoted) {
      cell.clear();
      quoted = true;
      wasQuoted = true;
    } else if (c == table.separator) {
      endCell();
    } else if (c == '\n') {
      endRow();
      rowLine = ++line;
    } else if (c != '\r') {
      cell += c;
    }
  }
  if (!cell.empty() || !row.empty() || wasQuoted) endRow();
  if (!headerTaken) throw std::runtime_error("the list has no header line");
  return table;
}

ListTable ReadListFile(const std::string& path) {
  try {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error(std::strerror(errno));
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      close(fd);
      throw std::runtime_error("not a regular file");
    }
    if (static_cast<std::uint64_t>(st.st_size) > kMaxListBytes) {
      close(fd);
      throw std::runtime_error("larger than " + std::to_string(kMaxListBytes >> 20) + " MB");
    }
    std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t got = 0;
    while (got < bytes.size()) {
      const ssize_t n = read(fd, bytes.data() + got, bytes.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    close(fd);
    bytes.resize(got);
    return ParseList(bytes);
  } catch (const std::exception& e) {
    throw std::runtime_error(path + ": " + e.what());
  }
}

ListColumns MapColumns(const std::vector<std::string>& header, Normaliser& normaliser) {
  enum Col { kNumber, kTitle, kSinger, kType, kLanguage, kFile, kSex, kPhoto, kNone };
  static const std::unordered_map<std::string_view, Col> names = {
      {"number", kNumber},     {"no", kNumber},
      {"no.", kNumber},        {"num", kNumber},
      {"id", kNumber},         {"songid", kNumber},
      {"singid", kNumber},     {"songnumber", kNumber},
      {"编号", kNumber},       {"歌号", kNumber},
      {"歌曲编号", kNumber},   {"点歌号", kNumber},
      {"点歌编号", kNumber},   {"曲号", kNumber},
      {"title", kTitle},       {"song", kTitle},
      {"songname", kTitle},    {"songtitle", kTitle},
      {"歌名", kTitle},        {"歌曲名", kTitle},
      {"歌曲", kTitle},        {"曲名", kTitle},
      {"歌曲名称", kTitle},    {"singer", kSinger},
      {"artist", kSinger},     {"歌手", kSinger},
      {"歌星", kSinger},       {"演唱者", kSinger},
      {"歌手名", kSinger},     {"演唱", kSinger},
      {"艺人", kSinger},       {"name", kSinger},
      {"姓名", kSinger},       {"名字", kSinger},
      {"type", kType},         {"category", kType},
      {"genre", kType},        {"类别", kType},
      {"类型", kType},         {"分类", kType},
      {"曲种", kType},         {"歌曲类别", kType},
      {"歌曲类型", kType},     {"language", kLanguage},
      {"lang", kLanguage},     {"songlanguage", kLanguage},
      {"语种", kLanguage},     {"语言", kLanguage},
      {"歌曲语种", kLanguage}, {"file", kFile},
      {"path", kFile},         {"path1", kFile},
      {"filename", kFile},     {"filepath", kFile},
      {"文件", kFile},         {"文件名", kFile},
      {"路径", kFile},         {"文件路径", kFile},
      {"视频文件", kFile},     {"sex", kSex},
      {"gender", kSex},        {"性别", kSex},
      {"photo", kPhoto},       {"picture", kPhoto},
      {"image", kPhoto},       {"pic", kPhoto},
      {"照片", kPhoto},        {"图片", kPhoto},
      {"头像", kPhoto},        {"相片", kPhoto},
  };
  std::vector<Col> cols;
  int found[kNone] = {-1, -1, -1, -1, -1, -1, -1, -1};
  ListColumns out;
  for (std::size_t i = 0; i < header.size(); ++i) {
    const std::string key = normaliser.Key(header[i]);
    const auto it = names.find(key);
    const Col col = it == names.end() ? kNone : it->second;
    cols.push_back(col);
    if (col == kNone || found[col] >= 0) {
      if (!header[i].empty()) out.ignored.push_back(header[i]);
      continue;
    }
    found[col] = static_cast<int>(i);
  }
  if (found[kTitle] >= 0) {
    out.kind = ListKind::Songs;
    out.number = found[kNumber];
    out.title = found[kTitle];
    out.singer = found[kSinger];
    out.type = found[kType];
    out.language = found[kLanguage];
    out.file = found[kFile];
    for (const int unused : {found[kSex], found[kPhoto]})
      if (unused >= 0) out.ignored.push_back(header[static_cast<std::size_t>(unused)]);
    return out;
  }
  // A singers list: the singer's category may stand under 类别 or 分类 too,
  // and the photo under a path column.
  const int sex = found[kSex] >= 0 ? found[kSex] : found[kType];
  const int photo = found[kPhoto] >= 0 ? found[kPhoto] : found[kFile];
  if (found[kSinger] >= 0 && sex >= 0) {
    out.kind = ListKind::Singers;
    out.name = found[kSinger];
    out.sex = sex;
    out.photo = photo;
    return out;
  }
  std::string seen;
  for (const std::string& h : header) seen += (seen.empty() ? "" : ", ") + h;
  throw std::runtime_error(
      "the list has no title column (a song list) and no name and sex columns (a singers "
      "list); its columns: " +
      seen);
}

}  // namespace quor::tools::catalogue
