// Checks the pictures against the places the window lays its controls at and
// against the contract of the resource build: names, sizes, formats, bytes.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLibraryInfo>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <algorithm>
#include <cmath>
#include <map>

#include "Layout.h"
#include "Output.h"
#include "Pictures.h"

namespace quor::tools {
namespace {

QGuiApplication& App() {
  static int argc = 1;
  static char name[] = "assets_test";
  static char* argv[] = {name, nullptr};
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static QGuiApplication app(argc, argv);
  return app;
}

// Rendering takes a while under the sanitizers: render once for all cases.
const std::map<QString, QByteArray>& Files() {
  static const std::map<QString, QByteArray> files = [] {
    App();
    std::map<QString, QByteArray> m;
    for (const AssetFile& f : RenderAssets()) m.emplace(f.name, f.bytes);
    return m;
  }();
  return files;
}

QImage Decode(const QString& name) {
  const auto it = Files().find(name);
  if (it == Files().end()) return {};
  return QImage::fromData(it->second);
}

QString NameOf(const ButtonFace& b) {
  return QString::fromLatin1(b.name.data(), static_cast<int>(b.name.size())) +
         QStringLiteral(".bmp");
}

// Relative luminance (0 black .. 1 white) of an sRGB colour.
double Luminance(QRgb c) {
  auto lin = [](int v) {
    const double s = v / 255.0;
    return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * lin(qRed(c)) + 0.7152 * lin(qGreen(c)) + 0.0722 * lin(qBlue(c));
}

double MeanLuminance(const QImage& img, const Rect& r) {
  double sum = 0;
  for (int y = r.y; y < r.y + r.h; ++y)
    for (int x = r.x; x < r.x + r.w; ++x) sum += Luminance(img.pixel(x, y));
  return sum / (r.w * r.h);
}

TEST(Assets, EnvironmentHasFontAndJpegWriter) {
  App();
  EXPECT_EQ(CheckEnvironment(), QString());
}

TEST(Assets, EveryContractFileHasItsFormatAndSize) {
  struct Expect {
    QString name;
    QByteArray magic;
    QSize size;
  };
  std::vector<Expect> expected = {
      {"bg.jpg", "\xFF\xD8\xFF", {800, 600}},
      {"numpad.jpg", "\xFF\xD8\xFF", {250, 148}},
      {"pypad.jpg", "\xFF\xD8\xFF", {250, 148}},
      {"NONAME.BMP", "BM", {113, 153}},
  };
  for (const ButtonFace& b : kButtons)
    expected.push_back({NameOf(b), "BM", IsMenuButton(b) ? QSize(120, 49) : QSize(68, 40)});
  for (const Expect& e : expected) {
    SCOPED_TRACE(e.name.toStdString());
    const auto it = Files().find(e.name);
    ASSERT_NE(it, Files().end());
    EXPECT_TRUE(it->second.startsWith(e.magic));
    EXPECT_EQ(QImage::fromData(it->second).size(), e.size);
  }
  // The pictures, the resource list, nothing else.
  EXPECT_EQ(Files().size(), expected.size() + 1);
}

TEST(Assets, ButtonTableCoversEveryGlyphButtonOnce) {
  QSet<QString> names;
  for (const ButtonFace& b : kButtons) names.insert(NameOf(b));
  EXPECT_EQ(names.size(), 43);
  for (const char* n :
       {"selectBitBtn6.bmp", "controlBitBtn8.bmp", "songtypeBitBtn8.bmp", "LanguageBitBtn5.bmp",
        "singerBitBtn3.bmp", "jsBitBtn5.bmp", "photoprevBitBtn1.bmp", "photonextBitBtn2.bmp",
        "songlistprevBitBtn1.bmp", "songlistnextBitBtn2.bmp", "selectedsongBitBtn1.bmp",
        "selectedsongBitBtn2.bmp", "PYselBitBtn.bmp", "BMselBitBtn.bmp"})
    EXPECT_TRUE(names.contains(QString::fromLatin1(n))) << n;
}

TEST(Assets, ResourceListNamesEveryPictureUnderAssets) {
  const auto it = Files().find(QString::fromLatin1(kResourceList));
  ASSERT_NE(it, Files().end());
  QXmlStreamReader xml(it->second);
  QSet<QString> listed;
  QString prefix;
  while (!xml.atEnd()) {
    xml.readNext();
    if (xml.isStartElement() && xml.name() == QLatin1String("qresource"))
      prefix = xml.attributes().value(QLatin1String("prefix")).toString();
    if (xml.isStartElement() && xml.name() == QLatin1String("file"))
      listed.insert(xml.readElementText());
  }
  ASSERT_FALSE(xml.hasError()) << xml.errorString().toStdString();
  EXPECT_EQ(prefix, QStringLiteral("/assets"));
  QSet<QString> pictures;
  for (const auto& [name, bytes] : Files())
    if (name != QLatin1String(kResourceList)) pictures.insert(name);
  EXPECT_EQ(listed, pictures);
}

TEST(Assets, RenderingIsByteForByteRepeatable) {
  const std::vector<AssetFile> again = RenderAssets();
  ASSERT_EQ(again.size(), Files().size());
  for (const AssetFile& f : again) EXPECT_EQ(f.bytes, Files().at(f.name)) << f.name.toStdString();
}

// White bold text must read over every place the window draws it: the
// background there stays dark enough for a contrast of at least 7:1.
TEST(Assets, TextPlacesStayDarkUnderWhiteText) {
  const QImage bg = Decode(QStringLiteral("bg.jpg"));
  ASSERT_FALSE(bg.isNull());
  std::vector<Rect> places = {kStatusLine};
  for (int i = 0; i < kSongRows; ++i)
    places.push_back(
        {kSongRowFirst.x, kSongRowFirst.y + i * kSongRowStep, kSongRowFirst.w, kSongRowFirst.h});
  for (const Rect& r : kPhotoNamePlaces) places.push_back(r);
  const double maxForContrast = 1.05 / 7.0 - 0.05;
  for (const Rect& r : places) {
    double worst = 0;
    for (int y = r.y; y < r.y + r.h; ++y)
      for (int x = r.x; x < r.x + r.w; ++x) worst = std::max(worst, Luminance(bg.pixel(x, y)));
    EXPECT_LT(worst, maxForContrast) << "at " << r.x << "," << r.y;
  }
}

// The click areas are placed in the 252x150 panel; the picture sits at 1,1
// in it, so every drawn key lies one pixel up and left of its panel place.
TEST(Assets, PadPlacesAreThePanelPlacesShiftedByThePictureOffset) {
  const Rect panelKeys[10] = {
      {11, 13, 35, 36}, {59, 13, 35, 36}, {108, 13, 35, 36}, {156, 13, 35, 36}, {204, 13, 35, 36},
      {12, 65, 35, 36}, {61, 65, 35, 36}, {109, 65, 35, 36}, {157, 66, 35, 36}, {205, 65, 35, 36}};
  auto shifted = [](const Rect& r) { return Rect{r.x - 1, r.y - 1, r.w, r.h}; };
  auto same = [](const Rect& a, const Rect& b) {
    return a.x == b.x && a.y == b.y && a.w == b.w && a.h == b.h;
  };
  for (int i = 0; i < 10; ++i) EXPECT_TRUE(same(kPadKeys[i], shifted(panelKeys[i]))) << i;
  EXPECT_TRUE(same(kPadDelNum, shifted({211, 117, 24, 25})));
  EXPECT_TRUE(same(kPadDelLetter, shifted({177, 116, 25, 25})));
  EXPECT_TRUE(same(kPadNumEdit, shifted({101, 115, 82, 27})));
  EXPECT_TRUE(same(kPadLetterEdit, shifted({56, 115, 117, 27})));
}

// The keys are drawn where the transparent click areas lie: a key's middle is
// clearly lighter than the plate just outside its edges, and the input box
// under the keys is black where the edit box lies.
TEST(Assets, KeypadKeysLieOnTheClickAreas) {
  for (const char* name : {"numpad.jpg", "pypad.jpg"}) {
    SCOPED_TRACE(name);
    const QImage pad = Decode(QString::fromLatin1(name));
    ASSERT_EQ(pad.size(), QSize(kPadW, kPadH));
    for (const Rect& k : kPadKeys) {
      const double inside = MeanLuminance(pad, {k.x + 3, k.y + 3, k.w - 6, k.h - 6});
      const double left = MeanLuminance(pad, {k.x - 4, k.y + 4, 3, k.h - 8});
      const double below = MeanLuminance(pad, {k.x + 4, k.y + k.h + 2, k.w - 8, 2});
      EXPECT_GT(inside, 2.5 * left) << "key at " << k.x << "," << k.y;
      EXPECT_GT(inside, 2.5 * below) << "key at " << k.x << "," << k.y;
    }
    const Rect edit =
        QLatin1String(name) == QLatin1String("numpad.jpg") ? kPadNumEdit : kPadLetterEdit;
    EXPECT_LT(MeanLuminance(pad, {edit.x + 2, edit.y + 2, edit.w - 4, edit.h - 4}), 0.004);
  }
}

TEST(Assets, KeypadFunctionKeysHaveTheirColours) {
  auto meanColour = [](const QImage& img, const Rect& r) {
    long red = 0, green = 0;
    // The key's left rim column, beside its white pictogram.
    for (int y = r.y + 4; y < r.y + r.h - 4; ++y)
      for (int x = r.x + 2; x < r.x + 4; ++x) {
        red += qRed(img.pixel(x, y));
        green += qGreen(img.pixel(x, y));
      }
    return std::pair{red, green};
  };
  const QImage numbers = Decode(QStringLiteral("numpad.jpg"));
  const QImage letters = Decode(QStringLiteral("pypad.jpg"));
  auto [r1, g1] = meanColour(numbers, kPadDelNum);  // delete: red
  EXPECT_GT(r1, 3 * g1 / 2);
  auto [r2, g2] = meanColour(letters, kPadDelLetter);  // delete: red
  EXPECT_GT(r2, 3 * g2 / 2);
  auto [r3, g3] = meanColour(letters, kPadDelNum);  // search: green
  EXPECT_GT(g3, 3 * r3 / 2);
}

// The corners the rounded mask leaves are the background at the button's
// place, so the glyph sits seamlessly on the panels.
TEST(Assets, GlyphCornersAreTheBackgroundUnderTheButton) {
  App();
  const QImage bg = DrawBackground();
  for (const ButtonFace& b : kButtons) {
    SCOPED_TRACE(std::string(b.name));
    const QImage glyph = DrawGlyph(b, bg);
    const int shiftY = b.place.h < glyph.height() - 1 ? (glyph.height() - b.place.h) / 2 : 0;
    EXPECT_EQ(glyph.pixel(0, 0), bg.pixel(b.place.x, b.place.y - shiftY));
    EXPECT_EQ(glyph.pixel(glyph.width() - 1, 0),
              bg.pixel(b.place.x + glyph.width() - 1, b.place.y - shiftY));
  }
}

bool NearWhite(QRgb c) {
  return qRed(c) > 235 && qGreen(c) > 235 && qBlue(c) > 235;
}

// Every face carries its word: a glyph without text (a missing font, a face
// drawn off the key) has next to no near-white pixels.
TEST(Assets, EveryGlyphShowsWhiteFaceText) {
  for (const ButtonFace& b : kButtons) {
    const QImage glyph = Decode(NameOf(b));
    int white = 0;
    for (int y = 0; y < glyph.height(); ++y)
      for (int x = 0; x < glyph.width(); ++x) {
        const QRgb c = glyph.pixel(x, y);
        if (NearWhite(c)) ++white;
      }
    EXPECT_GT(white, 40) << b.name;
  }
}

// The key fills its button, so the rounded mask shows only its own corners,
// and the face text stays on the key: no white text pixel in the outer
// two-pixel band. The 37-pixel page buttons show the glyph one row higher, so
// their key keeps clear of the rows that are cut off.
TEST(Assets, KeyFillsItsButtonAndTextStaysOnTheKey) {
  App();
  const QImage bg = DrawBackground();
  for (const ButtonFace& b : kButtons) {
    SCOPED_TRACE(std::string(b.name));
    const QImage glyph = DrawGlyph(b, bg);
    const int shiftY = b.place.h < glyph.height() - 1 ? (glyph.height() - b.place.h) / 2 : 0;
    const int top = shiftY;
    const int bottom = shiftY + b.place.h - 1;  // last row shown on the button
    const int midY = (top + bottom) / 2;
    auto bgAt = [&](int x, int y) { return bg.pixel(b.place.x + x, b.place.y - shiftY + y); };
    EXPECT_NE(glyph.pixel(1, midY), bgAt(1, midY));
    EXPECT_NE(glyph.pixel(b.place.w - 2, midY), bgAt(b.place.w - 2, midY));
    EXPECT_NE(glyph.pixel(glyph.width() / 2, top + 1), bgAt(glyph.width() / 2, top + 1));
    EXPECT_NE(glyph.pixel(glyph.width() / 2, bottom - 1), bgAt(glyph.width() / 2, bottom - 1));
    for (int y = 0; y < glyph.height(); ++y)
      for (int x = 0; x < glyph.width(); ++x) {
        const bool band = x < 2 || x >= b.place.w - 2 || y < top + 2 || y > bottom - 2;
        if (band && NearWhite(glyph.pixel(x, y))) ADD_FAILURE() << "text at " << x << "," << y;
      }
  }
}

// Each function has its own face: glyphs of buttons with different words
// differ in their middle, where the word is drawn.
TEST(Assets, ButtonsWithDifferentWordsLookDifferent) {
  auto middle = [](const QImage& g) { return g.copy(8, 6, g.width() - 16, g.height() - 12); };
  for (size_t i = 0; i < kButtons.size(); ++i)
    for (size_t j = i + 1; j < kButtons.size(); ++j) {
      const ButtonFace& a = kButtons[i];
      const ButtonFace& b = kButtons[j];
      if (a.text == b.text && a.family == b.family) continue;
      EXPECT_NE(middle(Decode(NameOf(a))), middle(Decode(NameOf(b))))
          << a.name << " and " << b.name;
    }
}

// The ten keys of a pad carry ten different faces, and the letter pad's keys
// differ from the number pad's.
TEST(Assets, KeypadKeysCarryDistinctFaces) {
  const QImage numbers = Decode(QStringLiteral("numpad.jpg"));
  const QImage letters = Decode(QStringLiteral("pypad.jpg"));
  auto face = [](const QImage& pad, const Rect& k) {
    return pad.copy(k.x + 3, k.y + 3, k.w - 6, k.h - 6);
  };
  auto distance = [](const QImage& a, const QImage& b) {
    long sum = 0;
    for (int y = 0; y < a.height(); ++y)
      for (int x = 0; x < a.width(); ++x)
        sum += std::abs(qGray(a.pixel(x, y)) - qGray(b.pixel(x, y)));
    return sum / (a.width() * a.height());
  };
  for (size_t i = 0; i < kPadKeys.size(); ++i) {
    EXPECT_GT(distance(face(numbers, kPadKeys[i]), face(letters, kPadKeys[i])), 6) << i;
    for (size_t j = i + 1; j < kPadKeys.size(); ++j) {
      EXPECT_GT(distance(face(numbers, kPadKeys[i]), face(numbers, kPadKeys[j])), 4) << i << j;
      EXPECT_GT(distance(face(letters, kPadKeys[i]), face(letters, kPadKeys[j])), 4) << i << j;
    }
  }
}

// The fallback photo: a lighter figure in the middle of a darker ground, and
// its caption in the band under it.
TEST(Assets, NoPhotoShowsAFigureAndItsCaption) {
  const QImage photo = Decode(QStringLiteral("NONAME.BMP"));
  ASSERT_EQ(photo.size(), QSize(kPhotoW, kPhotoH));
  const double head = MeanLuminance(photo, {kPhotoW / 2 - 8, 44, 16, 16});
  const double corner = MeanLuminance(photo, {4, 4, 12, 12});
  EXPECT_GT(head, 2 * corner);
  int captionWhite = 0;
  for (int y = 126; y < kPhotoH - 2; ++y)
    for (int x = 0; x < kPhotoW; ++x) captionWhite += qGray(photo.pixel(x, y)) > 200;
  EXPECT_GT(captionWhite, 60);
}

TEST(Assets, WritesIntoANewFolderAndReportsAnUnwritableOne) {
  QTemporaryDir tmp;
  ASSERT_TRUE(tmp.isValid());
  const QString dir = tmp.filePath(QStringLiteral("a/b"));
  std::vector<AssetFile> files = {{QStringLiteral("x.bin"), QByteArray("12345")}};
  EXPECT_EQ(WriteAssets(dir, files), QString());
  QFile written(QDir(dir).filePath(QStringLiteral("x.bin")));
  ASSERT_TRUE(written.open(QIODevice::ReadOnly));
  EXPECT_EQ(written.readAll(), QByteArray("12345"));

  QFile plain(tmp.filePath(QStringLiteral("plain")));
  ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
  plain.close();
  const QString under = WriteAssets(tmp.filePath(QStringLiteral("plain/sub")), files);
  EXPECT_TRUE(under.startsWith(QStringLiteral("cannot create the folder ")) &&
              under.endsWith(QStringLiteral("plain/sub")))
      << under.toStdString();
  const QString onFile = WriteAssets(tmp.filePath(QStringLiteral("plain")), files);
  EXPECT_TRUE(onFile.endsWith(QStringLiteral("plain exists and is not a folder")))
      << onFile.toStdString();
}

QString Tool() {
  return QDir(qEnvironmentVariable("QUOR_BIN_DIR")).filePath(QStringLiteral("quorvod-make-assets"));
}

TEST(AssetsTool, WritesTheContractFilesAndFailsClearly) {
  App();
  if (!QFile::exists(Tool())) GTEST_SKIP() << "tool not built beside the tests";
  QTemporaryDir tmp;
  QProcess run;
  run.start(Tool(), {tmp.filePath(QStringLiteral("out"))});
  ASSERT_TRUE(run.waitForFinished(60000));
  EXPECT_EQ(run.exitCode(), 0) << run.readAllStandardError().toStdString();
  for (const auto& [name, bytes] : Files()) {
    QFile f(tmp.filePath(QStringLiteral("out/") + name));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << name.toStdString();
    EXPECT_EQ(f.readAll(), bytes) << name.toStdString();
  }

  // The resource compiler accepts the list and finds every file it names.
  const QString rcc =
      QLibraryInfo::path(QLibraryInfo::LibraryExecutablesPath) + QStringLiteral("/rcc");
  if (QFile::exists(rcc)) {
    QProcess list;
    list.start(rcc, {QStringLiteral("--list"), tmp.filePath(QStringLiteral("out/assets.qrc"))});
    ASSERT_TRUE(list.waitForFinished(60000));
    EXPECT_EQ(list.exitCode(), 0) << list.readAllStandardError().toStdString();
    const QByteArray listed = list.readAllStandardOutput();
    EXPECT_EQ(listed.count('\n'), static_cast<qsizetype>(Files().size() - 1));
    EXPECT_TRUE(listed.contains("NONAME.BMP"));
  }

  QProcess usage;
  usage.start(Tool(), {});
  ASSERT_TRUE(usage.waitForFinished(60000));
  EXPECT_EQ(usage.exitCode(), 2);
  EXPECT_TRUE(usage.readAllStandardError().contains("usage: quorvod-make-assets <outdir>"));

  QFile plain(tmp.filePath(QStringLiteral("plain")));
  ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
  plain.close();
  QProcess blocked;
  blocked.start(Tool(), {tmp.filePath(QStringLiteral("plain/out"))});
  ASSERT_TRUE(blocked.waitForFinished(60000));
  EXPECT_EQ(blocked.exitCode(), 1);
  EXPECT_TRUE(blocked.readAllStandardError().contains("quorvod-make-assets: cannot create"));
}

}  // namespace
}  // namespace quor::tools
