#pragma once
// The screens under test as a guest meets them: the real window, attached to
// a real data module that talks to real server sessions on a loopback port
// over a catalogue file the test writes, with a program folder of the test's
// own (photos, the fallback picture). What reaches the server is read from
// the recording peer; what the window shows from its controls. The player
// sends its requests through a real dlopen of the sim driver, whose request
// log the tests read.

#include <QString>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "DataTestSupport.h"
#include "UiTestSupport.h"
#include "drivers/DriverTestSupport.h"
#include "player/FMPAPI.h"
#include "ui/MainWindow.h"
#include "ui/QtMessageLoop.h"

namespace quor::ui::test {

// Catalogue rows, texts in UTF-8 as the server's database holds them.
struct CatalogueSinger {
  std::string sex;   // 男, 女 or 组合
  std::string name;  // SINGNAME
  std::string path;  // Path, relative with backslashes: Photo\x.jpg
};
struct CatalogueSong {
  int id = 0;
  std::string title;
  std::string singer;
  std::string type;
  std::string language;
  std::string firstWord;
  std::string path;
};
void WriteCatalogue(const std::string& file, const std::vector<CatalogueSinger>& singers,
                    const std::vector<CatalogueSong>& songs);

// A solid-coloured photo of size 120x160 written under folder/relative
// (backslashes turned to '/'), as a JPEG or a bitmap by its extension.
void WritePhoto(const std::string& folder, const std::string& relative, QRgb colour);
// The colour at the middle of a picture (0 when it shows none).
QRgb Middle(const QImage& image);
// Whether two colours are the same within JPEG's loss.
bool Near(QRgb a, QRgb b);

// A left-button click on the widget's middle, as a touch delivers it.
void Click(QWidget* widget);

// The shown text of a label or an edit box.
std::string Utf8(const QString& text);

// The seven song rows' texts as they hold them (GBK; "" for an empty row).
std::vector<std::string> RowTexts(const MainWindow& window);

// Where the window's data module connects: real server sessions in this
// process with a recording server object, or the quorvod-server program.
enum class ServerKind { kRecordingPeer, kProgram };

class ScreenFixture {
 public:
  // Writes the catalogue, starts the server, attaches a data module to a new
  // window and shows it (the window connects and opens its datasets).
  ScreenFixture(const std::vector<CatalogueSinger>& singers,
                const std::vector<CatalogueSong>& songs,
                ServerKind kind = ServerKind::kRecordingPeer);
  ~ScreenFixture();

  MainWindow& Window() { return *window_; }
  // The recording peer (ServerKind::kRecordingPeer only).
  data::test::RecordingPeer& Peer() { return *peer_; }
  // The statements the server received for one provider, in order (UTF-8),
  // from the recording peer or from the program's request log.
  std::vector<std::string> Statements(const std::string& provider);
  RecordingNotifier& Notifier() { return notifier_; }
  const std::string& ProgramFolder() const { return folder_; }
  // The server goes away (its sessions end); later queries fail.
  void StopServer();
  // The fallback picture as the window loads it.
  QImage Fallback() const;
  // The decoder the window's player sends through (the sim driver).
  player::Decoder& Decoder() { return decoder_; }
  // The decoder requests so far, in order (the sim driver's log).
  std::vector<quor::testing::LogLine> DecoderRequests() const;

 private:
  std::string folder_;
  RecordingShell shell_;
  RecordingNotifier notifier_;
  player::Decoder decoder_;
  std::unique_ptr<QtMessageLoop> loop_;
  std::unique_ptr<data::test::RecordingPeer> peer_;
  std::unique_ptr<data::test::ServerProcess> program_;
  std::unique_ptr<data::DataModule> dm_;
  std::unique_ptr<MainWindow> window_;
};

}  // namespace quor::ui::test
