#pragma once
// What the import tests share: a song tree as venues have them (names in
// UTF-8 and in GBK, a name that does not parse, the same song twice, folder
// hints, a singers list in GBK with photos), real and broken videos made with
// ffmpeg, and the catalogue of either kind read back with plain SQL.

#include <memory>
#include <string>
#include <vector>

#include "Import.h"
#include "server/SqlBackend.h"

namespace quor::tools::catalogue::test {

enum class Flavour { Sqlite, MariaDb };

// The tree's song files, paths below songs/ in UTF-8 (the tree writes some of
// them in GBK bytes).
struct TreeFile {
  std::string rel;
  bool gbk = false;
};
const std::vector<TreeFile>& TreeFiles();

class TestTree {
 public:
  TestTree();
  ~TestTree();
  TestTree(const TestTree&) = delete;
  TestTree& operator=(const TestTree&) = delete;

  const std::string& Root() const { return root_; }
  std::string Songs() const { return root_ + "/songs"; }
  // The bytes of a path below songs/ as the tree writes it on disk.
  std::string OnDisk(const std::string& rel) const;
  void Write(const std::string& rel, const std::string& bytes) const;
  void Move(const std::string& from, const std::string& to) const;
  void Remove(const std::string& rel) const;
  // A real two-second video with stereo sound, and one cut short so that it
  // cannot be opened, both made by ffmpeg, under songs/rel.
  void AddVideos(const std::string& goodRel, const std::string& brokenRel) const;
  // Sources (songs/ and the singers list), share \\ktv\quorvod on songs/,
  // photos from photos/, copies into Photo/.
  ImportOptions Options() const;

 private:
  std::string root_;
};

// PATH1 of a file of the tree: \\ktv\quorvod\<rel with backslashes>.
std::string UncOf(const std::string& rel);

// A catalogue database of one kind, fresh for a test, read with SQL.
class TestCatalogue {
 public:
  virtual ~TestCatalogue() = default;
  // Null with whyNot set when the kind cannot be had here.
  static std::unique_ptr<TestCatalogue> Create(Flavour flavour, const std::string& name,
                                               const std::string& folder, std::string& whyNot);
  virtual Flavour Kind() const = 0;
  // Sets --db or --mariadb in the options.
  virtual void Use(ImportOptions& options) const = 0;
  // Every row of a query, columns joined by '|' (NULL as "NULL").
  virtual std::vector<std::string> Rows(const std::string& sql) const = 0;
  // What quorvod-server is started with: {"--db", file} or {"--mariadb", uri}.
  virtual std::vector<std::string> ServerArguments() const = 0;
  // Whether the catalogue tables exist at all.
  bool HasTables() const;
  // The whole content of the catalogue tables, to compare before and after.
  std::vector<std::string> Dump() const;
};

std::string ReadFileText(const std::string& path);

}  // namespace quor::tools::catalogue::test
