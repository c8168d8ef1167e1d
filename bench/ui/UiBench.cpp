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
#include "bench/BenchStats.h"
#include "data/Data.h"
#include "platform/Codepage.h"
#include "platform/EngineRegistry.h"
#include "platform/ProgramFolder.h"
#include "player/FMPAPI.h"
#include "server/RequestLog.h"
#include "server/Server.h"
#include "ui/MainWindow.h"
#include "ui/QtMessageLoop.h"
#include "ui/Search.h"

namespace {

using namespace quor;
using Clock = std::chrono::steady_clock;

constexpr int kPairs = 15;
constexpr const char* kSelect = "select SINGID,SINGNAME,SINGER from vodinfo where ";

using quor::bench::Median;

double Seconds(const std::function<void()>& work) {
  const auto start = Clock::now();
  work();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Bare sqlite3 on its own connection: prepare and step a statement (UTF-8),
// reading its three columns.
class Bare {
 public:
  explicit Bare(const std::string& db) {
    sqlite3_open_v2(db.c_str(), &handle_, SQLITE_OPEN_READONLY, nullptr);
    // The server reads its catalogue through a memory map; so does the baseline.
    sqlite3_exec(handle_, "pragma mmap_size = 268435456", nullptr, nullptr, nullptr);
  }
  ~Bare() { sqlite3_close(handle_); }
  Bare(const Bare&) = delete;
  Bare& operator=(const Bare&) = delete;
  void Run(const std::string& statement) {
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(handle_, statement.c_str(), -1, &s, nullptr);
    std::size_t bytes = 0;
    while (sqlite3_step(s) == SQLITE_ROW)
      for (int c = 0; c < 3; ++c) bytes += static_cast<std::size_t>(sqlite3_column_bytes(s, c));
    sqlite3_finalize(s);
    if (bytes == 0) std::printf("(no rows: %s)\n", statement.c_str());
  }

 private:
  sqlite3* handle_ = nullptr;
};

// The work against its baseline, measured in alternating pairs so that a
// change in the machine's load hits both alike: the median of the pairs'
// ratios and the median time of the work (after one warm-up pair).
struct Measure {
  double ratio;
  double seconds;
};
Measure Pairs(const std::function<void()>& prepare, const std::function<void()>& work,
              const std::function<void()>& baseline) {
  std::vector<double> ratios, times;
  for (int i = 0; i <= kPairs; ++i) {
    prepare();
    const double w = Seconds(work);
    const double b = Seconds(baseline);
    if (i == 0) continue;
    ratios.push_back(w / b);
    times.push_back(w);
  }
  return {Median(ratios), Median(times)};
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
    player::Decoder decoder;  // never opened: the screens alone are measured
    w.Attach(dm, decoder, platform::ProgramFolder());
    w.show();

    Bare bare(db);
    // Type touch and next page: the type whose result is nearest 25,000
    // songs, touched through its own button.
    const std::string type = One(db,
                                 "select TYPE from vodinfo group by TYPE "
                                 "order by abs(count(*) - 25000) limit 1");
    using Handler = void (ui::MainWindow::*)();
    constexpr Handler kTypeButtons[] = {
        &ui::MainWindow::songtypeBitBtn1Click, &ui::MainWindow::songtypeBitBtn2Click,
        &ui::MainWindow::songtypeBitBtn3Click, &ui::MainWindow::songtypeBitBtn4Click,
        &ui::MainWindow::songtypeBitBtn5Click, &ui::MainWindow::songtypeBitBtn6Click,
        &ui::MainWindow::songtypeBitBtn7Click, &ui::MainWindow::songtypeBitBtn8Click};
    std::size_t button = 0;
    while (button < 7 && type != ui::kTypeWords[button]) ++button;
    const auto touchType = [&] { (w.*kTypeButtons[button])(); };
    const std::string typeStatement = kSelect + ("TYPE='" + type + "'");
    const std::string rows =
        One(db, "select count(*)" + typeStatement.substr(typeStatement.find(" from")));
    w.selectBitBtn2Click();
    const Measure touch = Pairs([] {}, touchType, [&] { bare.Run(typeStatement); });
    const Measure next = Pairs(
        touchType, [&] { w.songlistnextBitBtn2Click(); }, touchType);
    std::printf("type touch    %s, %s rows: %.2f x bare sqlite3 (target <= 2.0)\n", type.c_str(),
                rows.c_str(), touch.ratio);
    std::printf("next page     %.3f%% of the type touch (never reaches the server)\n",
                100.0 * next.ratio);

    // A five-digit number: the keypad searches on the fifth digit.
    const std::string number =
        One(db,
            "select SINGID from vodinfo where SINGID between 10000 and 99999 "
            "order by SINGID limit 1 offset 50000");
    w.selectBitBtn4Click();
    const QString digits = QString::fromStdString(number);
    const Measure search = Pairs(
        [&] {
          w.BMselBitBtnClick();
          w.BMnumEdit->setText(digits.left(4));
        },
        [&] { w.BMnumEdit->setText(digits); }, [&] { bare.Run(kSelect + ("SINGID=" + number)); });
    std::printf(
        "number search %.2f ms from the fifth digit to the row; the bare query is %.1f%% of it "
        "(%.1f x bare sqlite3: the loopback round trip)\n",
        search.seconds * 1e3, 100.0 / search.ratio, search.ratio);

    // Letter search: the letter most titles start with.
    const std::string letter = One(
        db,
        "select substr(FIRSTWORD,1,1) k from vodinfo group by k order by count(*) desc limit 1");
    const std::string letterStatement = kSelect + ("FIRSTWORD like \"" + letter + "%\"");
    const std::string letterRows =
        One(db, "select count(*)" + letterStatement.substr(letterStatement.find(" from")));
    const Measure letters = Pairs(
        [&] {
          w.PYselBitBtnClick();
          w.PYselEdit->setText(QString::fromStdString(letter));
        },
        [&] { w.delnumImageClick(); }, [&] { bare.Run(letterStatement); });
    std::printf("letter search '%s', %s rows: %.2f x bare sqlite3 (target <= 2.0)\n",
                letter.c_str(), letterRows.c_str(), letters.ratio);
    w.hide();
  }
  srv.Stop();
  serving.join();
  return 0;
}
