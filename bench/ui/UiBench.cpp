// The screens on the 200,000-song demo catalogue, each from the guest's touch
// to the first page filled in the real window (offscreen), through the whole
// stack (the window, the dataset, the connection, loopback TCP, a running
// server on its own threads, SQLite, the engine), against bare sqlite3
// stepping the same statement on the same file in the same run:
//
//   type touch      songtypeBitBtn1 (流行, about a quarter of... an eighth of
//                   the catalogue) vs bare `... where TYPE='流行'`; target <= 2.0
//   next page       on that result: never reaches the server; against the
//                   type touch (expect well under 1%)
//   number search   the fifth digit of a song number to its row vs bare
//                   `... where SINGID=n`: reported with the bare query's share
//   letter search   the one letter with the most songs, from the search key
//                   to the first page vs bare `... like "X%"`; target <= 2.0
//
// Each figure is the median of several runs, printed as a ratio; no bare
// times. QUOR_BENCH_CATALOGUE=file uses an existing catalogue.

#include <sqlite3.h>

#include <QApplication>
#include <QLineEdit>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchCatalogue.h"
#include "data/Data.h"
#include "platform/Codepage.h"
#include "platform/EngineRegistry.h"
#include "platform/ProgramFolder.h"
#include "server/RequestLog.h"
#include "server/Server.h"
#include "ui/MainWindow.h"
#include "ui/QtMessageLoop.h"

namespace {

using namespace quor;
using Clock = std::chrono::steady_clock;

constexpr int kRuns = 7;
constexpr const char* kSelect = "select SINGID,SINGNAME,SINGER from vodinfo where ";

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Seconds one call takes, median of kRuns (after one warm-up call).
double Time(const std::function<void()>& prepare, const std::function<void()>& work) {
  std::vector<double> runs;
  for (int i = 0; i <= kRuns; ++i) {
    prepare();
    const auto start = Clock::now();
    work();
    const std::chrono::duration<double> took = Clock::now() - start;
    if (i > 0) runs.push_back(took.count());
  }
  return Median(runs);
}

// Bare sqlite3: prepare and step the statement (UTF-8), reading its columns.
double Bare(const std::string& db, const std::string& statement) {
  sqlite3* handle = nullptr;
  sqlite3_open_v2(db.c_str(), &handle, SQLITE_OPEN_READONLY, nullptr);
  const double t = Time([] {},
                        [&] {
                          sqlite3_stmt* s = nullptr;
                          sqlite3_prepare_v2(handle, statement.c_str(), -1, &s, nullptr);
                          std::size_t bytes = 0;
                          while (sqlite3_step(s) == SQLITE_ROW)
                            for (int c = 0; c < 3; ++c)
                              bytes += static_cast<std::size_t>(sqlite3_column_bytes(s, c));
                          sqlite3_finalize(s);
                          if (bytes == 0) std::printf("(no rows)\n");
                        });
  sqlite3_close(handle);
  return t;
}

std::string One(const std::string& db, const std::string& sql) {
  sqlite3* handle = nullptr;
  sqlite3_open_v2(db.c_str(), &handle, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(handle, sql.c_str(), -1, &s, nullptr);
  std::string out;
  if (sqlite3_step(s) == SQLITE_ROW) out = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
  sqlite3_finalize(s);
  sqlite3_close(handle);
  return out;
}

struct QuietShell : ui::ShellServices {
  void SuppressScreenSaver() override {}
  void RegisterEngine() override {}
  void SetDisplayMode(int, int) override {}
  void ReadConfiguration(ui::Configuration& c) override { c.serverIP = "127.0.0.1"; }
  void RegisterRemoteKeys(const ui::Configuration&) override {}
  void UnregisterRemoteKeys() override {}
  void DecoderOpen() override {}
  void DecoderClose() override {}
  void ConnectShare(const platform::ShareConnection&) override {}
};

struct PrintingNotifier : ui::Notifier {
  void ShowMessage(const QString& text) override {
    std::printf("message: %s\n", text.toStdString().c_str());
  }
};

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  server::TuneAllocator();
  platform::RecordEnginePath(platform::ProgramFolder() + "../bin/" + platform::kEngineLibraryName);
  const bench::BenchCatalogue catalogue("ui");
  const std::string& db = catalogue.Path();

  auto log = server::RequestLog::Open("/dev/null");
  server::ServerOptions options;
  options.sqlitePath = db;
  options.bindAddress = "127.0.0.1";
  options.port = 0;
  server::Server srv(options, *log);
  srv.Start();
  std::thread serving([&] { srv.Serve(); });
  {
    PrintingNotifier notifier;
    QuietShell shell;
    ui::QtMessageLoop loop(notifier);
    data::DataModule dm(loop);
    dm.SocketConnection->SetPort(static_cast<std::int32_t>(srv.Port()));
    ui::MainWindow w(shell, notifier);
    w.Attach(dm, platform::ProgramFolder());
    w.show();

    // Type touch and next page.
    const std::string typeWhere = "TYPE='流行'";
    const std::string rows = One(db, "select count(*) from vodinfo where " + typeWhere);
    w.selectBitBtn2Click();
    const double bareType = Bare(db, kSelect + typeWhere);
    const double touch = Time([] {}, [&] { w.songtypeBitBtn1Click(); });
    const double next =
        Time([&] { w.songtypeBitBtn1Click(); }, [&] { w.songlistnextBitBtn2Click(); });
    std::printf("type touch    %s rows: %.2f x bare sqlite3 (target <= 2.0)\n", rows.c_str(),
                touch / bareType);
    std::printf("next page     %.3f%% of the type touch (never reaches the server)\n",
                100.0 * next / touch);

    // Number search: the fifth digit fires it.
    const std::string number =
        One(db, "select SINGID from vodinfo order by SINGID limit 1 offset 100000");
    w.selectBitBtn4Click();
    const double bareNumber = Bare(db, kSelect + std::string("SINGID=") + number);
    const QString digits = QString::fromStdString(number);
    const double search = Time(
        [&] {
          w.BMselBitBtnClick();
          w.BMnumEdit->setText(digits.left(4));
        },
        [&] { w.BMnumEdit->setText(digits); });
    std::printf(
        "number search %.2f ms from the fifth digit to the row; the bare query is %.1f%% of it "
        "(%.2f x bare sqlite3)\n",
        search * 1e3, 100.0 * bareNumber / search, search / bareNumber);

    // Letter search: the letter most titles start with.
    const std::string letter = One(
        db,
        "select substr(FIRSTWORD,1,1) k from vodinfo group by k order by count(*) desc limit 1");
    const std::string letterWhere = "FIRSTWORD like \"" + letter + "%\"";
    const std::string letterRows = One(db, "select count(*) from vodinfo where " + letterWhere);
    const double bareLetter = Bare(db, kSelect + letterWhere);
    const double letters = Time(
        [&] {
          w.PYselBitBtnClick();
          w.PYselEdit->setText(QString::fromStdString(letter));
        },
        [&] { w.delnumImageClick(); });
    std::printf("letter search '%s', %s rows: %.2f x bare sqlite3 (target <= 2.0)\n",
                letter.c_str(), letterRows.c_str(), letters / bareLetter);
    w.hide();
  }
  srv.Stop();
  serving.join();
  return 0;
}
