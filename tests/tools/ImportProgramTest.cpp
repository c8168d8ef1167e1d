// quorvod-import as a venue runs it: the command line, its summaries, its
// exit status, and what a killed run leaves behind.

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <thread>

#include "ImportTestKit.h"

namespace quor::tools::catalogue::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

struct Outcome {
  int status = -1;
  std::string out, err;
};

std::string Program() {
  return std::string(std::getenv("QUOR_BIN_DIR")) + "/quorvod-import";
}

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (const char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

bool CatchesSigint(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("SigCgt:", 0) == 0) return (std::stoull(line.substr(7), nullptr, 16) & 2u) != 0;
  return false;
}

Outcome RunProgram(const std::string& args, const std::string& folder) {
  const std::string out = folder + "/out.txt", err = folder + "/err.txt";
  const int rc =
      std::system((Program() + " " + args + " >" + Quote(out) + " 2>" + Quote(err)).c_str());
  return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, ReadFileText(out), ReadFileText(err)};
}

class ImportProgram : public ::testing::Test {
 protected:
  std::string Base() const {
    return Quote(tree_.Songs()) + " " + Quote(tree_.Root() + "/singers.csv") + " --share " +
           Quote("\\\\ktv\\quorvod") + " --photos " + Quote(tree_.Root() + "/photos") + " --db " +
           Quote(Db());
  }
  std::string Db() const { return tree_.Root() + "/catalogue.db"; }
  // quorvod-import on a folder in the background, its output thrown away.
  pid_t Start(const std::string& songs) const {
    const pid_t pid = fork();
    if (pid == 0) {
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
      execl(Program().c_str(), Program().c_str(), songs.c_str(), "--db", Db().c_str(), "--quiet",
            static_cast<char*>(nullptr));
      _exit(127);
    }
    return pid;
  }
  TestTree tree_;
};

TEST_F(ImportProgram, ACommandLineThatCannotWorkSaysWhy) {
  const std::string& f = tree_.Root();
  Outcome o = RunProgram("", f);
  EXPECT_EQ(o.status, 2);
  EXPECT_THAT(o.err, HasSubstr("usage: quorvod-import"));
  EXPECT_EQ(RunProgram("--frobnicate x", f).status, 2);
  o = RunProgram(Quote(tree_.Songs()) + " --db a.db --mariadb mariadb://u@h/d", f);
  EXPECT_EQ(o.status, 2);
  EXPECT_THAT(o.err, HasSubstr("exclude each other"));
  o = RunProgram(Quote(tree_.Songs()) + " --profile '{singer}-{titel}'", f);
  EXPECT_EQ(o.status, 2);
  EXPECT_THAT(o.err, HasSubstr("{titel}"));
  o = RunProgram(Quote(tree_.Songs()) + " --share //server/share", f);
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(RunProgram(Quote(tree_.Songs()) + " --jobs 0", f).status, 2);
  EXPECT_EQ(RunProgram(Quote(tree_.Songs()) + " --first-number 123456", f).status, 2);

  // A source that is not there, a list that is neither kind: nothing is made.
  o = RunProgram(Quote(f + "/nowhere") + " --db " + Quote(Db()), f);
  EXPECT_EQ(o.status, 1);
  EXPECT_THAT(o.err, HasSubstr("nowhere: No such file or directory"));
  std::ofstream(f + "/odd.csv") << "colour,size\nred,2\n";
  o = RunProgram(Quote(tree_.Songs()) + " " + Quote(f + "/odd.csv") + " --db " + Quote(Db()), f);
  EXPECT_EQ(o.status, 1);
  EXPECT_THAT(o.err, HasSubstr("its columns: colour, size"));
  EXPECT_FALSE(fs::exists(Db()));
  o = RunProgram(Quote(tree_.Songs()) + " --mariadb " + Quote("mariadb://nobody:x@127.0.0.1:1/ktv"),
                 f);
  EXPECT_EQ(o.status, 1);
  EXPECT_THAT(o.err, HasSubstr("cannot connect to MariaDB at 127.0.0.1:1"));
}

TEST_F(ImportProgram, SummariesForPeopleAndForScripts) {
  Outcome o = RunProgram(Base() + " --dry-run", tree_.Root());
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_THAT(o.out, HasSubstr("dry run: nothing was written"));
  EXPECT_THAT(o.out, HasSubstr("would add:"));
  EXPECT_THAT(o.out, HasSubstr("parsed rows (sample):"));
  EXPECT_THAT(o.out,
              HasSubstr("singers list " + tree_.Root() + "/singers.csv: 6 rows (GBK, comma)"));
  EXPECT_THAT(o.out, HasSubstr("names that do not fit the profile (1)"));
  EXPECT_FALSE(fs::exists(Db()));

  o = RunProgram(Base() + " --json", tree_.Root());
  ASSERT_EQ(o.status, 0) << o.err;
  const nlohmann::json j = nlohmann::json::parse(o.out);
  EXPECT_EQ(j.at("songs").at("added"), TreeFiles().size());
  EXPECT_EQ(j.at("songs").at("firstNumber"), 10001);
  EXPECT_EQ(j.at("dryRun"), false);
  EXPECT_EQ(j.at("unparsed").at(0), UncOf("杂项/无名歌曲.mpg"));
  EXPECT_EQ(j.at("gbkNames"), 2);
  EXPECT_EQ(j.at("sources").at(0).at("kind"), "singers list");
  EXPECT_EQ(j.at("sources").at(0).at("encoding"), "GBK");
  EXPECT_EQ(j.at("sources").at(1).at("entries"), TreeFiles().size());
  EXPECT_EQ(j.at("missingGuard").at("tripped"), false);
  EXPECT_FALSE(j.at("indexes").empty());
  // Not a terminal: no progress line in the error output.
  EXPECT_EQ(o.err, "");

  o = RunProgram(Base(), tree_.Root());
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_THAT(o.out, HasSubstr("0 added, 0 updated, 0 moved, 0 back again, 11 unchanged"));
}

// A run killed at any moment leaves the catalogue as it was before that run
// or as that run made it, never in between, and never broken.
TEST_F(ImportProgram, AKilledRunLeavesTheOldOrTheNewCatalogue) {
  const std::string songs = tree_.Root() + "/big";
  for (int d = 0; d < 40; ++d) {
    fs::create_directories(songs + "/国语/" + std::to_string(d));
    for (int i = 0; i < 250; ++i)
      std::ofstream(songs + "/国语/" + std::to_string(d) + "/歌手" + std::to_string(d) + "-歌曲" +
                    std::to_string(i) + ".mpg");
  }
  const std::string base = Quote(songs) + " --db " + Quote(Db()) + " --quiet";
  ASSERT_EQ(RunProgram(base + " --extensions mp4", tree_.Root()).status, 0);  // the tables, no song
  std::mt19937 random(std::random_device{}());
  for (int attempt = 0; attempt < 4; ++attempt) {
    const pid_t pid = Start(songs);
    std::this_thread::sleep_for(std::chrono::milliseconds(100 + random() % 900));
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    std::string why;
    auto catalogue = TestCatalogue::Create(Flavour::Sqlite, "", tree_.Root(), why);
    const auto count = catalogue->Rows("select count(*) from vodinfo");
    ASSERT_EQ(count.size(), 1u);
    EXPECT_THAT(count[0], ::testing::AnyOf("0", "10000")) << "attempt " << attempt;
    EXPECT_EQ(catalogue->Rows("pragma integrity_check"), std::vector<std::string>{"ok"});
    if (count[0] == "10000") {
      // Start over from the empty catalogue for the next attempt.
      fs::remove(Db());
      ASSERT_EQ(RunProgram(base + " --extensions mp4", tree_.Root()).status, 0);
    }
  }
  // Ctrl+C: the run stops and says so, or it had finished already.
  const pid_t pid = Start(songs);
  // Once the program has its handler (SigCgt in /proc lists SIGINT), a
  // Ctrl+C asks it to stop rather than ending it.
  for (int i = 0; i < 500 && !CatchesSigint(pid); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  kill(pid, SIGINT);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  std::string why;
  auto catalogue = TestCatalogue::Create(Flavour::Sqlite, "", tree_.Root(), why);
  const std::string count = catalogue->Rows("select count(*) from vodinfo").at(0);
  if (WEXITSTATUS(status) == 130) {
    EXPECT_EQ(count, "0");
  } else {
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(count, "10000");
  }
}

}  // namespace
}  // namespace quor::tools::catalogue::test
